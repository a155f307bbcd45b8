// RegexpScan: the vector scan for the positions where a match may begin,
// built from the byte sets of the first one or two characters of every
// match. It finds candidates only; the search checks the rest.
//
// A set takes part when it holds one or two bytes. A byte c is in set i when
// (c | fold[i]) == byte[i] or c == other[i]: a single byte, or two bytes
// that differ in one bit (a letter in both cases), need the first test only,
// and then other[i] repeats byte[i]. The NUL is in no set, so a scan always
// stops at the end of the subject.
//
// A plain value: copies are independent and cost nothing to make.
#ifndef FERRET_REGEX_REGEXPSCAN_H_
#define FERRET_REGEX_REGEXPSCAN_H_

#include <cstdint>

class RegexpScan {
 public:
  // Takes the leading sets (256-bit, one bit per byte) that hold at most two
  // bytes each, up to two of them; Width() is how many were taken.
  void Build(const uint64_t (*sets)[4], int count);
  // 0 when the first set is larger than two bytes: there is no scan.
  int Width() const { return width; }
  // The first position from at on where a match may begin, or the
  // terminating NUL. Width() must be above 0.
  const char* Find(const char* at) const { return find(at, sets); }

  // The bytes of the sets taken, as the scan functions read them.
  struct Sets {
    bool In(unsigned char c, int i) const { return (c | fold[i]) == byte[i] || c == other[i]; }
    unsigned char fold[2];
    unsigned char byte[2];
    unsigned char other[2];
  };

 private:
  Sets sets = {};
  int width = 0;
  // The scan for this width and these sets on this processor, chosen by
  // Build; null while width is 0.
  const char* (*find)(const char* at, const Sets& sets) = nullptr;
};

#endif  // FERRET_REGEX_REGEXPSCAN_H_
