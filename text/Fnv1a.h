// Fnv1a64: the 64-bit FNV-1a hash of a byte string, which may be fed in
// pieces: feeding "ab" then "c" gives the hash of "abc". The function is
// fixed (the same on every machine and in every run), so its values may be
// written down and compared across runs.
#ifndef FERRET_TEXT_FNV1A_H_
#define FERRET_TEXT_FNV1A_H_

#include <cstdint>
#include <string_view>

class Fnv1a64 {
 public:
  void Add(char c) {
    value ^= static_cast<unsigned char>(c);
    value *= 1099511628211ull;
  }
  void Add(std::string_view text) {
    for (char c : text) Add(c);
  }
  uint64_t Value() const { return value; }

 private:
  uint64_t value = 14695981039346656037ull;
};

inline uint64_t Fnv1a64Of(std::string_view text) {
  Fnv1a64 hash;
  hash.Add(text);
  return hash.Value();
}

#endif  // FERRET_TEXT_FNV1A_H_
