#include "app/Shard.h"

#include "app/Confine.h"

uint64_t Fnv1a64(std::string_view text) {
  uint64_t hash = 14695981039346656037ull;
  for (char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  return hash;
}

int ShardOfHost(std::string_view host, int shards) {
  return static_cast<int>(Fnv1a64(RegistrableDomain(host)) % static_cast<uint64_t>(shards));
}
