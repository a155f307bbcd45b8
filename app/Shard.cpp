#include "app/Shard.h"

#include "app/Confine.h"
#include "text/Fnv1a.h"

int ShardOfHost(std::string_view host, int shards) {
  return static_cast<int>(Fnv1a64Of(RegistrableDomain(host)) % static_cast<uint64_t>(shards));
}
