#include "net/WebUrl.h"

#include <idn2.h>
#include <strings.h>

#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "text/AsciiCase.h"

namespace {

constexpr int kHttpPort = 80;
constexpr int kHttpsPort = 443;
constexpr int kMaxPort = 65535;

// The byte sets written as %XX, one bit each. Every set holds the C0
// controls, DEL and the bytes above 0x7F.
enum EncodeSet : unsigned { kQuerySet = 1, kPathSet = 2, kUserinfoSet = 4 };

constexpr unsigned EncodeSetsOf(unsigned char c) {
  if (c < 0x20 || c > 0x7E) return kQuerySet | kPathSet | kUserinfoSet;
  switch (c) {
    case ' ':
    case '"':
    case '#':
    case '<':
    case '>':
      return kQuerySet | kPathSet | kUserinfoSet;
    case '\'':
      return kQuerySet;
    case '?':
    case '^':
    case '`':
    case '{':
    case '}':
      return kPathSet | kUserinfoSet;
    case '/':
    case ':':
    case ';':
    case '=':
    case '@':
    case '[':
    case '\\':
    case ']':
    case '|':
      return kUserinfoSet;
    default:
      return 0;
  }
}

// EncodeSetsOf for every byte, looked up rather than worked out: the link
// readings ask it of every byte of every link.
struct EncodeSetTable {
  uint8_t of[256];
};

constexpr EncodeSetTable MakeEncodeSetTable() {
  EncodeSetTable table{};
  for (unsigned c = 0; c < 256; ++c) table.of[c] = static_cast<uint8_t>(EncodeSetsOf(static_cast<unsigned char>(c)));
  return table;
}

constexpr EncodeSetTable kEncodeSets = MakeEncodeSetTable();

unsigned EncodeSets(unsigned char c) { return kEncodeSets.of[c]; }

void AppendEncoded(std::string* out, const char* text, size_t length, EncodeSet set) {
  static const char kHex[] = "0123456789ABCDEF";
  size_t run = 0;  // where the bytes not yet appended begin
  for (size_t i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if ((EncodeSets(c) & set) == 0) continue;
    out->append(text + run, i - run);
    const char escape[3] = {'%', kHex[c >> 4], kHex[c & 15]};
    out->append(escape, 3);
    run = i + 1;
  }
  out->append(text + run, length - run);
}

bool IsDigit(int c) { return c >= '0' && c <= '9'; }
bool IsAlpha(int c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsSlash(char c) { return c == '/' || c == '\\'; }

// s[0, n) is "http" or "https" in any letter case.
bool IsWebScheme(const char* s, size_t n) {
  return (n == 4 || n == 5) && strncasecmp(s, "https", n) == 0;
}

// The value of c as a digit of radix (8, 10 or 16), or -1.
int DigitValue(int c, int radix) {
  int value = IsDigit(c)                 ? c - '0'
              : (c >= 'a' && c <= 'f') ? c - 'a' + 10
              : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                       : -1;
  return value < radix ? value : -1;
}

// link without leading and trailing C0 controls and spaces, and without any
// tab or line end.
std::string Cleaned(const char* link) {
  const char* begin = link;
  while (*begin != '\0' && static_cast<unsigned char>(*begin) <= 0x20) ++begin;
  const char* end = begin + std::strlen(begin);
  while (end > begin && static_cast<unsigned char>(end[-1]) <= 0x20) --end;
  std::string cleaned;
  cleaned.reserve(static_cast<size_t>(end - begin));
  for (const char* c = begin; c < end; ++c) {
    if (*c != '\t' && *c != '\n' && *c != '\r') cleaned += *c;
  }
  return cleaned;
}

// The length of the scheme that link begins with (letters, digits, '+',
// '-', '.' after a letter, then ':'), or 0.
size_t SchemeLength(const std::string& link) {
  if (link.empty() || !IsAlpha(link[0])) return 0;
  for (size_t i = 1; i < link.size(); ++i) {
    char c = link[i];
    if (c == ':') return i;
    if (!IsAlpha(c) && !IsDigit(c) && c != '+' && c != '-' && c != '.') return 0;
  }
  return 0;
}

// One number of an IPv4 address: decimal, "0x" hex or "0" octal. Values
// past 2^32 are clamped there, out of range for every use. False for an
// empty part or a digit outside the radix.
bool ReadIpv4Number(const std::string& part, uint64_t* value) {
  if (part.empty()) return false;
  int radix = 10;
  size_t start = 0;
  if (part.size() >= 2 && part[0] == '0' && (part[1] == 'x' || part[1] == 'X')) {
    radix = 16;
    start = 2;
  } else if (part.size() >= 2 && part[0] == '0') {
    radix = 8;
    start = 1;
  }
  constexpr uint64_t kClamp = uint64_t{1} << 33;
  uint64_t number = 0;
  for (size_t i = start; i < part.size(); ++i) {
    int digit = DigitValue(static_cast<unsigned char>(part[i]), radix);
    if (digit < 0) return false;
    number = number * static_cast<uint64_t>(radix) + static_cast<uint64_t>(digit);
    if (number > kClamp) number = kClamp;
  }
  *value = number;
  return true;
}

// domain split at '.', a last empty label (a trailing dot) dropped.
std::vector<std::string> Labels(const std::string& domain) {
  std::vector<std::string> labels;
  size_t start = 0;
  for (;;) {
    size_t dot = domain.find('.', start);
    labels.push_back(domain.substr(start, dot == std::string::npos ? dot : dot - start));
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  if (labels.size() > 1 && labels.back().empty()) labels.pop_back();
  return labels;
}

// The last label is a number (or digits only): such a host is an IPv4
// address or an error, never a name.
bool EndsInNumber(const std::string& domain) {
  std::string last = Labels(domain).back();
  if (last.empty()) return false;
  bool digitsOnly = true;
  for (char c : last) digitsOnly = digitsOnly && IsDigit(c);
  uint64_t ignored;
  return digitsOnly || ReadIpv4Number(last, &ignored);
}

// "1.2.3.4", "0x7f.1", "017700000001", "127.1": up to four numbers, the last
// filling the bytes the others leave.
bool ParseIpv4(const std::string& domain, std::string* out) {
  std::vector<std::string> parts = Labels(domain);
  if (parts.size() > 4) return false;
  std::vector<uint64_t> numbers;
  for (const std::string& part : parts) {
    uint64_t number;
    if (!ReadIpv4Number(part, &number)) return false;
    numbers.push_back(number);
  }
  for (size_t i = 0; i + 1 < numbers.size(); ++i) {
    if (numbers[i] > 255) return false;
  }
  if (numbers.back() >= uint64_t{1} << (8 * (5 - numbers.size()))) return false;
  uint64_t address = numbers.back();
  for (size_t i = 0; i + 1 < numbers.size(); ++i) address += numbers[i] << (8 * (3 - i));
  out->clear();
  for (int shift = 24; shift >= 0; shift -= 8) {
    *out += std::to_string((address >> shift) & 255);
    if (shift > 0) *out += '.';
  }
  return true;
}

// The eight pieces of the IPv6 literal s[0, n) (inside the brackets).
bool ReadIpv6(const char* s, size_t n, uint16_t address[8]) {
  auto at = [s, n](size_t i) -> int { return i < n ? static_cast<unsigned char>(s[i]) : -1; };
  int piece = 0;
  int compress = -1;
  size_t i = 0;
  if (at(0) == ':') {
    if (at(1) != ':') return false;
    i = 2;
    compress = ++piece;
  }
  while (at(i) != -1) {
    if (piece == 8) return false;
    if (at(i) == ':') {
      if (compress != -1) return false;
      ++i;
      compress = ++piece;
      continue;
    }
    unsigned value = 0;
    size_t length = 0;
    while (length < 4 && DigitValue(at(i), 16) >= 0) {
      value = value * 16 + static_cast<unsigned>(DigitValue(at(i), 16));
      ++i;
      ++length;
    }
    if (at(i) == '.') {  // a dotted IPv4 address in the last two pieces
      if (length == 0 || piece > 6) return false;
      i -= length;
      int numbersSeen = 0;
      while (at(i) != -1) {
        if (numbersSeen > 0) {
          if (at(i) != '.' || numbersSeen == 4) return false;
          ++i;
        }
        if (!IsDigit(at(i))) return false;
        int number = -1;
        while (IsDigit(at(i))) {
          if (number == 0) return false;  // no leading zeros
          number = (number < 0 ? 0 : number * 10) + (at(i) - '0');
          if (number > 255) return false;
          ++i;
        }
        address[piece] = static_cast<uint16_t>(address[piece] * 0x100 + number);
        ++numbersSeen;
        if (numbersSeen == 2 || numbersSeen == 4) ++piece;
      }
      if (numbersSeen != 4) return false;
      break;
    }
    if (at(i) == ':') {
      ++i;
      if (at(i) == -1) return false;
    } else if (at(i) != -1) {
      return false;
    }
    address[piece++] = static_cast<uint16_t>(value);
  }
  if (compress != -1) {
    // The pieces after "::" move to the end; zeros fill the gap.
    int swaps = piece - compress;
    piece = 7;
    while (piece != 0 && swaps > 0) {
      std::swap(address[piece], address[compress + swaps - 1]);
      --piece;
      --swaps;
    }
    return true;
  }
  return piece == 8;
}

// "[...]" with the first longest run of two or more zero pieces written
// "::" and each piece in lower-case hex without leading zeros.
std::string Ipv6Text(const uint16_t address[8]) {
  int compress = -1;
  int longest = 1;
  for (int i = 0; i < 8;) {
    int j = i;
    while (j < 8 && address[j] == 0) ++j;
    if (j - i > longest) {
      longest = j - i;
      compress = i;
    }
    i = j > i ? j : i + 1;
  }
  std::string out = "[";
  static const char kHex[] = "0123456789abcdef";
  for (int i = 0; i < 8; ++i) {
    if (i == compress) {
      out += i == 0 ? "::" : ":";
      i += longest - 1;
      continue;
    }
    bool leading = true;
    for (int shift = 12; shift >= 0; shift -= 4) {
      int digit = (address[i] >> shift) & 15;
      if (leading && digit == 0 && shift > 0) continue;
      leading = false;
      out += kHex[digit];
    }
    if (i != 7) out += ':';
  }
  return out + "]";
}

bool IsForbiddenInDomain(unsigned char c) {
  if (c <= 0x20 || c == 0x7F) return true;
  switch (c) {
    case '#':
    case '%':
    case '/':
    case ':':
    case '<':
    case '>':
    case '?':
    case '@':
    case '[':
    case '\\':
    case ']':
    case '^':
    case '|':
      return true;
    default:
      return false;
  }
}

std::string PercentDecoded(const char* s, size_t n) {
  std::string decoded;
  for (size_t i = 0; i < n; ++i) {
    int high = i + 2 < n ? DigitValue(static_cast<unsigned char>(s[i + 1]), 16) : -1;
    int low = i + 2 < n ? DigitValue(static_cast<unsigned char>(s[i + 2]), 16) : -1;
    if (s[i] == '%' && high >= 0 && low >= 0) {
      decoded += static_cast<char>(high * 16 + low);
      i += 2;
    } else {
      decoded += s[i];
    }
  }
  return decoded;
}

// A name that is ASCII with no "xn--" label only needs lower-casing; any
// other goes through IDNA, which also checks "xn--" labels.
bool NeedsIdna(const std::string& name) {
  for (char c : name) {
    if (static_cast<unsigned char>(c) >= 0x80) return true;
  }
  for (const std::string& label : Labels(name)) {
    if (StartsWithFolded(label, "xn--")) return true;
  }
  return false;
}

// The host s[0, n) as a URL writes it; false when it is not a host.
bool ParseHost(const char* s, size_t n, std::string* host) {
  if (n > 0 && s[0] == '[') {
    uint16_t address[8] = {};
    if (n < 2 || s[n - 1] != ']' || !ReadIpv6(s + 1, n - 2, address)) return false;
    *host = Ipv6Text(address);
    return true;
  }
  std::string name = PercentDecoded(s, n);
  // A NUL would end the name early for IDNA, hiding what follows it.
  if (name.find('\0') != std::string::npos) return false;
  std::string ascii;
  if (NeedsIdna(name)) {
    uint8_t* converted = nullptr;
    int rc = idn2_lookup_u8(reinterpret_cast<const uint8_t*>(name.c_str()), &converted,
                            IDN2_NFC_INPUT | IDN2_NONTRANSITIONAL);
    if (rc == IDN2_OK) ascii = reinterpret_cast<const char*>(converted);
    idn2_free(converted);
    if (rc != IDN2_OK) return false;
  } else {
    for (char c : name) ascii += AsciiLower(c);
  }
  if (ascii.empty()) return false;
  for (char c : ascii) {
    if (IsForbiddenInDomain(static_cast<unsigned char>(c))) return false;
  }
  if (EndsInNumber(ascii)) return ParseIpv4(ascii, host);
  *host = ascii;
  return true;
}

// The port digits s[0, n): -1 for none or the default, the number otherwise;
// -2 for anything but digits or a number past 65535.
int ReadPort(const char* s, size_t n, int defaultPort) {
  long value = 0;
  for (size_t i = 0; i < n; ++i) {
    if (!IsDigit(s[i])) return -2;
    value = value * 10 + (s[i] - '0');
    if (value > kMaxPort) return -2;
  }
  return n == 0 || value == defaultPort ? -1 : static_cast<int>(value);
}

// *path without its last segment.
void Shorten(std::string* path) {
  size_t slash = path->rfind('/');
  if (slash != std::string::npos) path->erase(slash);
}

bool IsSingleDot(const char* s, size_t n) {
  return (n == 1 && s[0] == '.') ||
         (n == 3 && s[0] == '%' && s[1] == '2' && AsciiLower(s[2]) == 'e');
}

bool IsDoubleDot(const char* s, size_t n) {
  if (n == 2) return s[0] == '.' && s[1] == '.';
  if (n == 4) return (IsSingleDot(s, 1) && IsSingleDot(s + 1, 3)) ||
                     (IsSingleDot(s, 3) && IsSingleDot(s + 3, 1));
  return n == 6 && IsSingleDot(s, 3) && IsSingleDot(s + 3, 3);
}

// Appends the segments of s[0, n), split at '/' and '\', to *path: "."
// dropped, ".." taking back the segment before, a last dot segment leaving
// a trailing '/'.
void AppendPath(std::string* path, const char* s, size_t n) {
  size_t start = 0;
  for (;;) {
    size_t end = start;
    while (end < n && !IsSlash(s[end])) ++end;
    bool last = end == n;
    const char* segment = s + start;
    size_t length = end - start;
    if (IsDoubleDot(segment, length)) {
      Shorten(path);
      if (last) *path += '/';
    } else if (IsSingleDot(segment, length)) {
      if (last) *path += '/';
    } else {
      *path += '/';
      AppendEncoded(path, segment, length, kPathSet);
    }
    if (last) return;
    start = end + 1;
  }
}

void SetProblem(FailureKind kind, const char* url, UrlProblem* problem) {
  *problem = UrlProblem();
  problem->kind = kind;
  // A CStr holds at most kCStrMaxLength bytes: a longer text is cut there.
  CStr shown;
  size_t length = std::strlen(url);
  shown.Append(url, static_cast<unsigned short>(length < kCStrMaxLength ? length : kCStrMaxLength));
  problem->url = shown;
}

}  // namespace

WebUrlOutcome WebUrl::read(const WebUrl* base, const std::string& link) {
  size_t fragment = link.find('#');
  if (fragment == std::string::npos) fragment = link.size();
  size_t queryMark = link.find('?');
  if (queryMark > fragment) queryMark = fragment;
  const char* s = link.c_str();
  size_t mainEnd = queryMark;  // the text before any query or fragment
  size_t start = 0;            // where the text after any scheme begins
  bool relative = base != nullptr && base->valid;
  size_t scheme = SchemeLength(link.substr(0, mainEnd));
  if (scheme > 0) {
    if (!IsWebScheme(s, scheme)) return WebUrlOutcome::kOtherScheme;
    secure = scheme == 5;
    // "http:x" against an http base is relative; against no base or the
    // other scheme, what follows the scheme is the authority, whatever
    // slashes lead it.
    relative = relative && base->secure == secure;
    start = scheme + 1;
  } else {
    if (!relative) return WebUrlOutcome::kFailed;
    secure = base->secure;
  }
  hasQuery = queryMark < fragment;
  query.clear();
  if (hasQuery) AppendEncoded(&query, s + queryMark + 1, fragment - queryMark - 1, kQuerySet);
  bool authority = !relative || (start + 1 < mainEnd && IsSlash(s[start]) && IsSlash(s[start + 1]));
  if (authority) {
    while (start < mainEnd && IsSlash(s[start])) ++start;
    size_t end = start;
    while (end < mainEnd && !IsSlash(s[end])) ++end;
    if (!readAuthority(s + start, end - start)) return WebUrlOutcome::kFailed;
    path.clear();
    start = end < mainEnd ? end + 1 : end;
    AppendPath(&path, s + start, mainEnd - start);
    return WebUrlOutcome::kResolved;
  }
  userinfo = base->userinfo;
  host = base->host;
  port = base->port;
  if (start < mainEnd && IsSlash(s[start])) {  // "/path": the base's authority
    path.clear();
    AppendPath(&path, s + start + 1, mainEnd - start - 1);
  } else if (start < mainEnd) {  // "file": beside the base's last segment
    path = base->path;
    Shorten(&path);
    AppendPath(&path, s + start, mainEnd - start);
  } else {  // "", "?query", "#fragment": the base's path
    path = base->path;
    if (!hasQuery) {
      hasQuery = base->hasQuery;
      query = base->query;
    }
  }
  return WebUrlOutcome::kResolved;
}

bool WebUrl::readAuthority(const char* s, size_t n) {
  // The last '@' ends the userinfo, whose first ':' ends the user name.
  size_t at = n;
  while (at > 0 && s[at - 1] != '@') --at;
  userinfo.clear();
  if (at > 0) {
    size_t colon = 0;
    while (colon < at - 1 && s[colon] != ':') ++colon;
    AppendEncoded(&userinfo, s, colon, kUserinfoSet);
    std::string password;
    size_t passwordStart = colon + 1 < at ? colon + 1 : at - 1;
    AppendEncoded(&password, s + passwordStart, at - 1 - passwordStart, kUserinfoSet);
    if (!password.empty()) userinfo += ":" + password;
  }
  // The host ends at the first ':' outside brackets.
  size_t hostEnd = at;
  for (bool inBrackets = false; hostEnd < n; ++hostEnd) {
    if (s[hostEnd] == '[') inBrackets = true;
    if (s[hostEnd] == ']') inBrackets = false;
    if (s[hostEnd] == ':' && !inBrackets) break;
  }
  if (hostEnd == at || !ParseHost(s + at, hostEnd - at, &host)) return false;
  size_t portStart = hostEnd < n ? hostEnd + 1 : n;
  port = ReadPort(s + portStart, n - portStart, secure ? kHttpsPort : kHttpPort);
  return port != -2;
}

void WebUrl::serialise() {
  text = secure ? "https://" : "http://";
  if (!userinfo.empty()) text += userinfo + "@";
  text += host;
  if (port >= 0) text += ":" + std::to_string(port);
  text += path;
  if (hasQuery) text += "?" + query;
  valid = true;
}

WebUrlOutcome WebUrl::readChecked(const WebUrl* base, const CStr& given, WebUrl* target,
                                  UrlProblem* problem) {
  std::string link = Cleaned(given);
  if (base == nullptr) {
    size_t scheme = SchemeLength(link);
    if (scheme == 0 || !IsWebScheme(link.c_str(), scheme)) link = "http://" + link;
  }
  WebUrl parsed;
  WebUrlOutcome outcome = parsed.read(base, link);
  if (outcome == WebUrlOutcome::kFailed) SetProblem(FailureKind::kBadUrl, given, problem);
  if (outcome != WebUrlOutcome::kResolved) return outcome;
  parsed.serialise();
  if (parsed.text.size() > kMaxUrlLength) {
    SetProblem(FailureKind::kUrlTooLong, parsed.text.c_str(), problem);
    return WebUrlOutcome::kFailed;
  }
  *target = std::move(parsed);
  return outcome;
}

bool WebUrl::Parse(const CStr& text, UrlProblem* problem) {
  return readChecked(nullptr, text, this, problem) == WebUrlOutcome::kResolved;
}

WebUrlOutcome WebUrl::Resolve(const CStr& link, WebUrl* target, UrlProblem* problem) const {
  return readChecked(this, link, target, problem);
}

namespace {

// What a byte of a path is to the quick resolution: kept as it is
// (printable ASCII outside the path set, and none of '%', since a "%2e"
// segment is a dot, '\\', read as '/', and '?' and '#', which end the path),
// a segment's end, a ':' (which may make a relative link a scheme's), or
// none of those, for the full reading.
enum PathByte : uint8_t { kOtherPathByte, kPlainPathByte, kSlashByte, kColonByte };

struct PathByteTable {
  uint8_t of[256];
};

constexpr PathByteTable MakePathByteTable() {
  PathByteTable table{};
  for (unsigned c = 0; c < 256; ++c) {
    bool plain = (EncodeSetsOf(static_cast<unsigned char>(c)) & kPathSet) == 0 && c != '%' &&
                 c != '\\';
    table.of[c] = c == '/' ? kSlashByte : c == ':' ? kColonByte : plain ? kPlainPathByte
                                                                       : kOtherPathByte;
  }
  return table;
}

constexpr PathByteTable kPathBytes = MakePathByteTable();

// A byte the query reading keeps as it is ('#' is in the set: it ends the query).
bool IsPlainQueryByte(char c) {
  return (EncodeSets(static_cast<unsigned char>(c)) & kQuerySet) == 0;
}

// The length of link's "http://" or "https://", in lower case; 0 without.
size_t PlainSchemeLength(std::string_view link) {
  return link.compare(0, 7, "http://") == 0 ? 7 : link.compare(0, 8, "https://") == 0 ? 8 : 0;
}

// Whether s[0, n) is "." or "..".
bool IsDotSegment(const char* s, size_t n) {
  return (n == 1 && s[0] == '.') || (n == 2 && s[0] == '.' && s[1] == '.');
}

// A host written as the URL reading would write it again: lower-case ASCII
// labels of letters, digits and '-', none empty, none an IDNA "xn--" label,
// the last not a number (which would make it an IPv4 address).
bool IsPlainHost(std::string_view host) {
  if (host.empty() || host.front() == '.' || host.back() == '.') return false;
  size_t label = 0;       // where the present label begins
  bool allDigits = true;  // so far in the present label
  for (size_t i = 0; i <= host.size(); ++i) {
    char c = i < host.size() ? host[i] : '.';
    if (c != '.') {
      bool digit = IsDigit(c);
      if (!(digit || (c >= 'a' && c <= 'z') || c == '-')) return false;
      allDigits = allDigits && digit;
      continue;
    }
    size_t length = i - label;
    const char* part = host.data() + label;
    if (length == 0 || (length >= 4 && std::memcmp(part, "xn--", 4) == 0)) return false;
    // The last label a number: an IPv4 address.
    if (i == host.size() && (allDigits || (length >= 2 && part[0] == '0' && part[1] == 'x'))) {
      return false;
    }
    label = i + 1;
    allDigits = true;
  }
  return true;
}

}  // namespace

std::string_view WebUrl::PlainHostOf(std::string_view link) {
  size_t scheme = PlainSchemeLength(link);
  if (scheme == 0) return {};
  size_t end = scheme;
  while (end < link.size() && link[end] != '/' && link[end] != '?' && link[end] != '#') ++end;
  std::string_view host = link.substr(scheme, end - scheme);
  return IsPlainHost(host) ? host : std::string_view();
}

bool WebUrl::ResolvePlain(std::string_view link, std::string* resolved) const {
  if (!valid || link.empty()) return false;
  size_t end = link.find('#');
  if (end == std::string_view::npos) end = link.size();
  // Only a fragment: the base itself, its query included.
  if (end == 0) {
    *resolved = text;
    return true;
  }
  size_t queryMark = link.substr(0, end).find('?');
  if (queryMark == std::string_view::npos) queryMark = end;
  // An absolute link with a plain host and no port or userinfo; its path
  // begins at the '/' after the host, or it has none (the host runs to the
  // fragment or the end).
  size_t scheme = PlainSchemeLength(link);
  size_t pathStart = 0;
  if (scheme != 0) {
    std::string_view host = PlainHostOf(link);
    if (host.empty()) return false;
    pathStart = scheme + host.size();
    if (pathStart < end && link[pathStart] == '?') return false;  // "http://host?query"
  } else if (link[0] == '?' || (link[0] == '/' && end > 1 && link[1] == '/')) {
    return false;
  }
  // A relative link's leading "./" and "../" (the shape of most generated
  // links) each leave the base's directory as it is or take one segment
  // off it; the rest of the path is read as any other.
  const bool beside = scheme == 0 && link[0] != '/';
  size_t ups = 0;
  size_t rest = pathStart;
  while (beside && rest + 2 <= queryMark && link[rest] == '.') {
    if (link[rest + 1] == '/') {
      rest += 2;
    } else if (rest + 3 <= queryMark && link[rest + 1] == '.' && link[rest + 2] == '/') {
      rest += 3;
      ++ups;
    } else {
      break;
    }
  }
  // The path: plain bytes need no encoding; "." and ".." segments past the
  // leading ones are worked out by the full reading's own AppendPath.
  bool dotSegment = false;
  size_t segment = rest;
  for (size_t i = rest; i < queryMark; ++i) {
    switch (kPathBytes.of[static_cast<unsigned char>(link[i])]) {
      case kPlainPathByte: break;
      case kSlashByte:
        dotSegment = dotSegment || IsDotSegment(link.data() + segment, i - segment);
        segment = i + 1;
        break;
      case kColonByte:
        if (scheme == 0) return false;
        break;
      default: return false;
    }
  }
  dotSegment = dotSegment || IsDotSegment(link.data() + segment, queryMark - segment);
  // The query: bytes of the query set are encoded as the full reading
  // encodes them; white space and controls (which it removes or trims
  // first) are left to it.
  bool encodeQuery = false;
  for (size_t i = queryMark + 1; i < end; ++i) {
    unsigned char c = static_cast<unsigned char>(link[i]);
    if (c <= 0x20 || c == 0x7F) return false;
    encodeQuery = encodeQuery || !IsPlainQueryByte(link[i]);
  }
  // What comes before the path: the link's scheme and host, or the base's
  // text up to its path.
  if (scheme != 0) {
    resolved->assign(link.data(), pathStart);
  } else {
    size_t prefix = text.size() - path.size() - (hasQuery ? 1 + query.size() : 0);
    resolved->assign(text, 0, prefix);
  }
  if (dotSegment) {
    std::string normal;
    if (scheme != 0) {
      size_t from = pathStart < queryMark ? pathStart + 1 : queryMark;
      AppendPath(&normal, link.data() + from, queryMark - from);
    } else if (link[0] == '/') {
      AppendPath(&normal, link.data() + 1, queryMark - 1);
    } else {
      normal = path;
      Shorten(&normal);
      AppendPath(&normal, link.data(), queryMark);
    }
    *resolved += normal;
  } else if (beside) {  // beside the base's last segment, less a segment per ".."
    size_t keep = path.size();
    for (size_t shorten = 0; shorten <= ups && keep > 0; ++shorten) {
      size_t slash = path.rfind('/', keep - 1);  // as Shorten does
      if (slash == std::string::npos) break;
      keep = slash;
    }
    resolved->append(path, 0, keep);
    *resolved += '/';
    resolved->append(link.data() + rest, queryMark - rest);
  } else if (pathStart == queryMark) {  // "http://host": the root
    *resolved += '/';
  } else {
    resolved->append(link.data() + pathStart, queryMark - pathStart);
  }
  if (!encodeQuery) {
    resolved->append(link.data() + queryMark, end - queryMark);  // "?query", if any
  } else {
    *resolved += '?';
    AppendEncoded(resolved, link.data() + queryMark + 1, end - queryMark - 1, kQuerySet);
  }
  return resolved->size() <= kMaxUrlLength;
}

bool WebUrl::ToUrl(Url* url, UrlProblem* problem) const {
  return url->Parse(text.c_str(), problem);
}
