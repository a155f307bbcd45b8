#include "net/Url.h"

#include <strings.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

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

bool Url::Parse(const CStr& given, UrlProblem* problem) {
  // Compiled once per thread; its submatches are read before the next use.
  static thread_local Regexp pattern(kUrlPattern, 1);
  CStr url = given;
  // Only the last slash is examined: without one, with it in first place, or
  // right after another slash ("http://host"), the URL has no path yet.
  int last = url.ReverseFind('/');
  if (last <= 0 || url[last - 1] == '/') url += "/";
  errno = 0;
  if (!pattern.Match(url)) {
    problem->systemError = errno;
    problem->message.Format("Bad URL '%s'", static_cast<const char*>(url));
    return false;
  }
  text = given;
  host = pattern[2];
  port = ReadPort(pattern[3]);
  dir = pattern[4];
  file = pattern[5];
  if (port == 0) port = 80;
  return true;
}

bool Url::Resolve(const CStr& pageText, const CStr& link, CStr* resolved, UrlProblem* problem) {
  if (strncasecmp(link, "http://", 7) == 0) {
    *resolved = link;
    return true;
  }
  Url page;
  UrlProblem ignored;
  page.Parse(pageText, &ignored);
  // The page URL is itself bounded and a link is one line at most, so the
  // result fits in a string whatever the inputs; only then is it measured.
  CStr result;
  if (link[0] == '/') {
    result.Format("%s:%d%s", static_cast<const char*>(page.host), page.port,
                  static_cast<const char*>(link));
  } else {
    result.Format("%s:%d/%s%s%s", static_cast<const char*>(page.host), page.port,
                  static_cast<const char*>(page.dir), page.dir.IsEmpty() ? "" : "/",
                  static_cast<const char*>(link));
  }
  if (result.Length() > kMaxUrlLength) {
    problem->systemError = 0;
    problem->message.Format("URL too long (%u characters): %.60s...", result.Length(),
                            static_cast<const char*>(result));
    return false;
  }
  *resolved = result;
  return true;
}
