#include "net/Proxy.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <cstring>
#include <initializer_list>

#include "text/AsciiCase.h"

namespace {

std::string Lowered(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = AsciiLower(c);
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// text with every "%XX" (two hex digits) turned into its byte; a '%' not
// followed by two hex digits stays as it is.
std::string PercentDecoded(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    int high = i + 2 < text.size() && text[i] == '%' ? HexValue(text[i + 1]) : -1;
    int low = high >= 0 ? HexValue(text[i + 2]) : -1;
    if (low < 0) {
      out += text[i];
      continue;
    }
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return out;
}

std::string Base64(std::string_view bytes) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    size_t left = bytes.size() - i;
    unsigned group = static_cast<unsigned char>(bytes[i]) << 16;
    if (left > 1) group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (left > 2) group |= static_cast<unsigned char>(bytes[i + 2]);
    out += kDigits[(group >> 18) & 63];
    out += kDigits[(group >> 12) & 63];
    out += left > 1 ? kDigits[(group >> 6) & 63] : '=';
    out += left > 2 ? kDigits[group & 63] : '=';
  }
  return out;
}

// "Basic base64(user:password)" for the userinfo before a proxy's host.
std::string BasicAuthorization(std::string_view userinfo) {
  size_t colon = userinfo.find(':');
  std::string pair = PercentDecoded(userinfo.substr(0, colon)) + ":";
  if (colon != std::string_view::npos) pair += PercentDecoded(userinfo.substr(colon + 1));
  return "Basic " + Base64(pair);
}

// 1 to 65535 in decimal digits; 0 for anything else.
int PortNumber(std::string_view text) {
  if (text.empty() || text.size() > 5) return 0;
  int port = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    port = port * 10 + (c - '0');
  }
  return port <= 65535 ? port : 0;
}

// Splits authority (no userinfo) into host and port; false with *problem
// set when it does not read as one.
bool ReadHostPort(std::string_view authority, ProxyServer* server) {
  std::string_view portText;
  bool hasPort;
  if (!authority.empty() && authority[0] == '[') {
    size_t close = authority.find(']');
    unsigned char address[16];
    server->host =
        std::string(authority.substr(1, close == std::string_view::npos ? 0 : close - 1));
    if (close == std::string_view::npos ||
        inet_pton(AF_INET6, server->host.c_str(), address) != 1) {
      server->problem = "a bracketed host that is no IPv6 address";
      return false;
    }
    std::string_view after = authority.substr(close + 1);
    hasPort = !after.empty();
    if (hasPort && after[0] != ':') {
      server->problem = "bytes after the IPv6 address";
      return false;
    }
    portText = hasPort ? after.substr(1) : after;
  } else {
    size_t colon = authority.find(':');
    hasPort = colon != std::string_view::npos;
    server->host = std::string(authority.substr(0, colon));
    if (hasPort) portText = authority.substr(colon + 1);
  }
  if (server->host.empty()) {
    server->problem = "no host";
    return false;
  }
  // "host:" is the default port, as in a URL.
  if (hasPort && !portText.empty()) {
    server->port = PortNumber(portText);
    if (server->port == 0) {
      server->problem = "a port that is not 1 to 65535";
      return false;
    }
  }
  return true;
}

// Drops spaces and tabs from both ends.
std::string_view Trimmed(std::string_view text) {
  size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string_view::npos) return std::string_view();
  return text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
}

// Cuts a no_proxy entry down to its host (or address), and what follows a
// '/' into *bits: "[v6]", "[v6]:port" and "[v6]/bits" lose their brackets,
// and a ":port" is dropped. False for a bracket left open.
bool SplitEntry(std::string_view* item, std::string_view* bits) {
  if ((*item)[0] == '[') {
    size_t close = item->find(']');
    if (close == std::string_view::npos) return false;
    std::string_view after = item->substr(close + 1);
    if (!after.empty() && after[0] == '/') *bits = after.substr(1);
    *item = item->substr(1, close - 1);
    return true;
  }
  size_t slash = item->find('/');
  if (slash != std::string_view::npos) {
    *bits = item->substr(slash + 1);
    *item = item->substr(0, slash);
  }
  // One colon is a port's; an IPv6 literal has at least two.
  size_t colon = item->find(':');
  if (colon != std::string_view::npos && item->find(':', colon + 1) == std::string_view::npos) {
    *item = item->substr(0, colon);
  }
  return true;
}

// Whether the first bits bits of a and b agree.
bool PrefixAgrees(const unsigned char* a, const unsigned char* b, int bits) {
  int whole = bits / 8;
  if (std::memcmp(a, b, static_cast<size_t>(whole)) != 0) return false;
  int rest = bits % 8;
  if (rest == 0) return true;
  unsigned mask = (0xFFu << (8 - rest)) & 0xFFu;
  return (a[whole] & mask) == (b[whole] & mask);
}

// The family of text read as an IP literal into bytes; 0 when it is none.
int AddressFamily(const std::string& text, unsigned char* bytes) {
  if (inet_pton(AF_INET, text.c_str(), bytes) == 1) return AF_INET;
  if (inet_pton(AF_INET6, text.c_str(), bytes) == 1) return AF_INET6;
  return 0;
}

// The value of the first of names that is set and not empty, and its name.
bool FirstSet(const ProxySettings::Lookup& lookup, std::initializer_list<const char*> names,
              std::string* name, std::string* value) {
  for (const char* each : names) {
    const char* found = lookup(each);
    if (found != nullptr && found[0] != '\0') {
      *name = each;
      *value = found;
      return true;
    }
  }
  return false;
}

}  // namespace

ProxyServer ReadProxy(const std::string& variable, std::string_view setting) {
  ProxyServer server;
  server.variable = variable;
  std::string_view rest = setting;
  size_t schemeEnd = rest.find("://");
  if (schemeEnd != std::string_view::npos) {
    std::string scheme = Lowered(rest.substr(0, schemeEnd));
    if (scheme == "https") {
      server.problem = "an https:// proxy (TLS to the proxy) is not supported";
      return server;
    }
    if (scheme != "http") {
      server.problem = "only http:// proxies are supported";
      return server;
    }
    rest.remove_prefix(schemeEnd + 3);
  }
  std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
  size_t at = authority.rfind('@');
  if (at != std::string_view::npos) {
    server.authorization = BasicAuthorization(authority.substr(0, at));
    authority.remove_prefix(at + 1);
  }
  if (!ReadHostPort(authority, &server)) {
    server.host.clear();
    server.authorization.clear();
  }
  return server;
}

ProxyBypass::ProxyBypass(std::string_view list) {
  while (!list.empty()) {
    size_t comma = list.find(',');
    std::string_view item = Trimmed(list.substr(0, comma));
    list.remove_prefix(comma == std::string_view::npos ? list.size() : comma + 1);
    Entry entry;
    if (item == "*") {
      all = true;
    } else if (!item.empty() && ReadEntry(item, &entry)) {
      entries.push_back(std::move(entry));
    }
  }
}

bool ProxyBypass::ReadEntry(std::string_view item, Entry* entry) {
  std::string_view bitsText;
  if (!SplitEntry(&item, &bitsText)) return false;
  std::string text(item);
  entry->family = AddressFamily(text, entry->bytes);
  if (entry->family == 0) {
    size_t begin = text.find_first_not_of('.');
    if (begin == std::string::npos || !bitsText.empty()) return false;
    size_t end = text.find_last_not_of('.') + 1;
    entry->name = Lowered(std::string_view(text).substr(begin, end - begin));
    return true;
  }
  entry->address = true;
  int most = entry->family == AF_INET ? 32 : 128;
  if (bitsText.empty()) {
    entry->bits = most;
    return true;
  }
  // 1 to the address's length: "/0" would stand for every address, which
  // only "*" says.
  entry->bits = PortNumber(bitsText);
  return entry->bits >= 1 && entry->bits <= most;
}

bool ProxyBypass::Matches(std::string_view host) const {
  if (all) return true;
  if (entries.empty()) return false;
  unsigned char bytes[16];
  int family = AddressFamily(std::string(host), bytes);
  if (family != 0) {
    for (const Entry& entry : entries) {
      if (entry.address && entry.family == family && PrefixAgrees(entry.bytes, bytes, entry.bits)) {
        return true;
      }
    }
    return false;
  }
  while (!host.empty() && host.back() == '.') host.remove_suffix(1);
  std::string name = Lowered(host);
  for (const Entry& entry : entries) {
    if (entry.address || entry.name.size() > name.size()) continue;
    size_t cut = name.size() - entry.name.size();
    if (name.compare(cut, std::string::npos, entry.name) != 0) continue;
    if (cut == 0 || name[cut - 1] == '.') return true;
  }
  return false;
}

ProxySettings::ProxySettings(std::string_view httpProxy, std::string_view httpsProxy,
                             std::string_view noProxy)
    : bypass(noProxy) {
  if (!httpProxy.empty()) http = ReadProxy("http_proxy", httpProxy);
  if (!httpsProxy.empty()) https = ReadProxy("https_proxy", httpsProxy);
}

ProxySettings ProxySettings::FromEnvironment(const Lookup& lookup) {
  ProxySettings settings;
  std::string name, value;
  if (FirstSet(lookup, {"http_proxy"}, &name, &value)) settings.http = ReadProxy(name, value);
  if (FirstSet(lookup, {"https_proxy", "HTTPS_PROXY"}, &name, &value)) {
    settings.https = ReadProxy(name, value);
  }
  if (FirstSet(lookup, {"no_proxy", "NO_PROXY"}, &name, &value)) {
    settings.bypass = ProxyBypass(value);
  }
  return settings;
}

const ProxyServer* ProxySettings::For(const Url& url) const {
  const ProxyServer& server = url.Secure() ? https : http;
  if (server.host.empty() && server.problem.empty()) return nullptr;
  if (bypass.Matches(url.HostView())) return nullptr;
  return &server;
}
