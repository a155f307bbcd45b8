// HtmlEntities: HTML's character references, named and numeric.
//
// The named table holds every name of the WHATWG list (2,231, the legacy
// names without ';' among them), generated into HtmlEntities.inc by
// scripts/gen-html-entities and sorted by the bytes of the names. Lookup is a
// binary search on that sorted table, fed one character at a time:
// HtmlEntityMatcher keeps the range of names that begin with the characters
// taken so far and narrows it with two binary searches on the next
// character's position, so a streaming reader learns at once when no longer
// name can match and which is the longest whole name it has seen. Nothing is
// allocated; the table is constant data.
#ifndef FERRET_TEXT_HTMLENTITIES_H_
#define FERRET_TEXT_HTMLENTITIES_H_

#include <cstddef>
#include <cstdint>

struct HtmlEntity {
  const char* name;  // without the '&'; ends in ';' except for the legacy names
  unsigned char nameLength;
  const char* value;  // UTF-8: one or two code points
  unsigned char valueLength;
};

// The longest name in the table, ';' included.
constexpr size_t kMaxEntityNameLength = 32;

class HtmlEntityMatcher {
 public:
  HtmlEntityMatcher() { Reset(); }

  // Forgets every character taken.
  void Reset();
  // Takes c as the next character when some name begins with the characters
  // taken so far followed by c; otherwise takes nothing and returns false.
  // At most kMaxEntityNameLength characters are ever taken.
  bool Add(char c);
  // The characters taken since Reset.
  size_t Length() const { return length_; }
  // The longest whole name among the first characters taken, or null.
  const HtmlEntity* Match() const { return match_; }

 private:
  size_t lo_, hi_;  // the table rows whose names begin with what was taken
  size_t length_;
  const HtmlEntity* match_;
};

// The UTF-8 bytes (1 to 4, written to out) of the character a numeric
// reference with this value stands for, after HTML's replacements: 0,
// surrogates (0xD800-0xDFFF) and values past 0x10FFFF give U+FFFD, and
// 0x80-0x9F give the windows-1252 character of that byte where it has one.
size_t EncodeNumericReference(uint32_t value, char out[4]);

// The UTF-8 bytes (1 to 4) of code point cp (at most 0x10FFFF).
size_t EncodeUtf8(uint32_t cp, char out[4]);

#endif  // FERRET_TEXT_HTMLENTITIES_H_
