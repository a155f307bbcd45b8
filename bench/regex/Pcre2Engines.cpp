// PCRE2, 8-bit, caseless: the interpreter, and the JIT when this build of the
// library has one.
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <cstdio>

#include "Workload.h"

namespace {

class Pcre2Pattern {
 public:
  Pcre2Pattern(const char* pattern, bool jit) : jit_(jit) {
    int error = 0;
    PCRE2_SIZE offset = 0;
    code_ = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern), PCRE2_ZERO_TERMINATED,
                          PCRE2_CASELESS, &error, &offset, nullptr);
    if (code_ && jit_ && pcre2_jit_compile(code_, PCRE2_JIT_COMPLETE) != 0) {
      pcre2_code_free(code_);
      code_ = nullptr;
    }
    if (code_) data_ = pcre2_match_data_create_from_pattern(code_, nullptr);
  }
  ~Pcre2Pattern() {
    pcre2_match_data_free(data_);
    pcre2_code_free(code_);
  }
  Pcre2Pattern(const Pcre2Pattern&) = delete;
  Pcre2Pattern& operator=(const Pcre2Pattern&) = delete;

  bool ok() const { return code_ && data_; }

  bool Search(const char* text, size_t length, Span* spans, unsigned wanted) {
    auto subject = reinterpret_cast<PCRE2_SPTR>(text);
    int rc = jit_ ? pcre2_jit_match(code_, subject, length, 0, 0, data_, nullptr)
                  : pcre2_match(code_, subject, length, 0, 0, data_, nullptr);
    if (rc < 0) return false;
    const PCRE2_SIZE* v = pcre2_get_ovector_pointer(data_);
    for (int i = 0; wanted >> i; ++i) {
      if (!(wanted >> i & 1)) continue;
      spans[i].start = static_cast<int>(v[2 * i]);
      spans[i].length = static_cast<int>(v[2 * i + 1] - v[2 * i]);
    }
    return true;
  }

 private:
  bool jit_;
  pcre2_code* code_ = nullptr;
  pcre2_match_data* data_ = nullptr;
};

bool JitAvailable() {
  uint32_t jit = 0;
  return pcre2_config(PCRE2_CONFIG_JIT, &jit) >= 0 && jit == 1;
}

}  // namespace

void AddPcre2Engines(std::vector<Engine>& engines) {
  engines.push_back(MakeEngine<Pcre2Pattern>(
      "pcre2-interp", [](const char* p) { return std::make_unique<Pcre2Pattern>(p, false); }));
  if (JitAvailable()) {
    engines.push_back(MakeEngine<Pcre2Pattern>(
        "pcre2-jit", [](const char* p) { return std::make_unique<Pcre2Pattern>(p, true); }));
  } else {
    std::fprintf(stderr, "note: this PCRE2 has no JIT; pcre2-jit is not measured\n");
  }
}
