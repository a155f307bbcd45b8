#include "app/TextReporter.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/FailureText.h"
#include "app/Stop.h"

void TextReporter::WriteLine(const CStr& line, const char* reason) {
  if (outputFailed) return;
  progress.Clear();
  std::fwrite(static_cast<const char*>(line), 1, line.Length(), stdout);
  std::fputc('\n', stdout);
  errno = 0;
  // The flush keeps each line ahead of its reason, and of a later progress
  // line; a line that cannot be written (a closed pipe, a full disk) stops
  // the crawl at once: nothing it does from then on could be seen.
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    outputFailed = true;
    outputError = errno;
    RequestStop(kStopOutputFailed);
    return;
  }
  if (reason != nullptr) std::fprintf(stderr, "%s\n", reason);
}

void TextReporter::WritePrinted(const CStr& url) { WriteLine(url, nullptr); }

void TextReporter::WriteSaving(const CStr& url, const CStr& path) {
  CStr line;
  line.Format("Saving %s as %s", static_cast<const char*>(url), static_cast<const char*>(path));
  WriteLine(line, nullptr);
}

void TextReporter::WriteFailure(const CrawlFailure& failure) {
  CStr line;
  switch (failure.kind) {
    case CrawlFailure::Kind::kFetch: {
      FailureLine text = FailureText(failure.fetch);
      WriteLine(text.line, text.reason);
      return;
    }
    case CrawlFailure::Kind::kSave:
      line.Format("Cannot save %s: %s", static_cast<const char*>(failure.path),
                  static_cast<const char*>(failure.saveReason));
      break;
    case CrawlFailure::Kind::kTooManyLinks:
      line.Format("Too many links on %s: only the first %u are kept",
                  static_cast<const char*>(failure.url), static_cast<unsigned>(failure.count));
      break;
    case CrawlFailure::Kind::kTooManyPending:
      line.Format("Too many pending links: past %u, links are dropped (first on %s)",
                  static_cast<unsigned>(failure.count), static_cast<const char*>(failure.url));
      break;
  }
  WriteLine(line, nullptr);
}

CStr TextReporter::CountersLine(const Counters& c) {
  CStr line;
  line.Format("Saves(%d) Prints(%d) Hits(%d) HTTP 200(%d%%) Errors(%d)", c.saves, c.prints, c.hits,
              static_cast<int>(c.Percent200()), c.errors);
  return line;
}

bool TextReporter::Finish(bool withCounters) {
  if (withCounters) WriteLine(CountersLine(Counts()), nullptr);
  progress.Clear();
  errno = 0;
  if (!outputFailed && (std::fflush(stdout) != 0 || std::ferror(stdout))) {
    outputFailed = true;
    outputError = errno;
  }
  if (!outputFailed) return true;
  int error = outputError;
  std::fprintf(stderr, "ferret: cannot write standard output%s%s\n", error != 0 ? ": " : "",
               error != 0 ? std::strerror(error) : "");
  return false;
}
