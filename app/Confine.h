// Host confinement: whether a URL lies in the start host's domain.
//
// A host's domain is its registrable domain: the public suffix plus one
// label, from the Public Suffix List (libpsl), in lower case. An IP address,
// or a host with no registrable domain (such as "localhost"), is a domain of
// its own. So www.example.org and docs.example.org share a domain, while
// a.b.co.uk and c.d.co.uk, or 127.0.0.1 and 127.5.0.1, do not.
#ifndef FERRET_APP_CONFINE_H_
#define FERRET_APP_CONFINE_H_

#include <functional>
#include <string>
#include <string_view>

#include "text/CStr.h"

// The domain of host as described above (lower case, without a last '.').
std::string RegistrableDomain(std::string_view host);

// 1 when host and startHost are in the same domain; 0 otherwise.
int SameDomainHost(std::string_view host, std::string_view startHost);
int SameDomainHost(const CStr& host, const CStr& startHost);

// Whether the crawl may ask for something of a host (-confine); a null
// policy allows every host.
using HostPolicy = std::function<bool(std::string_view host)>;

// The same question asked of many hosts against one start host, whose
// domain is worked out once.
class SameDomainAs {
 public:
  explicit SameDomainAs(std::string_view startHost);
  bool operator()(std::string_view host) const;

 private:
  std::string startHost;
  std::string startDomain;
  bool startIsAddress;  // the start host is an IP address
};

#endif  // FERRET_APP_CONFINE_H_
