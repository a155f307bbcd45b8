#include "app/Download.h"

#include <cerrno>
#include <cstring>
#include <iostream>
#include <memory>

#include "app/Request.h"
#include "app/SaveFile.h"
#include "app/Stop.h"
#include "net/Url.h"

namespace {

bool IsDotSegment(const char* segment, size_t length) {
  return length == 0 || (length == 1 && segment[0] == '.') ||
         (length == 2 && segment[0] == '.' && segment[1] == '.');
}

// The file a URL is saved as: its last path segment ("index.html" when
// empty), then "?query" when it has one, with any '/' in the query written
// "%2F" so that a query never names a directory; with create, under the
// URL's directory made safe.
CStr SavePath(const Url& url, bool create) {
  const CStr path = url.Path();
  CStr segment = static_cast<const char*>(path) + path.ReverseFind('/') + 1;
  CStr file = segment.IsEmpty() ? CStr("index.html") : segment;
  if (url.HasQuery()) {
    file += '?';
    const CStr query = url.Query();
    for (const char* c = query; *c != '\0'; ++c) {
      if (*c == '/') {
        file += "%2F";
      } else {
        file += *c;
      }
    }
  }
  if (!create) return file;
  CStr safeDir = ConfinedDirectory(url.Dir());
  if (safeDir.IsEmpty()) return file;
  return safeDir + "/" + file;
}

// Copies the body into the file in blocks. False when the file could not be
// written (out.Failure() says why); a body cut short is for the caller to
// find out.
bool CopyBody(ResponseBody& response, SaveFile& out, Reporter& reporter) {
  std::iostream& body = response.Stream();
  if (body.eof()) return true;
  char block[1023];
  while (response.Connected()) {
    body.read(block, sizeof block);
    std::streamsize got = body.gcount();
    reporter.BodyBytes(static_cast<size_t>(got));
    if (!out.Write(block, static_cast<size_t>(got))) return false;
    // A failed stream that delivers nothing would never reach end of file.
    if (body.eof() || (got == 0 && body.fail())) break;
  }
  return true;
}

void ReportSaveFailure(Reporter& reporter, const CStr& path, const SaveFile& file) {
  CrawlFailure failure;
  failure.kind = CrawlFailure::Kind::kSave;
  failure.path = path;
  failure.saveReason = file.Failure();
  reporter.Failed(failure);
}

}  // namespace

CStr ConfinedDirectory(const CStr& dir) {
  CStr safe;
  const char* text = dir;
  const char* end = text + dir.Length();
  for (;;) {
    const char* slash = static_cast<const char*>(std::memchr(text, '/', end - text));
    const char* segmentEnd = slash != nullptr ? slash : end;
    size_t length = static_cast<size_t>(segmentEnd - text);
    if (!IsDotSegment(text, length)) {
      if (!safe.IsEmpty()) safe += '/';
      safe.Append(text, static_cast<unsigned short>(length));
    }
    if (slash == nullptr) break;
    text = slash + 1;
  }
  return safe;
}

int DownloadUrl(CrawlContext& crawl, const Url& requested, Url* answered) {
  FetchOutcome response = RequestPage(crawl, requested, true);
  if (!response.body) return -1;
  const Url& url = response.url;  // after any redirects
  if (answered != nullptr) *answered = url;
  Reporter& reporter = crawl.reporter;

  CStr savePath = SavePath(url, crawl.options.create != 0);
  SaveFile out;
  bool copied = out.Open(savePath) && CopyBody(*response.body, out, reporter);
  // A save the stop cut short is dropped without a word: the temporary file
  // goes with out.
  if (StopReason() != 0) return -1;
  if (!copied) {
    ReportSaveFailure(reporter, savePath, out);
    return 0;
  }
  if (!ArrivedWhole(crawl, *response.body)) return 0;
  if (!out.Commit()) {
    if (StopReason() != 0) return -1;
    ReportSaveFailure(reporter, savePath, out);
    return 0;
  }
  // Announced only now that it is whole and in place.
  reporter.Saved(url.Text(), savePath);
  return 0;
}
