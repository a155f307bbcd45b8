// The crawler's own engine, through the Regexp class exactly as the page scan
// uses it: letters folded, Match, then SubStart and SubLength.
#include "Workload.h"
#include "regex/Regexp.h"

namespace {

class FerretPattern {
 public:
  explicit FerretPattern(const char* pattern) : re_(pattern, 1) {}

  bool ok() const { return re_.CompiledOK(); }

  bool Search(const char* text, size_t, Span* spans, unsigned wanted) {
    if (!re_.Match(text)) return false;
    for (int i = 0; wanted >> i; ++i) {
      if (!(wanted >> i & 1)) continue;
      spans[i].start = re_.SubStart(static_cast<unsigned>(i));
      spans[i].length = re_.SubLength(static_cast<unsigned>(i));
    }
    return true;
  }

 private:
  Regexp re_;
};

}  // namespace

void AddFerretEngine(std::vector<Engine>& engines) {
  engines.push_back(MakeEngine<FerretPattern>(
      "ferret", [](const char* p) { return std::make_unique<FerretPattern>(p); }));
}
