// Built instead of HyperscanEngine.cpp when pkg-config found no libhs or
// the build machine's processor lacks SSSE3.
#include <cstdio>

#include "Workload.h"

void AddHyperscanEngine(std::vector<Engine>&) {
  std::fprintf(stderr,
               "note: built without Hyperscan (libhs not found, or no SSSE3); "
               "hyperscan is not measured\n");
}
