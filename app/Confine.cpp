#include "app/Confine.h"

#include <libpsl.h>

#include <cctype>
#include <mutex>

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

CStr Domain(const CStr& host) {
  CStr lower;
  for (unsigned i = 0; i < host.Length(); ++i) {
    lower += static_cast<char>(std::tolower(static_cast<unsigned char>(host[i])));
  }
  // "example.org." names the same host as "example.org".
  if (lower.Length() > 1 && lower[lower.Length() - 1] == '.') {
    CStr trimmed;
    trimmed.Append(lower, static_cast<unsigned short>(lower.Length() - 1));
    lower = trimmed;
  }
  if (lower.IsEmpty() || Url::IsIpAddress(lower) || SuffixList() == nullptr) return lower;
  const char* registrable = psl_registrable_domain(SuffixList(), lower);
  return registrable != nullptr ? CStr(registrable) : lower;
}

}  // namespace

int SameDomainHost(const CStr& host, const CStr& startHost) {
  return Domain(host) == Domain(startHost) ? 1 : 0;
}
