#include "app/Urls.h"

#include <strings.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "app/Report.h"
#include "app/Settings.h"
#include "regex/Regexp.h"

namespace {

// Group 1 scheme, 2 host, 3 port digits, 4 directory, 5 file.
constexpr char kUrlPattern[] = "(http://)?([^:/]*):?([0-9]*)/?(.*)/(.*)";

// atoi's reading of the port digits, kept within int.
int ReadPort(const char* digits) {
  long value = std::strtol(digits, nullptr, 10);
  return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

}  // namespace

int SplitUrl(CStr url, CStr& host, CStr& dir, CStr& file, int& port) {
  Regexp pattern(kUrlPattern, 1);
  // Only the last slash is examined: without one, with it in first place, or
  // right after another slash ("http://host"), the URL has no path yet.
  int last = url.ReverseFind('/');
  if (last <= 0 || url[last - 1] == '/') url += "/";
  errno = 0;
  if (!pattern.Match(url)) {
    int err = errno;
    ++runSettings.errors;
    ReportFailure(SystemErrorText(err), "Bad URL '%s'\n", static_cast<const char*>(url));
    return -1;
  }
  host = pattern[2];
  port = ReadPort(pattern[3]);
  dir = pattern[4];
  file = pattern[5];
  if (port == 0) port = 80;
  return 0;
}

CStr ResolveUrl(CStr pageUrl, CStr link) {
  if (strncasecmp(link, "http://", 7) == 0) return link;
  CStr host, dir, file;
  int port = 80;
  SplitUrl(pageUrl, host, dir, file, port);
  // The page URL is itself bounded and a link is one line at most, so the
  // result fits in a string whatever the inputs; only then is it measured.
  CStr result;
  if (link[0] == '/') {
    result.Format("%s:%d%s", static_cast<const char*>(host), port, static_cast<const char*>(link));
  } else {
    result.Format("%s:%d/%s%s%s", static_cast<const char*>(host), port,
                  static_cast<const char*>(dir), dir.IsEmpty() ? "" : "/",
                  static_cast<const char*>(link));
  }
  if (result.Length() > kMaxUrlLength) {
    ++runSettings.errors;
    ReportFailure(nullptr, "URL too long (%u characters): %.60s...\n", result.Length(),
                  static_cast<const char*>(result));
    return CStr();
  }
  return result;
}

void StripCrLf(char* line) {
  char* out = line;
  for (const char* in = line; *in != '\0'; ++in) {
    if (*in != '\r' && *in != '\n') *out++ = *in;
  }
  *out = '\0';
}
