// Hyperscan, caseless, as a baseline for the typed patterns: it reports
// that a text matches (its first match ends the scan), never where a match
// begins or its groups, so it takes part in those rows alone.
#include <hs.h>

#include <cstdio>

#include "Workload.h"

namespace {

int StopAtFirst(unsigned, unsigned long long, unsigned long long, unsigned, void* context) {
  *static_cast<bool*>(context) = true;
  return 1;
}

bool CountMatches(const char* pattern, const Texts& texts, uint64_t& count) {
  hs_database_t* database = nullptr;
  hs_compile_error_t* error = nullptr;
  if (hs_compile(pattern, HS_FLAG_CASELESS | HS_FLAG_SINGLEMATCH | HS_FLAG_DOTALL, HS_MODE_BLOCK,
                 nullptr, &database, &error) != HS_SUCCESS) {
    std::fprintf(stderr, "hyperscan: %s: %s\n", pattern, error->message);
    hs_free_compile_error(error);
    return false;
  }
  hs_scratch_t* scratch = nullptr;
  if (hs_alloc_scratch(database, &scratch) != HS_SUCCESS) {
    hs_free_database(database);
    return false;
  }
  count = 0;
  for (size_t i = 0; i < texts.text.size(); ++i) {
    bool matched = false;
    hs_scan(database, texts.text[i], static_cast<unsigned>(texts.length[i]), 0, scratch,
            StopAtFirst, &matched);
    count += matched;
  }
  hs_free_scratch(scratch);
  hs_free_database(database);
  return true;
}

}  // namespace

void AddHyperscanEngine(std::vector<Engine>& engines) {
  if (hs_valid_platform() != HS_SUCCESS) {
    std::fprintf(stderr, "note: this processor cannot run Hyperscan; it is not measured\n");
    return;
  }
  Engine e;
  e.name = "hyperscan";
  e.countMatches = CountMatches;
  engines.push_back(e);
}
