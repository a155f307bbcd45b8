#include "app/Confine.h"

#include <libpsl.h>

#include <cctype>
#include <mutex>
#include <string>
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

std::string Domain(const CStr& host) {
  std::string lower(static_cast<const char*>(host), host.Length());
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  // "example.org." names the same host as "example.org".
  if (lower.size() > 1 && lower.back() == '.') lower.pop_back();
  if (lower.empty() || Url::IsIpAddress(lower.c_str()) || SuffixList() == nullptr) return lower;
  const char* registrable = psl_registrable_domain(SuffixList(), lower.c_str());
  return registrable != nullptr ? std::string(registrable) : lower;
}

// The last hosts asked about on this thread, and their domains: a crawl asks
// about the same few hosts again and again. Bounded; emptied when full.
const std::string& CachedDomain(const CStr& host) {
  constexpr size_t kMaxHosts = 1024;
  thread_local std::unordered_map<std::string, std::string> domains;
  std::string key(static_cast<const char*>(host), host.Length());
  auto found = domains.find(key);
  if (found != domains.end()) return found->second;
  if (domains.size() == kMaxHosts) domains.clear();
  return domains.emplace(std::move(key), Domain(host)).first->second;
}

}  // namespace

int SameDomainHost(const CStr& host, const CStr& startHost) {
  // Copied: the second lookup may empty the cache.
  std::string domain = CachedDomain(host);
  return domain == CachedDomain(startHost) ? 1 : 0;
}
