// Shard: which of N runs handles a host (-shard K/N).
//
// A host belongs to the shard of its registrable domain (RegistrableDomain,
// the domain -confine uses: the host itself for an IP address or a name like
// "localhost"): the 64-bit FNV-1a hash of the lower-cased domain, modulo N.
// Shards are numbered from 0. The hash is fixed, so every run, on any
// machine, puts a host in the same shard; all hosts of one domain share a
// shard, so each domain's politeness and robots.txt stay with one run.
#ifndef FERRET_APP_SHARD_H_
#define FERRET_APP_SHARD_H_

#include <string_view>

// The shard (0 to shards - 1) host belongs to; shards is at least 1.
int ShardOfHost(std::string_view host, int shards);

#endif  // FERRET_APP_SHARD_H_
