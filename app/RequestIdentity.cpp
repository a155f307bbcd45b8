#include "app/RequestIdentity.h"

#include <memory>
#include <string_view>

#include "app/Confine.h"

Connector IdentifyingConnector(Connector base, const Options& options, const Url& start) {
  if (options.agent.empty() && options.headers.empty()) return base;
  using Identity = SocketStreamBuf::RequestIdentity;
  auto everywhere = std::make_shared<Identity>(Identity{options.agent, {}});
  auto withFields = std::make_shared<Identity>(Identity{options.agent, options.headers});
  const CStr startHost = start.Host();
  SameDomainAs sameDomain(std::string_view(startHost, startHost.Length()));
  const bool secureOnly = start.Secure();
  return [base = std::move(base), everywhere, withFields, sameDomain, secureOnly](
             SocketStreamBuf& connection, const Url& url, Failure* failure) {
    if (!base(connection, url, failure)) return false;
    bool meant = sameDomain(url.HostView()) && (url.Secure() || !secureOnly);
    connection.identity = meant ? withFields : everywhere;
    return true;
  };
}
