#include "app/Download.h"

#include <cstring>

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

BodySave::BodySave(CrawlContext& crawl, const Url& url)
    : crawl(crawl), url(url.Text()), path(SavePath(url, crawl.options.create != 0)) {
  writing = out.Open(path);
}

bool BodySave::Write(const char* data, size_t length) {
  writing = writing && out.Write(data, length);
  return writing;
}

int BodySave::Finish(const ResponseBody* body) {
  Reporter& reporter = crawl.reporter;
  // A save the stop cut short is dropped without a word: the temporary file
  // goes with out.
  if (StopReason() != 0) return -1;
  if (!writing) {
    ReportSaveFailure(reporter, path, out);
    return 0;
  }
  if (body != nullptr && !ArrivedWhole(crawl, *body)) return 0;
  if (!out.Commit()) {
    if (StopReason() != 0) return -1;
    ReportSaveFailure(reporter, path, out);
    return 0;
  }
  // Announced only now that it is whole and in place.
  reporter.Saved(url, path);
  return 0;
}

int DownloadUrl(CrawlContext& crawl, const Url& requested, Url* answered) {
  FetchOutcome response = RequestPage(crawl, requested, Purpose::kSave);
  if (!response.body) return -1;
  if (answered != nullptr) *answered = response.url;  // after any redirects
  BodySave save(crawl, response.url);
  if (save.Writing()) {
    CopyRest(*response.body, [&save](std::string_view piece) { return save.Write(piece); },
             [&crawl](size_t n) { crawl.reporter.BodyBytes(n); });
  }
  return save.Finish(response.body.get());
}

int SaveHeld(CrawlContext& crawl, const Url& url, const HeldBody& held) {
  if (!held.Whole()) return DownloadUrl(crawl, url);
  // A run that is stopping asks for nothing more, so saves nothing more.
  if (StopReason() != 0) return -1;
  crawl.reporter.Exchanged(1, true);
  BodySave save(crawl, url);
  if (save.Writing()) {
    held.WriteTo([&save](const char* data, size_t length) { return save.Write(data, length); });
  }
  return save.Finish(nullptr);
}
