// CrawlArchive: -warc, every exchange of the crawl in a WARC file.
//
// The crawl's own thread hands over each try of each request as it made or
// replayed it (net/RecordedExchange.h: the request as sent, the answer as
// received, every redirect hop an exchange of its own), so the archive is in
// crawl order whatever -j is. The file begins with a warcinfo record naming
// the software and the command line; every exchange is then a response
// record (when any byte of an answer came) and its request record, written
// together or not at all (net/WarcWriter.h). An answer whose body did not
// arrive whole is marked WARC-Truncated: "time" after a timeout,
// "disconnect" otherwise, "length" where only a part was read on purpose
// (robots.txt past what is parsed).
#ifndef FERRET_APP_ARCHIVE_H_
#define FERRET_APP_ARCHIVE_H_

#include <memory>
#include <string>

#include "app/Options.h"
#include "net/Failure.h"
#include "net/RecordedExchange.h"
#include "net/WarcWriter.h"

class CrawlArchive {
 public:
  // Opens options.warc and writes its warcinfo record. Must be called while
  // the process has no other thread (the writer is forked). Null, with
  // *error, when the file cannot be made (*error empty: the writer said
  // why).
  static std::unique_ptr<CrawlArchive> Open(const Options& options, std::string* error);

  // Archives the exchanges of one try; truncated says why its answer's body
  // is not whole ("time", "disconnect", "length"; "" when it is, or there
  // is none). False once the archive cannot be written (the writer said why
  // on standard error).
  bool Add(const Recordings& tried, const char* truncated);
  // What WARC-Truncated says of a body that ended in failure of kind.
  static const char* TruncationOf(FailureKind kind) {
    return kind == FailureKind::kNone ? "" : kind == FailureKind::kTimedOut ? "time" : "disconnect";
  }
  // Finishes the file and its index; false when something was not written.
  bool Close() { return writer->Close(); }

 private:
  CrawlArchive(std::unique_ptr<WarcWriter> writer, std::string warcinfoId)
      : writer(std::move(writer)), warcinfoId(std::move(warcinfoId)) {}

  std::unique_ptr<WarcWriter> writer;
  const std::string warcinfoId;
};

#endif  // FERRET_APP_ARCHIVE_H_
