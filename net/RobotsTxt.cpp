// RobotsTxt: the reading, choosing and matching described in RobotsTxt.h.
#include "net/RobotsTxt.h"

#include <algorithm>
#include <cstring>

#include "text/AsciiCase.h"

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool IsWhite(char c) { return c == ' ' || c == '\t'; }

bool IsLineEnd(char c) { return c == '\n' || c == '\r'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsWhite(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsWhite(s.back())) s.remove_suffix(1);
  return s;
}

bool IsTokenByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '-';
}

// The product token value names, in lower case: its leading [A-Za-z_-] run,
// "*" when it begins with '*', else empty.
std::string TokenOf(std::string_view value) {
  if (!value.empty() && value.front() == '*') return "*";
  std::string token;
  for (char c : value) {
    if (!IsTokenByte(c)) break;
    token += AsciiLower(c);
  }
  return token;
}

// What of body is read: within kMaxRobotsBytes, without a line the
// limit cuts, without a byte order mark.
std::string_view Readable(std::string_view body) {
  if (body.size() > kMaxRobotsBytes) {
    bool lineEndsAtLimit = IsLineEnd(body[kMaxRobotsBytes]);
    body = body.substr(0, kMaxRobotsBytes);
    if (!lineEndsAtLimit) {
      size_t lastEnd = body.find_last_of("\r\n");
      body = lastEnd == std::string_view::npos ? std::string_view() : body.substr(0, lastEnd + 1);
    }
  }
  if (body.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
    body.remove_prefix(kByteOrderMark.size());
  }
  return body;
}

// A Crawl-delay value: digits, optionally a '.' and more digits, at least
// one digit in all. True with *seconds set, at most kMaxCrawlDelaySeconds.
bool ReadDelay(std::string_view value, double* seconds) {
  double read = 0;
  bool digits = false;
  size_t i = 0;
  for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i, digits = true) {
    read = std::min(read * 10 + (value[i] - '0'), kMaxCrawlDelaySeconds);
  }
  if (i < value.size() && value[i] == '.') {
    double scale = 0.1;
    for (++i; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i, digits = true) {
      read += (value[i] - '0') * scale;
      scale /= 10;
    }
  }
  if (!digits || i != value.size()) return false;
  *seconds = std::min(read, kMaxCrawlDelaySeconds);
  return true;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsUnreserved(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

// A byte a URL may not hold as it is.
bool MustEncode(unsigned char c) {
  return c <= 0x20 || c >= 0x7F || std::strchr("\"<>\\^`{|}", c) != nullptr;
}

void AppendEncoded(std::string* out, unsigned char c) {
  static const char kHex[] = "0123456789ABCDEF";
  *out += '%';
  *out += kHex[c >> 4];
  *out += kHex[c & 0xF];
}

// s in the one spelling rules and paths are compared in (see RobotsTxt.h).
std::string Normalise(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    int high = c == '%' && i + 2 < s.size() ? HexValue(s[i + 1]) : -1;
    int low = high >= 0 ? HexValue(s[i + 2]) : -1;
    if (low >= 0) {
      c = static_cast<unsigned char>(high * 16 + low);
      i += 2;
      if (IsUnreserved(c)) {
        out += static_cast<char>(c);
      } else {
        AppendEncoded(&out, c);
      }
    } else if (c == '%' || MustEncode(c)) {
      AppendEncoded(&out, c);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// pattern (normalised, '*' for any run, without a final '$') matches a
// prefix of path, or all of it when anchored. Each piece between '*'s is
// taken at its leftmost place after the piece before: a later place would
// only leave less of the path for the rest, so nothing is ever retried.
bool Matches(std::string_view pattern, bool anchored, std::string_view path) {
  size_t star = pattern.find('*');
  if (star == std::string_view::npos) {
    return anchored ? path == pattern : path.substr(0, pattern.size()) == pattern;
  }
  if (path.substr(0, star) != pattern.substr(0, star)) return false;
  size_t at = star;  // the bytes of path the pieces so far have used
  pattern.remove_prefix(star + 1);
  for (star = pattern.find('*'); star != std::string_view::npos; star = pattern.find('*')) {
    size_t found = path.find(pattern.substr(0, star), at);
    if (found == std::string_view::npos) return false;
    at = found + star;
    pattern.remove_prefix(star + 1);
  }
  if (!anchored) return path.find(pattern, at) != std::string_view::npos;
  return path.size() >= at + pattern.size() && path.substr(path.size() - pattern.size()) == pattern;
}

}  // namespace

void RobotsTxt::Rules::add(std::string_view value, bool allow) {
  bool anchored = value.back() == '$';
  if (anchored) value.remove_suffix(1);
  std::string pattern = Normalise(value);
  size_t length = pattern.size() + (anchored ? 1 : 0);
  rules.push_back(Rule{std::move(pattern), anchored, allow, length});
}

void RobotsTxt::Rules::offerDelay(double seconds) { crawlDelay = std::max(crawlDelay, seconds); }

void RobotsTxt::Rules::merge(const Rules& other) {
  rules.insert(rules.end(), other.rules.begin(), other.rules.end());
  offerDelay(other.crawlDelay);
}

bool RobotsTxt::Rules::outranks(const Rule& rule, const Rule* best) {
  if (best == nullptr || rule.length > best->length) return true;
  return rule.length == best->length && rule.allow && !best->allow;
}

bool RobotsTxt::Rules::Allowed(std::string_view pathAndQuery) const {
  std::string path = Normalise(pathAndQuery.empty() ? std::string_view("/") : pathAndQuery);
  if (path == "/robots.txt") return true;
  const Rule* best = nullptr;
  for (const Rule& rule : rules) {
    if (outranks(rule, best) && Matches(rule.pattern, rule.anchored, path)) best = &rule;
  }
  return best == nullptr || best->allow;
}

RobotsTxt RobotsTxt::Parse(std::string_view body) {
  RobotsTxt file;
  Reading reading;
  std::string_view text = Readable(body);
  while (!text.empty()) {
    size_t end = text.find_first_of("\r\n");
    file.readLine(text.substr(0, end), &reading);
    if (end == std::string_view::npos) break;
    bool crLf = text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n';
    text.remove_prefix(end + (crLf ? 2 : 1));
  }
  return file;
}

void RobotsTxt::readLine(std::string_view line, Reading* reading) {
  line = line.substr(0, line.find('#'));
  size_t colon = line.find(':');
  if (colon == std::string_view::npos) return;
  std::string_view name = Trim(line.substr(0, colon));
  std::string_view value = Trim(line.substr(colon + 1));
  if (EqualsFolded(name, "user-agent")) {
    readAgent(value, reading);
  } else if (EqualsFolded(name, "allow")) {
    readMember(Member::kAllow, value, reading);
  } else if (EqualsFolded(name, "disallow")) {
    readMember(Member::kDisallow, value, reading);
  } else if (EqualsFolded(name, "crawl-delay")) {
    readMember(Member::kCrawlDelay, value, reading);
  }
}

void RobotsTxt::readAgent(std::string_view value, Reading* reading) {
  if (reading->group == kNoGroup || reading->inRules) {
    groups.emplace_back();
    reading->group = groups.size() - 1;
    reading->inRules = false;
  }
  std::string token = TokenOf(value);
  if (token.empty()) return;
  // A group that names the token is chosen for it even when it has no rules.
  std::vector<size_t>& naming = byToken[token];
  if (naming.empty() || naming.back() != reading->group) naming.push_back(reading->group);
}

void RobotsTxt::readMember(Member kind, std::string_view value, Reading* reading) {
  double seconds = 0;
  bool readable = kind == Member::kCrawlDelay
                      ? ReadDelay(value, &seconds)
                      : value.empty() || value.front() == '/' || value.front() == '*';
  if (reading->group == kNoGroup || !readable) return;
  reading->inRules = true;
  Rules& rules = groups[reading->group];
  if (kind == Member::kCrawlDelay) {
    rules.offerDelay(seconds);
  } else if (!value.empty()) {
    rules.add(value, kind == Member::kAllow);
  }
}

RobotsTxt RobotsTxt::ForOutcome(RobotsFetch kind, std::string_view body) {
  switch (kind) {
    case RobotsFetch::kAnswered: return Parse(body);
    case RobotsFetch::kClientError: return RobotsTxt();
    case RobotsFetch::kServerError:
    case RobotsFetch::kUnreachable: break;
  }
  RobotsTxt closed;
  closed.disallowAll = true;
  return closed;
}

RobotsTxt::Rules RobotsTxt::For(std::string_view productToken) const {
  Rules chosen;
  if (disallowAll) {
    chosen.add("/", false);
    return chosen;
  }
  auto found = byToken.find(TokenOf(productToken));
  if (found == byToken.end()) found = byToken.find("*");
  if (found == byToken.end()) return chosen;
  for (size_t group : found->second) chosen.merge(groups[group]);
  return chosen;
}
