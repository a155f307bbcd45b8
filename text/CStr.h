// CStr: the reference-counted string type used throughout Ferret.
//
// A CStr is one pointer to a CStrRep that may be shared by many CStr values.
// Copying, assigning and returning a CStr only raises a reference count; the
// characters are copied when a string whose representation is shared is about
// to be written (copy before write). Lengths are 16-bit: a string holds at
// most kCStrMaxLength characters. Any operation that would go past that, and a
// few other misuses, end the process through CStrFatal (see CStrFatal.h).
//
// Storage for representations and buffers comes from CStrPool (CStrPool.h).
// A failed allocation ends the process through CStrFatal; nothing is ever
// written through a null block.
//
// Threads: one CStr object is not to be used by two threads at once when
// either of them changes it (as with any value type). Distinct CStr objects
// that share a representation may be copied, assigned, written and destroyed
// from different threads at the same time. That rests on these invariants:
// - refs is atomic. A thread raises it only through a CStr it holds, so the
//   representation cannot vanish meanwhile: the raise needs no ordering.
// - Every lowering is acquire-release. The thread whose lowering reaches 0 has
//   therefore seen every use made by the earlier holders, and only it gives
//   the blocks back.
// - A write in place happens only after refs was read as 1 (acquire). Then
//   the writer's own CStr is the one holder, and no other can appear: a new
//   share needs a CStr that holds the representation, and that one is the
//   writer's own, used by the writer's thread alone. A representation read as
//   shared is copied from, never written; the copy reads text that all its
//   holders only read, and its release follows the read.
// - emptyRep's refs never falls below 2, so the test for 1 never passes for it.
//   Once a second thread has existed, its refs is no longer changed at all.
// - While the process has never had a second thread, the count changes by a
//   plain load and store (see SingleThreaded in CStr.cpp), so a crawl on one
//   thread pays no locked instruction per copy.
// The pool's free lists are the only state shared without a representation in
// common; CStrLock guards them.
#ifndef FERRET_TEXT_CSTR_H_
#define FERRET_TEXT_CSTR_H_

#include <atomic>
#include <cstdarg>
#include <cstdint>

// The largest length and the largest requested capacity a string may have.
constexpr unsigned kCStrMaxLength = 65530;

// The shared representation of one or more CStr values.
struct CStrRep {
  std::atomic<int32_t> refs;  // CStr objects pointing here; 1 = unshared
  char* text;                 // capacity + 1 bytes, NUL-terminated at length
  uint16_t length;            // characters in text; <= capacity, <= kCStrMaxLength
  uint16_t capacity;          // characters the buffer holds besides the NUL;
                              // always has its two lowest bits set when allocated
};

// The one representation of every empty string that owns no buffer. Its refs
// starts at 2 and never falls below 2, so it is never written or freed.
extern CStrRep emptyRep;

class CStr {
 public:
  CStr();
  // Copies text (NUL-terminated); capacity is the least capacity wanted.
  CStr(const char* text, unsigned short capacity = 0);
  // An unshared empty string with room for capacity characters (OR 3).
  explicit CStr(unsigned short capacity);
  CStr(const CStr& other);
  // Takes other's text without touching its count; other is left empty.
  CStr(CStr&& other) noexcept;
  ~CStr();

  CStr& operator=(const CStr& other);
  CStr& operator=(CStr&& other) noexcept;
  CStr& operator=(const char* text);

  // Empties the string and keeps its capacity.
  void Clear();

  CStr& operator+=(char c);
  CStr& operator+=(const CStr& s);
  CStr& operator+=(const char* text);
  // Appends count characters from text, which need not be NUL-terminated and
  // may point into this string's own text.
  void Append(const char* text, unsigned short count);

  operator const char*() const { return rep->text; }
  unsigned short Length() const { return rep->length; }
  bool IsEmpty() const { return rep->length == 0; }

  // Index of the last c before position before (the whole text when before is
  // 0xFFFF), or -1. A before that is not 0xFFFF must be below Length().
  int ReverseFind(char c, unsigned short before = 0xFFFF) const;

  // printf-style building (CStrFormat.cpp). Format replaces the text;
  // AppendFormatV appends to it. Directive %! takes a const CStr*.
  void Format(const char* format, ...);
  void AppendFormatV(const char* format, va_list args);

  // Read-only view of the representation, for tests and diagnostics.
  const CStrRep* Rep() const { return rep; }

 private:
  void Init(const char* text, unsigned short length, unsigned short capacity);
  // A new unshared rep of exactly cap (already rounded, unchecked) characters.
  static CStrRep* NewRep(const char* text, unsigned short length, unsigned cap);
  void MakeWritable(unsigned need);
  // Adds a holder to r (one this string's caller already holds) and returns r.
  static CStrRep* Share(CStrRep* r);
  // Drops a holder; the last one gives the blocks back.
  static void Release(CStrRep* r);
  // True when this string is the one holder of its rep and may write it.
  bool Unshared() const;
  bool AppendConversion(const char*& cursor, va_list* args);

  CStrRep* rep;  // never null; an empty string may point at emptyRep
};

bool operator==(const CStr& a, const CStr& b);
bool operator==(const CStr& a, const char* text);
inline bool operator!=(const CStr& a, const CStr& b) { return !(a == b); }
inline bool operator!=(const CStr& a, const char* text) { return !(a == text); }

CStr operator+(const CStr& a, const CStr& b);
CStr operator+(const CStr& a, const char* text);

#endif  // FERRET_TEXT_CSTR_H_
