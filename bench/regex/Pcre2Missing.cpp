// Built instead of Pcre2Engines.cpp when pkg-config found no libpcre2-8.
#include <cstdio>

#include "Workload.h"

void AddPcre2Engines(std::vector<Engine>&) {
  std::fprintf(stderr,
               "note: built without PCRE2 (libpcre2-8 not found); "
               "pcre2-interp and pcre2-jit are not measured\n");
}
