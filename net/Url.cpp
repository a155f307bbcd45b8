#include "net/Url.h"

#include <arpa/inet.h>
#include <strings.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "text/AsciiCase.h"

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
  long value = 0;  // saturates at INT_MAX, which no port reaches
  for (size_t i = 0; i < length; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(digits[i]))) return -1;
    if (value < INT_MAX) value = value * 10 + (digits[i] - '0');
  }
  return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

// Splits an authority (the bytes between the scheme and the path) into host
// and port: what follows its last '@' is "host[:port]" or "[ipv6][:port]".
// The host is [*hostBegin, *hostEnd) of authority, without brackets. False
// when the brackets are not closed or are followed by anything but a port,
// or the port is not a number from 1 to 65535.
bool SplitAuthority(const char* authority, size_t length, int defaultPort, size_t* hostBegin,
                    size_t* hostEnd, int* port) {
  size_t start = 0;
  for (size_t i = length; i > 0; --i) {
    if (authority[i - 1] == '@') {
      start = i;
      break;
    }
  }
  size_t portStart;  // the ':' before the port, or length
  if (start < length && authority[start] == '[') {
    const void* close = std::memchr(authority + start, ']', length - start);
    if (close == nullptr) return false;
    *hostBegin = start + 1;
    *hostEnd = static_cast<size_t>(static_cast<const char*>(close) - authority);
    portStart = *hostEnd + 1;
    if (portStart < length && authority[portStart] != ':') return false;
  } else {
    const void* colon = std::memchr(authority + start, ':', length - start);
    *hostBegin = start;
    *hostEnd = colon == nullptr ? length
                                : static_cast<size_t>(static_cast<const char*>(colon) - authority);
    portStart = *hostEnd;
  }
  size_t digits = portStart < length ? portStart + 1 : length;
  *port = ReadPort(authority + digits, length - digits, defaultPort);
  return *port >= 1 && *port <= kMaxPort;
}

// A string of the bytes of view.
CStr Copy(std::string_view view) {
  CStr copy;
  if (view.empty()) return copy;  // its data may be null
  copy.Append(view.data(), static_cast<unsigned short>(view.size()));
  return copy;
}

// Whether path may hold an empty or a dot segment: "/." and "//" find every
// such segment, and some that are not ("/.hidden").
bool HasSegmentsToResolve(std::string_view path) {
  return path.find("//") != std::string_view::npos || path.find("/.") != std::string_view::npos;
}

// The path's segments with "." dropped, ".." taking back the one before and
// empty ones dropped, each with its leading '/'; a last segment that is a
// dot segment or empty leaves a trailing '/'.
std::string ResolvedSegments(const std::string& path) {
  // Without such segments there is nothing to resolve (the usual path).
  if (!HasSegmentsToResolve(path)) return path;
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
  size_t pathStop = SpanTo(s, pathStart, "?#");
  size_t queryStop = SpanTo(s, pathStop, "#");
  size_t newHostBegin = 0, newHostEnd = 0;
  int newPort = 0;
  if (!SplitAuthority(s + authorityStart, pathStart - authorityStart,
                      https ? kHttpsPort : kHttpPort, &newHostBegin, &newHostEnd, &newPort)) {
    *problem = UrlProblem();
    problem->kind = FailureKind::kBadUrl;
    problem->url = given;
    return false;
  }
  text = given;
  secure = https;
  port = newPort;
  hostBegin = static_cast<uint32_t>(authorityStart + newHostBegin);
  hostEnd = static_cast<uint32_t>(authorityStart + newHostEnd);
  pathBegin = static_cast<uint32_t>(pathStart);
  pathEnd = static_cast<uint32_t>(pathStop);
  queryEnd = static_cast<uint32_t>(queryStop);
  hasQuery = s[pathStop] == '?';
  return true;
}

CStr Url::Host() const { return Copy(HostView()); }
CStr Url::Path() const { return Copy(PathView()); }
CStr Url::Query() const { return Copy(QueryView()); }

CStr Url::Fragment() const {
  if (queryEnd >= text.Length()) return CStr();
  return Copy(Piece(queryEnd + 1, static_cast<uint32_t>(text.Length())));
}

std::string_view Url::DirView() const {
  std::string_view path = PathView();
  size_t last = path.rfind('/');
  return last > 0 ? path.substr(1, last - 1) : std::string_view();
}

CStr Url::Dir() const { return Copy(DirView()); }

CStr Url::File() const {
  std::string_view path = PathView();
  std::string_view name = path.substr(path.rfind('/') + 1);
  if (!hasQuery) return Copy(name);
  return Copy(name) + "?" + Copy(QueryView());
}

size_t Url::BracketedHostLength() const {
  std::string_view host = HostView();
  return host.size() + (host.find(':') != std::string_view::npos ? 2 : 0);
}

void Url::appendBracketedHost(std::string* out, bool lower) const {
  std::string_view host = HostView();
  bool bracketed = host.find(':') != std::string_view::npos;
  if (bracketed) *out += '[';
  for (char c : host) {
    *out += lower ? AsciiLower(c) : c;
  }
  if (bracketed) *out += ']';
}

CStr Url::BracketedHost() const {
  std::string host;
  appendBracketedHost(&host, false);
  return host.c_str();
}

CStr Url::RequestTarget() const {
  if (!hasQuery) return Path();
  return Path() + "?" + Query();
}

CStr Url::Authority() const {
  std::string authority;
  authority.reserve(BracketedHostLength() + sizeof ":65535");
  appendBracketedHost(&authority, false);
  if (port != DefaultPort()) {
    authority += ':';
    authority += std::to_string(port);
  }
  return Copy(authority);
}

std::string Url::Key() const {
  std::string key;
  AppendKeyTo(&key);
  return key;
}

template <typename Sink>
void Url::feedKey(Sink&& sink) const {
  std::string_view path = PathView();
  sink(std::string_view(secure ? "https://" : "http://"));
  std::string_view host = HostView();
  bool bracketed = host.find(':') != std::string_view::npos;
  if (bracketed) sink('[');
  for (char c : host) sink(AsciiLower(c));
  if (bracketed) sink(']');
  sink(':');
  char digits[8];  // the port, from its last digit
  char* first = digits + sizeof digits;
  for (unsigned rest = static_cast<unsigned>(port);;) {
    *--first = static_cast<char>('0' + rest % 10);
    rest /= 10;
    if (rest == 0) break;
  }
  sink(std::string_view(first, static_cast<size_t>(digits + sizeof digits - first)));
  if (HasSegmentsToResolve(path)) {
    sink(std::string_view(ResolvedSegments(std::string(path))));
  } else {
    sink(path);
  }
  if (hasQuery) {
    sink('?');
    sink(QueryView());
  }
}

void Url::AppendKeyTo(std::string* key) const {
  // Built in room made once: the crawl and its workers key every link.
  key->reserve(key->size() + sizeof "https://[]:65535?" + HostView().size() + PathView().size() +
               QueryView().size());
  feedKey([key](auto piece) { *key += piece; });
}

void Url::HashKeyInto(Fnv1a64* hash) const {
  feedKey([hash](auto piece) { hash->Add(piece); });
}

namespace {

// The last segment Key() keeps of path: a dot segment or an empty one
// resolves to an empty last segment, any other stays as written.
std::string_view LastKeySegment(std::string_view path) {
  std::string_view last = path.substr(path.rfind('/') + 1);
  if (last == "." || last == "..") return std::string_view();
  return last;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace

bool Url::SameKey(const Url& other) const {
  std::string_view path = PathView(), otherPath = other.PathView();
  if (secure != other.secure || port != other.port || hasQuery != other.hasQuery ||
      QueryView() != other.QueryView() || LastKeySegment(path) != LastKeySegment(otherPath)) {
    return false;
  }
  if (!EqualsNoCase(HostView(), other.HostView())) return false;
  // Paths without a dot or an empty segment are their own key paths.
  if (!HasSegmentsToResolve(path) && !HasSegmentsToResolve(otherPath)) return path == otherPath;
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
  const std::string_view path = PathView(), dir = DirView();
  result.reserve(64 + path.size() + link.Length());
  if (rest[0] == '/' && rest[1] == '/') {  // another host, the page's scheme
    result = secure ? "https:" : "http:";
  } else {
    if (secure) result = "https://";
    appendBracketedHost(&result, false);
    result += ':';
    result += std::to_string(port);
    if (rest[0] == '?') {  // another query on the same path
      result += path;
    } else if (rest[0] != '/') {
      result += '/';
      result += dir;
      if (!dir.empty()) result += '/';
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
    length += (secure ? 8 : 0) + BracketedHostLength() + 1 + std::to_string(port).size();
    if (rest[0] == '?') {
      length += PathView().size();
    } else if (rest[0] != '/') {
      size_t dir = DirView().size();
      length += 1 + dir + (dir == 0 ? 0 : 1);
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
