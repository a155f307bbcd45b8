// JsonReporter: -json, the output of a crawl for programs.
//
// Standard output carries JSON Lines: one object per event, each with its
// "type", in the order the events happen, which is the order of the human
// output (so -j N writes what -j 1 writes, timings aside). The events, and
// every member they may have, are written down in doc/ferret-events.schema.json:
//   page     an answer the crawl read: url, final_url (after redirects),
//            status, depth, referrer (null for the start URL), content_type,
//            bytes (of body taken in), elapsed_ms, matched (the keyword), and
//            with -show its lines: line, text, offset of text in the line,
//            match (the first match's byte offsets in the line)
//   link     file mode, a link that qualified: url, referrer, and with -html
//            the element and attribute it was read from
//   save     url, path, bytes, sha256 (of the file as saved)
//   error    url, kind, message (the human line), errno (0: none), and
//            status for an HTTP error
//   refused  url passed over unasked; reason confine, robots, scope or once
//   start    -i: a start of the list begins: url, line (of the list), depth
//   outlink  -shard: a link to another shard's host, not asked for: url,
//            shard (its own), depth (it would be scanned at), referrer (null
//            for a start URL)
//   stats    last: every counter, the exit status, the run's wall time
// URLs are absolute. Strings are written by text/JsonString.h: bytes that
// are not UTF-8 become \u00XX escapes of their Latin-1 reading. The human
// text of each error, and every notice, still goes to standard error.
#ifndef FERRET_APP_JSONREPORTER_H_
#define FERRET_APP_JSONREPORTER_H_

#include <chrono>
#include <string>

#include "app/TextReporter.h"

class JsonReporter : public TextReporter {
 public:
  JsonReporter();

  void RequestStarted(const CStr& url) override;
  void BodyBytes(size_t length) override;
  void PageRead(const PageFacts& page) override;
  void LinkFound(const LinkFacts& link) override;
  void StartBegun(const CStr& url, long line, int depth) override;
  void Outlink(const CStr& url, int shard, int depth, const CStr& referrer) override;
  void Ending(int exitStatus) override { status = exitStatus; }
  bool Finish(bool withCounters) override;

 protected:
  void WritePrinted(const CStr& url, const std::vector<ShownLine>& lines) override;
  void WriteSaved(const CStr& url, const CStr& path) override;
  void WriteFailure(const CrawlFailure& failure) override;
  void WriteRefused(const CStr& url, Refusal reason) override;

 private:
  using Clock = std::chrono::steady_clock;
  const Clock::time_point began = Clock::now();
  Clock::time_point requestBegan = began;
  unsigned long long requestBytes = 0;  // body bytes since the last request began
  int status = 0;
};

#endif  // FERRET_APP_JSONREPORTER_H_
