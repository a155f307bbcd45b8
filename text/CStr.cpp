#include "text/CStr.h"

#include <cstring>
#include <new>
#if __has_include(<sys/single_threaded.h>)
#include <sys/single_threaded.h>
#endif

#include "text/CStrFatal.h"
#include "text/CStrPool.h"

namespace {

char emptyText[4];  // zero-filled: the text of every empty shared string

constexpr unsigned RoundCapacity(unsigned capacity) { return capacity | 3; }

void CheckLength(size_t n) {
  if (n > kCStrMaxLength) CStrFatal(5);
}

// True while the process has never had a second thread. No other thread can
// then touch a count, so a plain load and store stand in for the locked
// read-modify-write, as the C++ library's shared_ptr does. The flag turns
// false before a second thread starts, and the start orders every earlier
// plain update before anything the new thread does.
bool SingleThreaded() {
#if defined(__GLIBC__) && __has_include(<sys/single_threaded.h>)
  return __libc_single_threaded != 0;
#else
  return false;
#endif
}

// Whether emptyRep's count is still kept. Every empty string in every thread
// shares it, so once a second thread has existed its count is no longer
// changed: a count that all threads change at once costs each empty string a
// cache line fought over, and emptyRep is never written or freed anyway. Its
// refs then stays at 2 or above, as it was; the flag never turns back.
std::atomic<bool> emptyCountDropped{false};

bool CountsEmptyRep() {
  if (emptyCountDropped.load(std::memory_order_relaxed)) return false;
  if (SingleThreaded()) return true;
  emptyCountDropped.store(true, std::memory_order_relaxed);
  return false;
}

}  // namespace

// Constant-initialised, so it is ready before any global CStr is constructed.
CStrRep emptyRep = {2, emptyText, 0, 0};

void CStr::Init(const char* text, unsigned short length, unsigned short capacity) {
  unsigned cap = length > capacity ? length : capacity;
  CheckLength(cap);
  if (length == 0 && cap == 0) {
    rep = Share(&emptyRep);
    return;
  }
  rep = NewRep(text, length, RoundCapacity(cap));
}

CStrRep* CStr::NewRep(const char* text, unsigned short length, unsigned cap) {
  // The pool ends the process rather than hand out a null block.
  char* buffer = static_cast<char*>(CStrPool::Take(cap + 1));
  // No other thread can see the new rep before its maker hands the string on.
  CStrRep* r =
      new (CStrPool::Take(sizeof(CStrRep))) CStrRep{1, buffer, length, static_cast<uint16_t>(cap)};
  std::memcpy(buffer, text, length);
  buffer[length] = '\0';
  return r;
}

CStrRep* CStr::Share(CStrRep* r) {
  if (r == &emptyRep && !CountsEmptyRep()) return r;
  if (SingleThreaded()) {
    r->refs.store(r->refs.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
  } else {
    r->refs.fetch_add(1, std::memory_order_relaxed);
  }
  return r;
}

void CStr::Release(CStrRep* r) {
  // Acquire-release, so that the thread that gives the blocks back has seen
  // every use the other holders made before they let go. (A separate acquire
  // fence would do as well, but ThreadSanitizer does not follow fences.)
  if (r == &emptyRep && !CountsEmptyRep()) return;
  int32_t before;
  if (SingleThreaded()) {
    before = r->refs.load(std::memory_order_relaxed);
    r->refs.store(before - 1, std::memory_order_relaxed);
  } else {
    before = r->refs.fetch_sub(1, std::memory_order_acq_rel);
  }
  if (before == 1 && r != &emptyRep) {
    CStrPool::Give(r->text, r->capacity + 1u);
    CStrPool::Give(r, sizeof(CStrRep));
  }
}

bool CStr::Unshared() const { return rep->refs.load(std::memory_order_acquire) == 1; }

void CStr::MakeWritable(unsigned need) {
  CheckLength(need);
  if (!Unshared() || rep->capacity < RoundCapacity(need)) {
    CStrRep* old = rep;
    // Exact growth: the new capacity is need OR 3, never less than the
    // present length. need is checked above, so even 65530 OR 3 is allowed.
    // Always a fresh rep: Init would hand an empty string with need 0 the
    // shared emptyRep, and the caller is about to write the NUL into it.
    unsigned cap = need > old->length ? need : old->length;
    rep = NewRep(old->text, old->length, RoundCapacity(cap));
    Release(old);
  }
}

CStr::CStr() : rep(Share(&emptyRep)) {}

CStr::CStr(const char* text, unsigned short capacity) {
  size_t n = std::strlen(text);
  CheckLength(n);
  Init(text, static_cast<unsigned short>(n), capacity);
}

CStr::CStr(unsigned short capacity) {
  CheckLength(capacity);
  rep = NewRep("", 0, RoundCapacity(capacity));
}

CStr::CStr(const CStr& other) : rep(Share(other.rep)) {}

CStr::CStr(CStr&& other) noexcept : rep(other.rep) { other.rep = Share(&emptyRep); }

CStr::~CStr() { Release(rep); }

CStr& CStr::operator=(CStr&& other) noexcept {
  if (this != &other) {
    CStrRep* old = rep;
    rep = other.rep;
    other.rep = Share(&emptyRep);
    Release(old);
  }
  return *this;
}

CStr& CStr::operator=(const CStr& other) {
  if (this != &other) {
    CStrRep* shared = Share(other.rep);  // before the release: other may share this very rep
    Release(rep);
    rep = shared;
  }
  return *this;
}

CStr& CStr::operator=(const char* text) {
  size_t n = std::strlen(text);
  if (n == 0) {
    if (rep != &emptyRep) {
      Release(rep);
      rep = Share(&emptyRep);
    }
    return *this;
  }
  CheckLength(n);
  if (Unshared() && rep->capacity >= n) {
    std::memmove(rep->text, text, n + 1);  // text may lie in this buffer
    rep->length = static_cast<uint16_t>(n);
  } else {
    // A shared rep stays alive through its other holders, so text, even if it
    // points into it, is still readable by Init.
    CStrRep* old = rep;
    Init(text, static_cast<unsigned short>(n), 0);
    Release(old);
  }
  return *this;
}

void CStr::Clear() {
  if (rep == &emptyRep) return;
  if (Unshared()) {
    rep->text[0] = '\0';
    rep->length = 0;
  } else {
    unsigned short capacity = rep->capacity;
    Release(rep);
    rep = NewRep("", 0, capacity);
  }
}

CStr& CStr::operator+=(char c) {
  unsigned length = rep->length;
  MakeWritable(length + 1);
  rep->text[length] = c;
  rep->text[length + 1] = '\0';
  rep->length = static_cast<uint16_t>(length + 1);
  return *this;
}

void CStr::Append(const char* text, unsigned short count) {
  unsigned length = rep->length;
  CheckLength(length + count);
  // The source may lie inside this string's buffer, which MakeWritable may
  // replace: find it again at the same offset in the new buffer.
  const char* begin = rep->text;
  bool inside = text >= begin && text <= begin + rep->capacity;
  size_t offset = inside ? static_cast<size_t>(text - begin) : 0;
  MakeWritable(length + count);
  if (inside) text = rep->text + offset;
  std::memmove(rep->text + length, text, count);
  rep->length = static_cast<uint16_t>(length + count);
  rep->text[rep->length] = '\0';
}

CStr& CStr::operator+=(const CStr& s) {
  if (!s.IsEmpty()) Append(s.rep->text, s.rep->length);
  return *this;
}

CStr& CStr::operator+=(const char* text) {
  size_t n = std::strlen(text);
  if (n == 0) return *this;
  CheckLength(n);
  Append(text, static_cast<unsigned short>(n));
  return *this;
}

int CStr::ReverseFind(char c, unsigned short before) const {
  if (before == 0xFFFF) {
    const char* found = std::strrchr(rep->text, c);
    return found == nullptr ? -1 : static_cast<int>(found - rep->text);
  }
  if (before >= rep->length) CStrFatal(2);
  for (int i = before - 1; i >= 0; --i) {
    if (rep->text[i] == c) return i;
  }
  return -1;
}

bool operator==(const CStr& a, const CStr& b) {
  return a.Length() == b.Length() &&
         std::memcmp(static_cast<const char*>(a), static_cast<const char*>(b), a.Length()) == 0;
}

bool operator==(const CStr& a, const char* text) {
  size_t n = std::strlen(text);
  return n == a.Length() && std::memcmp(static_cast<const char*>(a), text, n) == 0;
}

namespace {

CStr Concatenate(const CStr& a, const char* text, size_t n) {
  size_t total = a.Length() + n;
  CheckLength(total);
  CStr result(static_cast<unsigned short>(total));
  result.Append(a, a.Length());
  result.Append(text, static_cast<unsigned short>(n));
  return result;
}

}  // namespace

CStr operator+(const CStr& a, const CStr& b) { return Concatenate(a, b, b.Length()); }

CStr operator+(const CStr& a, const char* text) { return Concatenate(a, text, std::strlen(text)); }
