// FuzzField: splits a fuzzer input into NUL-separated fields.
#ifndef FERRET_TESTS_FUZZ_FUZZFIELD_H_
#define FERRET_TESTS_FUZZ_FUZZFIELD_H_

#include <cstddef>
#include <cstdint>
#include <string>

// The next NUL-separated field of at most limit bytes (longer fields are
// cut); data moves past the field and its NUL.
inline std::string Field(const uint8_t*& data, const uint8_t* end, size_t limit) {
  std::string field;
  while (data < end && *data != 0) {
    if (field.size() < limit) field += static_cast<char>(*data);
    ++data;
  }
  if (data < end) ++data;
  return field;
}

#endif  // FERRET_TESTS_FUZZ_FUZZFIELD_H_
