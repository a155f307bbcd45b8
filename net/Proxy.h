// Proxy: the HTTP proxies of one run, read from the environment as curl and
// wget read them, and which proxy, if any, a URL goes through.
//
// The variables, each read once, when the settings are made:
//   http_proxy              the proxy for http URLs. HTTP_PROXY is not read,
//                           as curl does not read it: a CGI program is handed
//                           a request's "Proxy:" field as HTTP_PROXY, so
//                           reading it would let whoever sends the request
//                           choose the proxy ("httpoxy", CVE-2016-5385).
//   https_proxy, HTTPS_PROXY  the proxy for https URLs, asked for a tunnel
//                           with CONNECT; TLS then runs to the origin itself.
//   no_proxy, NO_PROXY      the hosts reached directly.
// A lower-case name is read before its upper-case one, and a variable that is
// set but empty counts as unset (as in curl): with nothing set, or only empty
// values, there is no proxy. all_proxy and ALL_PROXY are not read.
//
// A proxy is written "http://host:port" or "host:port" (http is then the
// scheme, in any letter case), an IPv6 literal in brackets, optionally with
// "user:password@" before the host (or "user@": an empty password), each
// percent-decoded and sent as "Proxy-Authorization: Basic
// base64(user:password)". Without a port it is 80, the http scheme's (wget and
// apt read it so; curl takes 1080). A path after the port is ignored. A
// setting that does not read so, or names any other scheme (https:// too:
// TLS to the proxy is not supported), is unusable: every request it would
// carry fails, naming the variable, rather than going direct.
//
// no_proxy is a list of entries separated by commas, blanks around each
// dropped:
//   *             every host;
//   name          that host and every host below it, in any letter case, a
//                 leading "." optional and a trailing "." on either side
//                 ignored: "example.com" and ".example.com" match
//                 "example.com" and "a.example.com", not "badexample.com";
//   address       an IPv4 or IPv6 literal (IPv6 without brackets, or in
//                 them): that address only, compared as an address ("::1" is
//                 "0::1"), never by name: no name is looked up to match it;
//   address/bits  every address whose first bits are the address's (CIDR).
// A ":port" after an entry is ignored: an entry names its host on every port,
// as in curl. A name entry matches only names, an address entry only
// addresses.
//
// Settings are values: made once for a run (or by a test, from the three
// texts), copied freely, never changed, safe to read from any thread.
#ifndef FERRET_NET_PROXY_H_
#define FERRET_NET_PROXY_H_

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "net/Url.h"

// One proxy as a setting names it.
struct ProxyServer {
  std::string variable;  // the variable it was read from, for messages
  std::string host;      // a name or an IP literal, without brackets
  int port = 80;
  std::string authorization;  // the Proxy-Authorization value; empty without credentials
  std::string problem;        // why the setting is unusable; empty when it is usable
};

// Reads setting, the value of variable (not empty).
ProxyServer ReadProxy(const std::string& variable, std::string_view setting);

// The no_proxy list: the hosts reached directly.
class ProxyBypass {
 public:
  ProxyBypass() = default;  // bypasses nothing
  explicit ProxyBypass(std::string_view list);

  // Whether host (as Url::Host gives it: a name, or an IP literal without
  // brackets) is reached directly.
  bool Matches(std::string_view host) const;

 private:
  struct Entry {
    bool address = false;     // else a name
    int family = 0;           // AF_INET or AF_INET6, for an address
    unsigned char bytes[16];  // the address, network order
    int bits = 0;             // how many leading bits must agree
    std::string name;         // lower case, without leading or trailing dots
  };
  // Reads one entry (not empty, not "*"); false for one that names nothing.
  static bool ReadEntry(std::string_view item, Entry* entry);
  bool all = false;  // "*" was an entry
  std::vector<Entry> entries;
};

class ProxySettings {
 public:
  // A variable's value, null when unset: getenv's answer.
  using Lookup = std::function<const char*(const char* name)>;

  ProxySettings() = default;  // no proxy
  // From the values the variables would hold; an empty one sets nothing.
  ProxySettings(std::string_view httpProxy, std::string_view httpsProxy, std::string_view noProxy);
  // From the environment, as lookup tells it.
  static ProxySettings FromEnvironment(const Lookup& lookup);

  // The proxy url goes through, owned by the settings; null when url is
  // reached directly (no proxy for its scheme, or no_proxy names its host).
  const ProxyServer* For(const Url& url) const;
  // Whether any URL goes through a proxy.
  bool Any() const { return !http.host.empty() || !http.problem.empty() || HasHttps(); }

 private:
  bool HasHttps() const { return !https.host.empty() || !https.problem.empty(); }

  ProxyServer http;   // empty host and problem: none
  ProxyServer https;  // the same
  ProxyBypass bypass;
};

#endif  // FERRET_NET_PROXY_H_
