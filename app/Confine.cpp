#include "app/Confine.h"

#include <libpsl.h>

#include <strings.h>

#include <cctype>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

#include "net/Url.h"

namespace {

// The newest list on the system, or the one built into libpsl; made once,
// never freed.
const psl_ctx_t* SuffixList() {
  static const psl_ctx_t* list = nullptr;
  static std::once_flag once;
  std::call_once(once, [] {
    list = psl_latest(nullptr);
    if (list == nullptr) list = psl_builtin();
  });
  return list;
}

std::string Domain(std::string_view host) {
  std::string lower(host);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  // "example.org." names the same host as "example.org".
  if (lower.size() > 1 && lower.back() == '.') lower.pop_back();
  if (lower.empty() || Url::IsIpAddress(lower.c_str()) || SuffixList() == nullptr) return lower;
  const char* registrable = psl_registrable_domain(SuffixList(), lower.c_str());
  return registrable != nullptr ? std::string(registrable) : lower;
}

// The last hosts asked about on this thread, and their domains: a crawl asks
// about the same few hundred hosts again and again, and a domain costs the
// suffix list a search. Keyed by views of hosts, so that a hit makes no
// string. Bounded; emptied when full.
class DomainCache {
 public:
  static DomainCache& OfThisThread() {
    thread_local DomainCache cache;
    return cache;
  }
  // The answer is valid until the next lookup.
  const std::string& Of(std::string_view host) {
    auto found = domains.find(host);
    if (found != domains.end()) return found->second;
    if (domains.size() == kMaxHosts) {
      domains.clear();
      hosts.clear();
    }
    hosts.emplace_back(host);
    return domains.emplace(hosts.back(), Domain(host)).first->second;
  }

 private:
  static constexpr size_t kMaxHosts = 1024;
  std::deque<std::string> hosts;  // what the keys view: a deque never moves them
  std::unordered_map<std::string_view, std::string> domains;
};

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace

std::string RegistrableDomain(std::string_view host) {
  return DomainCache::OfThisThread().Of(host);
}

int SameDomainHost(std::string_view host, std::string_view startHost) {
  return SameDomainAs(startHost)(host) ? 1 : 0;
}

SameDomainAs::SameDomainAs(std::string_view start)
    : startHost(start),
      startDomain(DomainCache::OfThisThread().Of(start)),
      startIsAddress(Url::IsIpAddress(startDomain.c_str())) {}

bool SameDomainAs::operator()(std::string_view host) const {
  // Most links of a crawl stay on its start host: no domain is worked out.
  if (SameIgnoringCase(host, startHost)) return true;
  // An address is a domain of its own, and no name's registrable domain is
  // an address: only the address itself (with a last '.') is the same.
  if (startIsAddress) {
    if (!host.empty() && host.back() == '.') host.remove_suffix(1);
    return SameIgnoringCase(host, startDomain);
  }
  return DomainCache::OfThisThread().Of(host) == startDomain;
}

int SameDomainHost(const CStr& host, const CStr& startHost) {
  return SameDomainHost(std::string_view(host, host.Length()),
                        std::string_view(startHost, startHost.Length()));
}
