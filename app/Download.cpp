#include "app/Download.h"

#include <cerrno>
#include <cstring>
#include <iostream>
#include <memory>

#include "app/Progress.h"
#include "app/Report.h"
#include "app/Request.h"
#include "app/SaveFile.h"
#include "app/Settings.h"
#include "app/Stop.h"
#include "net/Url.h"

namespace {

bool IsDotSegment(const char* segment, size_t length) {
  return length == 0 || (length == 1 && segment[0] == '.') ||
         (length == 2 && segment[0] == '.' && segment[1] == '.');
}

// The URL has answered a request, so it parses.
CStr SavePath(const CStr& text) {
  Url url;
  UrlProblem ignored;
  url.Parse(text, &ignored);
  CStr file = url.File().IsEmpty() ? CStr("index.html") : url.File();
  if (!runSettings.create) return file;
  CStr safeDir = ConfinedDirectory(url.Dir());
  if (safeDir.IsEmpty()) return file;
  return safeDir + "/" + file;
}

// Copies the body into the file in blocks through LineBuffer. False when the
// file could not be written (out.Failure() says why); a body cut short is for the
// caller to find out.
bool CopyBody(ResponseBody& response, SaveFile& out) {
  std::iostream& body = response.Stream();
  if (body.eof()) return true;
  while (response.Connected()) {
    body.read(LineBuffer, kLineBufferSize - 1);
    std::streamsize got = body.gcount();
    ProgressBytes(static_cast<size_t>(got));
    if (!out.Write(LineBuffer, static_cast<size_t>(got))) return false;
    // A failed stream that delivers nothing would never reach end of file.
    if (body.eof() || (got == 0 && body.fail())) break;
  }
  return true;
}

void ReportSaveFailure(const CStr& path, const SaveFile& file) {
  ++runSettings.errors;
  ReportFailure(nullptr, "Cannot save %s: %s\n", static_cast<const char*>(path),
                static_cast<const char*>(file.Failure()));
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

int DownloadUrl(CStr requested) {
  FetchOutcome response = RequestPage(requested, nullptr, true);
  if (!response.body) return -1;
  const CStr& url = response.url;  // after any redirects

  CStr savePath = SavePath(url);
  ProgressClear();
  std::cout << "Saving " << static_cast<const char*>(url) << " as "
            << static_cast<const char*>(savePath) << std::endl;

  SaveFile out;
  bool copied = out.Open(savePath) && CopyBody(*response.body, out);
  // A save the stop cut short is dropped without a word: the temporary file
  // goes with out.
  if (StopSignal() != 0) return -1;
  if (!copied) {
    ReportSaveFailure(savePath, out);
    return 0;
  }
  if (!ArrivedWhole(*response.body)) return 0;
  if (!out.Commit()) {
    if (StopSignal() != 0) return -1;
    ReportSaveFailure(savePath, out);
    return 0;
  }
  ++runSettings.saves;
  return 0;
}
