#include "net/Url.h"

#include <arpa/inet.h>
#include <strings.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "regex/Regexp.h"

namespace {

// Group 1 scheme, 2 host, 3 port digits, 4 directory, 5 file.
constexpr char kUrlPattern[] = "(https?://)?([^:/]*):?([0-9]*)/?(.*)/(.*)";

constexpr int kHttpPort = 80;
constexpr int kHttpsPort = 443;
constexpr int kMaxPort = 65535;

bool StartsWithNoCase(const char* text, const char* prefix) {
  return strncasecmp(text, prefix, std::strlen(prefix)) == 0;
}

// text up to its first '#': a fragment names a place in a page, never a
// resource to ask for.
CStr WithoutFragment(const CStr& text) {
  int hash = -1;
  for (unsigned i = 0; i < text.Length(); ++i) {
    if (text[i] == '#') {
      hash = static_cast<int>(i);
      break;
    }
  }
  if (hash < 0) return text;
  CStr kept;
  kept.Append(text, static_cast<unsigned short>(hash));
  return kept;
}

// atoi's reading of the port digits, kept within int.
int ReadPort(const char* digits) {
  long value = std::strtol(digits, nullptr, 10);
  return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

// url without a "user:password@" in front of its host: the host is what
// follows the last '@' before the path, and credentials are never sent.
CStr WithoutUserInfo(const CStr& url) {
  const char* text = url;
  unsigned start = 0;
  if (StartsWithNoCase(text, "http://")) start = 7;
  if (StartsWithNoCase(text, "https://")) start = 8;
  int at = -1;
  for (unsigned i = start; i < url.Length() && text[i] != '/'; ++i) {
    if (text[i] == '@') at = static_cast<int>(i);
  }
  if (at < 0) return url;
  CStr kept;
  kept.Append(text, static_cast<unsigned short>(start));
  kept += text + at + 1;
  return kept;
}

}  // namespace

bool Url::IsAbsolute(const char* link) {
  return StartsWithNoCase(link, "http://") || StartsWithNoCase(link, "https://");
}

bool Url::HasOtherScheme(const char* link) {
  // A scheme is a letter, then letters, digits, '+', '-' or '.', then ':'.
  if (!std::isalpha(static_cast<unsigned char>(link[0]))) return false;
  const char* p = link + 1;
  while (std::isalnum(static_cast<unsigned char>(*p)) || *p == '+' || *p == '-' || *p == '.') ++p;
  if (*p != ':') return false;
  return !IsAbsolute(link);
}

bool Url::IsIpAddress(const char* host) {
  unsigned char address[16];
  return inet_pton(AF_INET, host, address) == 1 || inet_pton(AF_INET6, host, address) == 1;
}

CStr Url::EscapeControls(const CStr& text) {
  CStr escaped;
  for (unsigned i = 0; i < text.Length(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x21 || c == 0x7F) {
      static const char kHex[] = "0123456789ABCDEF";
      escaped += '%';
      escaped += kHex[c >> 4];
      escaped += kHex[c & 15];
    } else {
      escaped += static_cast<char>(c);
    }
  }
  return escaped;
}

bool Url::Parse(const CStr& given, UrlProblem* problem) {
  // Compiled once per thread; its submatches are read before the next use.
  static thread_local Regexp pattern(kUrlPattern, 1);
  CStr url = WithoutUserInfo(WithoutFragment(given));
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
  secure = pattern.SubLength(1) == 8;  // "https://"
  host = pattern[2];
  port = ReadPort(pattern[3]);
  dir = pattern[4];
  file = pattern[5];
  bool noPort = pattern.SubLength(3) == 0;
  if (noPort) port = DefaultPort();
  if (port < 1 || port > kMaxPort) {
    problem->systemError = 0;
    problem->message.Format("Bad URL '%s'", static_cast<const char*>(given));
    return false;
  }
  return true;
}

std::string Url::Key() const {
  std::string key = secure ? "https://" : "http://";
  for (const char* c = host; *c != '\0'; ++c) {
    key += static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
  }
  key += ":" + std::to_string(port);
  // The path's segments, with "." dropped and ".." taking back the one before.
  std::string path = std::string(dir) + "/" + std::string(file);
  std::vector<std::string> kept;
  size_t start = 0;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    std::string segment = path.substr(start, slash - start);
    bool last = slash == path.size();
    if (segment == "..") {
      if (!kept.empty()) kept.pop_back();
      if (last) kept.emplace_back();
    } else if (segment == ".") {
      if (last) kept.emplace_back();
    } else if (!segment.empty() || last) {
      kept.push_back(segment);
    }
    start = slash + 1;
  }
  for (const std::string& segment : kept) key += "/" + segment;
  return key;
}

int Url::DefaultPort() const { return secure ? kHttpsPort : kHttpPort; }

bool Url::Resolve(const CStr& pageText, const CStr& given, CStr* resolved, UrlProblem* problem) {
  if (given[0] == '#') {  // only a fragment: the page itself
    *resolved = WithoutFragment(pageText);
    return true;
  }
  CStr link = WithoutFragment(given);
  if (IsAbsolute(link)) {
    *resolved = link;
    return true;
  }
  Url page;
  UrlProblem ignored;
  page.Parse(pageText, &ignored);
  const char* scheme = page.secure ? "https://" : "";
  // The page URL is itself bounded and a link is one line at most, so the
  // result fits in a string whatever the inputs; only then is it measured.
  CStr result;
  if (link[0] == '/' && link[1] == '/') {  // another host, the page's scheme
    result.Format("%s%s", page.secure ? "https:" : "http:", static_cast<const char*>(link));
  } else if (link[0] == '/') {
    result.Format("%s%s:%d%s", scheme, static_cast<const char*>(page.host), page.port,
                  static_cast<const char*>(link));
  } else {
    result.Format("%s%s:%d/%s%s%s", scheme, static_cast<const char*>(page.host), page.port,
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
