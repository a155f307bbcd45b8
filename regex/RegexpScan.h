// RegexpScan: the scan for the positions where a match may begin, built
// from the byte sets of the first one or two characters of every match: a
// vector scan when the first set is small, else a byte loop over the first
// set. It finds candidates only; the search checks the rest.
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
  // The instructions a scan is written in, narrowest first. A level this
  // build or processor lacks falls back to the widest one below it.
  enum Level { kPortable, kSse2, kAvx2, kAvx512 };
  // The widest level this processor runs.
  static Level Widest();

  // Takes the leading sets (256-bit, one bit per byte) of every match, count
  // of them; count must be above 0 before Find is called. Tests pass a level
  // to check each scan on one processor.
  void Build(const uint64_t (*sets)[4], int count) { Build(sets, count, Widest()); }
  void Build(const uint64_t (*sets)[4], int count, Level level);
  // The first position from at on where a match may begin, or the
  // terminating NUL. A candidate's first Checked() characters fit their
  // sets; the caller checks the rest.
  const char* Find(const char* at) const { return find(at, sets); }
  int Checked() const { return width > 0 ? width : 1; }

  // The bytes of the sets taken, as the scan functions read them.
  struct Sets {
    bool In(unsigned char c, int i) const { return (c | fold[i]) == byte[i] || c == other[i]; }
    unsigned char fold[2];
    unsigned char byte[2];
    unsigned char other[2];
    uint64_t first[4];  // the whole first set, for the byte loop
  };

 private:
  Sets sets = {};
  int width = 0;  // sets the vector scan tests (up to two small ones); 0: the
                  // first set is too large and a byte loop tests it alone
  // The scan for these sets on this processor, chosen by Build; null before.
  const char* (*find)(const char* at, const Sets& sets) = nullptr;
};

#endif  // FERRET_REGEX_REGEXPSCAN_H_
