#include "net/Url.h"

#include <arpa/inet.h>
#include <strings.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr int kHttpPort = 80;
constexpr int kHttpsPort = 443;
constexpr int kMaxPort = 65535;

bool StartsWithNoCase(const char* text, const char* prefix) {
  return strncasecmp(text, prefix, std::strlen(prefix)) == 0;
}

// The bytes of text from offset begin up to offset end.
CStr Piece(const char* text, size_t begin, size_t end) {
  CStr piece;
  piece.Append(text + begin, static_cast<unsigned short>(end - begin));
  return piece;
}

// The offset of the first byte of text at or after from that is one of
// stops, or of the terminating NUL.
size_t SpanTo(const char* text, size_t from, const char* stops) {
  return from + std::strcspn(text + from, stops);
}

// text up to its first '#'.
CStr WithoutFragment(const CStr& text) {
  size_t end = SpanTo(text, 0, "#");
  return end == text.Length() ? text : Piece(text, 0, end);
}

// The port an authority's port text names: the default when it is empty,
// -1 unless it is digits only. Digits beyond int read as INT_MAX, which the
// range check then refuses.
int ReadPort(const char* digits, size_t length, int defaultPort) {
  if (length == 0) return defaultPort;
  for (size_t i = 0; i < length; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(digits[i]))) return -1;
  }
  long value = std::strtol(digits, nullptr, 10);
  return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

// Splits an authority (the bytes between the scheme and the path) into host
// and port: what follows its last '@' is "host[:port]" or "[ipv6][:port]".
// False when the brackets are not closed or are followed by anything but a
// port, or the port is not a number from 1 to 65535.
bool SplitAuthority(const char* authority, size_t length, int defaultPort, CStr* host, int* port) {
  for (size_t i = length; i > 0; --i) {
    if (authority[i - 1] == '@') {
      authority += i;
      length -= i;
      break;
    }
  }
  size_t hostEnd;    // one past the host's last byte
  size_t portStart;  // the ':' before the port, or length
  if (length > 0 && authority[0] == '[') {
    const void* close = std::memchr(authority, ']', length);
    if (close == nullptr) return false;
    hostEnd = static_cast<size_t>(static_cast<const char*>(close) - authority);
    portStart = hostEnd + 1;
    if (portStart < length && authority[portStart] != ':') return false;
    *host = Piece(authority, 1, hostEnd);
  } else {
    const void* colon = std::memchr(authority, ':', length);
    hostEnd = colon == nullptr ? length
                               : static_cast<size_t>(static_cast<const char*>(colon) - authority);
    portStart = hostEnd;
    *host = Piece(authority, 0, hostEnd);
  }
  size_t digits = portStart < length ? portStart + 1 : length;
  *port = ReadPort(authority + digits, length - digits, defaultPort);
  return *port >= 1 && *port <= kMaxPort;
}

// Whether path may hold an empty or a dot segment: "/." and "//" find every
// such segment, and some that are not ("/.hidden").
bool HasSegmentsToResolve(const char* path) {
  return std::strstr(path, "//") != nullptr || std::strstr(path, "/.") != nullptr;
}

// The path's segments with "." dropped, ".." taking back the one before and
// empty ones dropped, each with its leading '/'; a last segment that is a
// dot segment or empty leaves a trailing '/'.
std::string ResolvedSegments(const std::string& path) {
  // Without such segments there is nothing to resolve (the usual path).
  if (!HasSegmentsToResolve(path.c_str())) return path;
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
  std::string resolved;
  for (const std::string& segment : kept) resolved += "/" + segment;
  return resolved;
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
  const char* s = text;
  unsigned clean = 0;
  while (clean < text.Length() && static_cast<unsigned char>(s[clean]) >= 0x21 &&
         s[clean] != 0x7F) {
    ++clean;
  }
  if (clean == text.Length()) return text;  // the usual link: shared, not copied
  CStr escaped;
  escaped.Append(s, static_cast<unsigned short>(clean));
  for (unsigned i = clean; i < text.Length(); ++i) {
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
  const char* s = given;
  bool https = StartsWithNoCase(s, "https://");
  size_t authorityStart = https ? 8 : StartsWithNoCase(s, "http://") ? 7 : 0;
  size_t pathStart = SpanTo(s, authorityStart, "/?#");
  size_t pathEnd = SpanTo(s, pathStart, "?#");
  size_t queryEnd = SpanTo(s, pathEnd, "#");
  CStr newHost;
  int newPort = 0;
  if (!SplitAuthority(s + authorityStart, pathStart - authorityStart,
                      https ? kHttpsPort : kHttpPort, &newHost, &newPort)) {
    *problem = UrlProblem();
    problem->kind = FailureKind::kBadUrl;
    problem->url = given;
    return false;
  }
  text = given;
  secure = https;
  host = newHost;
  port = newPort;
  path = pathStart == pathEnd ? CStr("/") : Piece(s, pathStart, pathEnd);
  hasQuery = s[pathEnd] == '?';
  query = hasQuery ? Piece(s, pathEnd + 1, queryEnd) : CStr();
  fragment = s[queryEnd] == '#' ? CStr(s + queryEnd + 1) : CStr();
  int last = path.ReverseFind('/');
  dir = Piece(path, last > 0 ? 1 : 0, static_cast<size_t>(last));
  file = static_cast<const char*>(path) + last + 1;
  if (hasQuery) file += CStr("?") + query;
  return true;
}

CStr Url::BracketedHost() const {
  if (std::strchr(host, ':') == nullptr) return host;
  return CStr("[") + host + "]";
}

CStr Url::RequestTarget() const { return hasQuery ? path + "?" + query : path; }

CStr Url::Authority() const {
  if (port == DefaultPort()) return BracketedHost();
  CStr authority;
  authority.Format("%s:%d", static_cast<const char*>(BracketedHost()), port);
  return authority;
}

std::string Url::Key() const {
  std::string key = secure ? "https://" : "http://";
  CStr name = BracketedHost();
  for (const char* c = name; *c != '\0'; ++c) {
    key += static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
  }
  key += ":" + std::to_string(port) + ResolvedSegments(std::string(path));
  if (hasQuery) key += "?" + std::string(query);
  return key;
}

namespace {

// The last segment Key() keeps of path: a dot segment or an empty one
// resolves to an empty last segment, any other stays as written.
const char* LastKeySegment(const CStr& path, size_t* length) {
  const char* text = path;
  int slash = path.ReverseFind('/');
  const char* last = text + slash + 1;
  *length = path.Length() - static_cast<size_t>(slash + 1);
  if ((*length == 1 && last[0] == '.') || (*length == 2 && last[0] == '.' && last[1] == '.')) {
    *length = 0;
  }
  return last;
}

}  // namespace

bool Url::SameKey(const Url& other) const {
  size_t length, otherLength;
  const char* last = LastKeySegment(path, &length);
  const char* otherLast = LastKeySegment(other.path, &otherLength);
  if (secure != other.secure || port != other.port || hasQuery != other.hasQuery ||
      query != other.query || length != otherLength ||
      std::memcmp(last, otherLast, length) != 0) {
    return false;
  }
  if (strcasecmp(host, other.host) != 0) return false;
  // Paths without a dot or an empty segment are their own key paths.
  if (!HasSegmentsToResolve(path) && !HasSegmentsToResolve(other.path)) return path == other.path;
  return Key() == other.Key();
}

int Url::DefaultPort() const { return secure ? kHttpsPort : kHttpPort; }

bool Url::resolveText(const CStr& given, CStr* resolved, UrlProblem* problem) const {
  if (given[0] == '#') {  // only a fragment: the page itself
    *resolved = WithoutFragment(text);
    return true;
  }
  CStr link = WithoutFragment(given);
  if (IsAbsolute(link)) {
    *resolved = link;
    return true;
  }
  const char* rest = link;
  // Built as a std::string, which has no length limit of its own: a result
  // too long for a URL is refused below before it becomes a CStr.
  std::string result;
  result.reserve(64 + path.Length() + link.Length());
  if (rest[0] == '/' && rest[1] == '/') {  // another host, the page's scheme
    result = secure ? "https:" : "http:";
  } else {
    if (secure) result = "https://";
    result += static_cast<const char*>(BracketedHost());
    result += ':';
    result += std::to_string(port);
    if (rest[0] == '?') {  // another query on the same path
      result += static_cast<const char*>(path);
    } else if (rest[0] != '/') {
      result += '/';
      result += static_cast<const char*>(dir);
      if (!dir.IsEmpty()) result += '/';
    }
  }
  result += rest;
  if (result.size() > kMaxUrlLength) {
    *problem = UrlProblem();
    problem->kind = FailureKind::kUrlTooLong;
    problem->url = result.c_str();
    return false;
  }
  *resolved = result.c_str();
  return true;
}

bool Url::Resolve(const CStr& link, Url* target, UrlProblem* problem) const {
  CStr resolved;
  return resolveText(link, &resolved, problem) && target->Parse(resolved, problem);
}

bool Url::CanResolve(const CStr& given, UrlProblem* problem) const {
  const char* rest = given;
  // A link of another authority is parsed; resolving the others keeps this
  // page's authority (which parsed), so only the length can fail.
  if (rest[0] != '#' && !IsAbsolute(rest) && !(rest[0] == '/' && rest[1] == '/')) {
    size_t length = SpanTo(given, 0, "#");
    length += (secure ? 8 : 0) + BracketedHost().Length() + 1 + std::to_string(port).size();
    if (rest[0] == '?') {
      length += path.Length();
    } else if (rest[0] != '/') {
      length += 1 + dir.Length() + (dir.IsEmpty() ? 0 : 1);
    }
    if (length <= kMaxUrlLength) return true;
  }
  Url target;
  return Resolve(given, &target, problem);
}

bool Url::Resolve(const CStr& pageText, const CStr& link, CStr* resolved, UrlProblem* problem) {
  Url page;
  UrlProblem ignored;
  page.Parse(pageText, &ignored);
  return page.resolveText(link, resolved, problem);
}
