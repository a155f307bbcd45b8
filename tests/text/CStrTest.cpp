// CStr: sharing, copy before write, exact growth, the pool, searching,
// comparing, concatenating and the fatal paths.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "text/CStr.h"
#include "text/CStrPool.h"

namespace {

std::string Text(const CStr& s) { return std::string(static_cast<const char*>(s), s.Length()); }

// Allocated representations always carry the two low capacity bits.
void ExpectWellFormed(const CStr& s) {
  const CStrRep* r = s.Rep();
  EXPECT_LE(r->length, r->capacity);
  EXPECT_EQ(r->text[r->length], '\0');
  if (r != &emptyRep) {
    EXPECT_EQ(r->capacity & 3, 3);
  }
}

// Each way of writing a string, applied to "hello".
struct WriteOp {
  const char* name;
  std::function<void(CStr&)> apply;
  const char* expected;
};

const std::vector<WriteOp>& WriteOps() {
  static const std::vector<WriteOp> ops = {
      {"+= char", [](CStr& s) { s += '!'; }, "hello!"},
      {"+= text", [](CStr& s) { s += "!!"; }, "hello!!"},
      {"+= CStr", [](CStr& s) { s += CStr("?"); }, "hello?"},
      {"Append", [](CStr& s) { s.Append("xyz", 2); }, "helloxy"},
      {"= short text", [](CStr& s) { s = "hi"; }, "hi"},
      {"= empty text", [](CStr& s) { s = ""; }, ""},
      {"Clear", [](CStr& s) { s.Clear(); }, ""},
      {"Format", [](CStr& s) { s.Format("%d", 7); }, "7"},
  };
  return ops;
}

TEST(CStrShare, CopiesShareAndAWriteCopiesFirst) {
  for (const WriteOp& op : WriteOps()) {
    CStr original("hello");
    CStr copy(original);
    CStr assigned;
    assigned = original;
    const CStrRep* shared = original.Rep();
    ASSERT_EQ(copy.Rep(), shared) << op.name;
    ASSERT_EQ(assigned.Rep(), shared) << op.name;
    ASSERT_EQ(shared->refs, 3) << op.name;

    op.apply(copy);
    EXPECT_EQ(Text(copy), op.expected) << op.name;
    EXPECT_EQ(Text(original), "hello") << op.name;
    EXPECT_EQ(Text(assigned), "hello") << op.name;
    EXPECT_NE(copy.Rep(), shared) << op.name;
    EXPECT_EQ(shared->refs, 2) << op.name;
    ExpectWellFormed(copy);
  }
}

// A move hands the text over without a count changing, leaves the source
// empty and usable, and a move onto a string lets its own text go.
TEST(CStrShare, MovesHandTheTextOver) {
  CStr original("hello");
  CStr kept(original);
  const CStrRep* shared = original.Rep();
  CStr moved(std::move(original));
  EXPECT_EQ(moved.Rep(), shared);
  EXPECT_EQ(shared->refs, 2);
  EXPECT_EQ(Text(original), "");
  original += "again";  // NOLINT(bugprone-use-after-move): a moved-from string is usable
  EXPECT_EQ(Text(original), "again");
  CStr target("other text");
  const CStrRep* replaced = target.Rep();
  EXPECT_EQ(replaced->refs, 1);
  target = std::move(moved);
  EXPECT_EQ(target.Rep(), shared);
  EXPECT_EQ(shared->refs, 2);
  EXPECT_EQ(Text(moved), "");
  CStr& alias = target;
  target = std::move(alias);
  EXPECT_EQ(Text(target), "hello");
  ExpectWellFormed(target);
  ExpectWellFormed(original);
}

TEST(CStrShare, EmptyStringsShareTheEmptyRep) {
  const int32_t before = emptyRep.refs;
  {
    CStr a;
    CStr b("");
    CStr c("abc");
    c = "";
    CStr d("xy");
    d.Clear();  // unshared: keeps its buffer
    EXPECT_EQ(a.Rep(), &emptyRep);
    EXPECT_EQ(b.Rep(), &emptyRep);
    EXPECT_EQ(c.Rep(), &emptyRep);
    EXPECT_NE(d.Rep(), &emptyRep);
    EXPECT_EQ(emptyRep.refs, before + 3);
    a.Clear();  // allocates nothing
    EXPECT_EQ(a.Rep(), &emptyRep);
    EXPECT_EQ(emptyRep.refs, before + 3);
    for (const CStr* s : {&a, &b, &c, &d}) {
      EXPECT_EQ(Text(*s), "");
      EXPECT_TRUE(s->IsEmpty());
    }
    // Even an append of nothing writes a NUL: it must go to a buffer of the
    // string's own, never to the shared empty text.
    a.Append("q", 0);
    EXPECT_NE(a.Rep(), &emptyRep);
    EXPECT_EQ(Text(a), "");
    EXPECT_EQ(emptyRep.refs, before + 2);
  }
  EXPECT_EQ(emptyRep.refs, before);
}

TEST(CStrShare, ClearKeepsCapacity) {
  CStr a("0123456789abc");  // capacity 15
  const char* buffer = a.Rep()->text;
  a.Clear();
  EXPECT_EQ(a.Rep()->text, buffer);
  EXPECT_EQ(a.Rep()->capacity, 15);
  EXPECT_EQ(Text(a), "");

  CStr b("0123456789abc");
  CStr other(b);
  b.Clear();
  EXPECT_EQ(Text(other), "0123456789abc");
  EXPECT_EQ(other.Rep()->refs, 1);
  EXPECT_NE(b.Rep(), other.Rep());
  EXPECT_EQ(b.Rep()->refs, 1);
  EXPECT_EQ(b.Rep()->capacity, 15);
  EXPECT_EQ(Text(b), "");
}

TEST(CStrGrowth, CapacityIsExactAndBuffersAreReused) {
  // Appending one character at a time: capacity is the length OR 3, and the
  // buffer moves only when the capacity changes.
  const unsigned short expected[] = {3, 3, 3, 7, 7, 7, 7, 11, 11, 11, 11, 15};
  CStr s;
  const char* buffer = nullptr;
  unsigned short capacity = 0;
  for (unsigned short cap : expected) {
    s += 'x';
    EXPECT_EQ(s.Rep()->capacity, cap) << "length " << s.Length();
    if (cap == capacity) {
      EXPECT_EQ(s.Rep()->text, buffer) << s.Length();
    }
    buffer = s.Rep()->text;
    capacity = cap;
    ExpectWellFormed(s);
  }
  EXPECT_EQ(Text(s), std::string(12, 'x'));

  struct Built {
    CStr s;
    unsigned short capacity;
  } built[] = {
      {CStr(static_cast<unsigned short>(0)), 3},
      {CStr(static_cast<unsigned short>(5)), 7},
      {CStr(static_cast<unsigned short>(8)), 11},
      {CStr("ab", 10), 11},
      {CStr("abcdef", 2), 7},
      {CStr("abcd"), 7},
  };
  for (const Built& b : built) {
    EXPECT_EQ(b.s.Rep()->capacity, b.capacity) << Text(b.s);
    EXPECT_EQ(b.s.Rep()->refs, 1);
  }

  // Assigning a text that fits an unshared buffer reuses it.
  CStr t("abcdefg");
  const char* old = t.Rep()->text;
  t = "12345";
  EXPECT_EQ(t.Rep()->text, old);
  EXPECT_EQ(t.Rep()->capacity, 7);
  EXPECT_EQ(Text(t), "12345");
  t = "12345678";
  EXPECT_EQ(t.Rep()->capacity, 11);
  EXPECT_EQ(Text(t), "12345678");
}

TEST(CStrPool, FreedBlocksAreReused) {
  // A 19-character string: capacity 19, a 20-byte buffer. The lists are
  // counted while it lives, as earlier tests may have left blocks on them.
  const size_t bufferSize = 20;
  size_t buffers, records;
  const char* text;
  const CStrRep* rep;
  {
    CStr s("0123456789abcdefghi");
    text = s.Rep()->text;
    rep = s.Rep();
    ASSERT_EQ(s.Rep()->capacity, bufferSize - 1);
    buffers = CStrPool::FreeCount(bufferSize);
    records = CStrPool::FreeCount(sizeof(CStrRep));
  }
  EXPECT_EQ(CStrPool::FreeCount(bufferSize), buffers + 1);
  EXPECT_EQ(CStrPool::FreeCount(sizeof(CStrRep)), records + 1);
  CStr again("ihgfedcba9876543210");
  EXPECT_EQ(again.Rep()->text, text);
  EXPECT_EQ(again.Rep(), rep);
  EXPECT_EQ(CStrPool::FreeCount(bufferSize), buffers);
  EXPECT_EQ(Text(again), "ihgfedcba9876543210");

  // A block goes back to the list of its own size only.
  void* block = CStrPool::Take(40);
  const size_t free40 = CStrPool::FreeCount(40);
  const size_t free44 = CStrPool::FreeCount(44);
  CStrPool::Give(block, 40);
  EXPECT_EQ(CStrPool::FreeCount(40), free40 + 1);
  void* other = CStrPool::Take(44);
  EXPECT_NE(other, block);
  EXPECT_EQ(CStrPool::FreeCount(44), free44 == 0 ? 0 : free44 - 1);
  EXPECT_EQ(CStrPool::Take(40), block);
  CStrPool::Give(other, 44);
  CStrPool::Give(block, 40);
}

// The pool's bound: a buffer under kPoolLimit bytes goes back to the list of
// its size, the last list (316 bytes) included; from the bound up (a string
// of length 316 to 319 has capacity 319, a 320-byte buffer) it goes back to
// the heap and leaves every list as it was. Counted while each string lives,
// as above.
TEST(CStrPool, BuffersFromTheBoundUpLeaveEveryListAlone) {
  auto lists = [] {
    std::vector<size_t> counts;
    for (size_t size = 0; size < CStrPool::kPoolLimit; size += 4) {
      counts.push_back(CStrPool::FreeCount(size));
    }
    return counts;
  };
  const struct {
    unsigned short length;
    size_t buffer;
  } rows[] = {{3, 4}, {311, 312}, {315, 316}, {316, 320}, {319, 320}, {320, 324}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.length);
    const bool pooled = row.buffer < CStrPool::kPoolLimit;
    std::vector<size_t> expected;
    const char* text;
    {
      CStr s(std::string(row.length, 'x').c_str());
      ASSERT_EQ(s.Rep()->capacity + 1u, row.buffer);
      text = s.Rep()->text;
      expected = lists();
    }
    ++expected[sizeof(CStrRep) / 4];
    if (pooled) ++expected[row.buffer / 4];
    EXPECT_EQ(lists(), expected);
    EXPECT_EQ(CStrPool::FreeCount(row.buffer), pooled ? expected[row.buffer / 4] : 0u);
    if (pooled) {
      CStr again(std::string(row.length, 'y').c_str());
      EXPECT_EQ(again.Rep()->text, text);
    }
  }
}

TEST(CStrAppend, TextFromTheStringsOwnBuffer) {
  // 400 characters: the buffers live on the heap, so reading a released one
  // is caught by the address sanitizer; small ones are caught by the pool's
  // link overwriting their first bytes.
  const std::string longText(400, 'L');
  struct Case {
    std::string start;
    size_t offset, count;
  } cases[] = {
      {"abc", 0, 3},       // capacity 3 -> 7: new buffer
      {"abcdefg", 2, 3},   // capacity 7 -> 11: new buffer
      {"ab", 0, 2},        // capacity 3 -> 7: new buffer
      {"a", 0, 1},         // fits capacity 3: in place
      {longText, 0, 400},  // heap buffer replaced
      {longText + "xy", 400, 2},
  };
  for (const Case& c : cases) {
    for (bool shared : {false, true}) {
      CStr s(c.start.c_str());
      CStr holder;
      if (shared) holder = s;
      s.Append(static_cast<const char*>(s) + c.offset, static_cast<unsigned short>(c.count));
      EXPECT_EQ(Text(s), c.start + c.start.substr(c.offset, c.count))
          << c.start.substr(0, 10) << " shared " << shared;
      if (shared) {
        EXPECT_EQ(Text(holder), c.start);
      }
      ExpectWellFormed(s);
    }
  }
  CStr s("abc");
  s += s;
  s += static_cast<const char*>(s);
  EXPECT_EQ(Text(s), "abcabcabcabc");

  // Assigning a text from the string's own buffer, shared or not.
  CStr u("hello world");
  u = static_cast<const char*>(u) + 6;
  EXPECT_EQ(Text(u), "world");
  CStr v("hello world");
  CStr w(v);
  v = static_cast<const char*>(v) + 6;
  EXPECT_EQ(Text(v), "world");
  EXPECT_EQ(Text(w), "hello world");
}

TEST(CStrSearch, ReverseFind) {
  struct Case {
    const char* text;
    char c;
    unsigned short before;
    int expected;
  } cases[] = {
      {"a/b/c", '/', 0xFFFF, 3}, {"a/b/c", '/', 4, 3},     {"a/b/c", '/', 3, 1},
      {"a/b/c", '/', 2, 1},      {"a/b/c", '/', 1, -1},    {"a/b/c", '/', 0, -1},
      {"/abc", '/', 1, 0},       {"abc", '/', 0xFFFF, -1}, {"abca", 'a', 0xFFFF, 3},
      {"abca", 'a', 3, 0},       {"", '/', 0xFFFF, -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CStr(c.text).ReverseFind(c.c, c.before), c.expected)
        << c.text << " '" << c.c << "' before " << c.before;
  }
}

TEST(CStrCompare, EqualityAndConcatenation) {
  CStr nul;
  nul.Append("a\0b", 3);  // equality is by length and bytes, not C strings
  CStr nulToo;
  nulToo.Append("a\0b", 3);
  CStr nulOther;
  nulOther.Append("a\0c", 3);
  struct Case {
    CStr a, b;
    bool equal;
  } cases[] = {
      {CStr("abc"), CStr("abc"), true},
      {CStr("abc"), CStr("abcd"), false},
      {CStr("abcd"), CStr("abc"), false},
      {CStr("abc"), CStr("abd"), false},
      {CStr(), CStr(""), true},
      {CStr(), CStr("a"), false},
      {nul, nulToo, true},
      {nul, nulOther, false},
      {nul, CStr("a"), false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.a == c.b, c.equal) << Text(c.a) << " vs " << Text(c.b);
    EXPECT_EQ(c.a != c.b, !c.equal) << Text(c.a) << " vs " << Text(c.b);
  }
  EXPECT_TRUE(CStr() == "");
  EXPECT_FALSE(CStr("x") == "");
  EXPECT_TRUE(CStr("x") == "x");
  EXPECT_FALSE(CStr("x") == "xy");
  EXPECT_FALSE(nul == "a");

  CStr ab("ab"), cd("cd"), empty;
  struct Sum {
    CStr result;
    const char* expected;
  } sums[] = {
      {ab + "", "ab"},          {empty + cd, "cd"}, {ab + cd, "abcd"},
      {ab + "/" + cd, "ab/cd"}, {empty + "", ""},
  };
  for (const Sum& s : sums) {
    EXPECT_EQ(Text(s.result), s.expected);
    EXPECT_EQ(s.result.Rep()->refs, 1);
    ExpectWellFormed(s.result);
  }
  EXPECT_EQ(Text(ab), "ab");
  EXPECT_EQ(Text(cd), "cd");
  EXPECT_EQ(ab.Rep()->refs, 1);
  EXPECT_EQ(Text(ab + ab), "abab");
}

TEST(CStrLimit, MaximumLengthIsValid) {
  const std::string max(kCStrMaxLength, 'm');
  CStr built(max.c_str());
  EXPECT_EQ(built.Length(), kCStrMaxLength);

  CStr appended(std::string(kCStrMaxLength - 10, 'm').c_str());
  while (appended.Length() < kCStrMaxLength) appended += 'm';
  EXPECT_EQ(Text(appended), max);
  ExpectWellFormed(appended);

  CStr blocks(std::string(kCStrMaxLength - 1, 'm').c_str());
  blocks.Append("m", 1);
  EXPECT_TRUE(blocks == max.c_str());

  CStr half(max.substr(0, 30000).c_str());
  EXPECT_EQ(Text(half + max.substr(30000).c_str()), max);
  CStr capacity(static_cast<unsigned short>(kCStrMaxLength));
  capacity += max.c_str();
  EXPECT_EQ(capacity.Length(), kCStrMaxLength);
}

// Each fatal path ends the process through abort, with its code on stderr.
struct FatalCase {
  const char* name;
  std::function<void()> run;
  int code;
};

TEST(CStrFatalDeathTest, EachMisuseEndsTheProcessWithItsCode) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  static const std::string max(kCStrMaxLength, 'm');
  static const std::string over(kCStrMaxLength + 1, 'o');
  static const std::string wraps(65536 + 4, 'w');  // 4 once cut to 16 bits
  static const std::string big(40000, 'b');
  const FatalCase cases[] = {
      {"text too long", [] { CStr s(over.c_str()); }, 5},
      {"capacity too large", [] { CStr s(static_cast<unsigned short>(kCStrMaxLength + 1)); }, 5},
      {"text with large capacity",
       [] { CStr s("ab", static_cast<unsigned short>(kCStrMaxLength + 1)); }, 5},
      {"+= char past the limit",
       [] {
         CStr s(max.c_str());
         s += 'x';
       },
       5},
      {"Append past the limit",
       [] {
         CStr s(max.c_str());
         s.Append("xy", 1);
       },
       5},
      {"Append sum past the limit",
       [] {
         CStr s(big.c_str());
         s.Append(big.c_str(), 30000);
       },
       5},
      {"= text too long",
       [] {
         CStr s("a");
         s = over.c_str();
       },
       5},
      {"+= text past the limit",
       [] {
         CStr s("a");
         s += max.c_str();
       },
       5},
      {"+= text past 16 bits",
       [] {
         CStr s;
         s += wraps.c_str();
       },
       5},
      {"+= CStr past the limit",
       [] {
         CStr s("a");
         s += CStr(max.c_str());
       },
       5},
      {"operator+ past the limit", [] { CStr(max.c_str()) + "x"; }, 5},
      {"operator+ past 16 bits", [] { CStr(big.c_str()) + CStr(big.c_str()); }, 5},
      {"ReverseFind at the length", [] { CStr("abcde").ReverseFind('a', 5); }, 2},
      {"ReverseFind past the length", [] { CStr("abc").ReverseFind('a', 0xFFFE); }, 2},
      {"ReverseFind on empty", [] { CStr().ReverseFind('a', 0); }, 2},
  };
  for (const FatalCase& c : cases) {
    const std::string message = "CStr fatal " + std::to_string(c.code) + "\n";
    EXPECT_EXIT(c.run(), testing::KilledBySignal(SIGABRT), message) << c.name;
  }
}

// Stands for an exhausted heap.
void* NoMemory(size_t) { return nullptr; }

TEST(CStrFatalDeathTest, AllocationFailureEndsTheProcessWithItsReason) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  static const std::string big(1000, 'b');
  const FatalCase cases[] = {
      // 208 bytes: a pooled size that no earlier string in the child freed.
      {"pooled buffer",
       [] {
         CStrPool::SetAllocator(NoMemory);
         CStr s(static_cast<unsigned short>(207));
       },
       6},
      {"heap buffer",
       [] {
         CStrPool::SetAllocator(NoMemory);
         CStr s(big.c_str());
       },
       6},
      {"copy before write",
       [] {
         CStr s(big.c_str());
         CStr copy(s);
         CStrPool::SetAllocator(NoMemory);
         copy += 'x';
       },
       6},
      {"growth",
       [] {
         CStr s("abc");
         CStrPool::SetAllocator(NoMemory);
         s += big.c_str();
       },
       6},
  };
  for (const FatalCase& c : cases) {
    EXPECT_EXIT(c.run(), testing::KilledBySignal(SIGABRT), "CStr fatal 6: out of memory\n")
        << c.name;
  }
}

}  // namespace
