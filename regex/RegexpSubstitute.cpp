// Substitute: expands a replacement template from the submatch slots.
//
// Template elements: '&' and "\0" are the whole match, "\1".."\9" the groups,
// "\\" and "\&" the characters themselves; any other backslash is itself and
// the character after it is read as the next element. The result is measured
// first and then written into one buffer of exactly that size.
#include <cstdlib>
#include <cstring>

#include "regex/RegexpProgram.h"

namespace {

// One element of a template: a literal character, or a submatch reference.
struct Element {
  char literal;
  int slot;  // -1 for a literal
};

Element NextElement(const char*& cursor) {
  char c = *cursor++;
  if (c == '&') return {0, 0};
  if (c == '\\') {
    char after = *cursor;
    if (after >= '0' && after <= '9') {
      ++cursor;
      return {0, after - '0'};
    }
    if (after == '\\' || after == '&') {
      ++cursor;
      return {after, -1};
    }
  }
  return {c, -1};
}

}  // namespace

CStr RegexpProgram::Substitute(const char* tmpl) {
  if (tmpl == nullptr) {
    status.SetError(7);
    return CStr();
  }
  if (program == nullptr || static_cast<unsigned char>(program[0]) != kRegexpMagic) {
    status.SetError(8);
    return CStr();
  }
  auto contributes = [this](int slot) {
    return Matched() && subStart[slot] != nullptr && subEnd[slot] != nullptr &&
           subStart[slot] < subEnd[slot];
  };
  size_t length = 0;
  for (const char* cursor = tmpl; *cursor != '\0';) {
    Element e = NextElement(cursor);
    if (e.slot < 0)
      ++length;
    else if (contributes(e.slot))
      length += static_cast<size_t>(subEnd[e.slot] - subStart[e.slot]);
  }
  char* buffer = static_cast<char*>(std::malloc(length + 1));
  if (buffer == nullptr) return CStr();
  char* out = buffer;
  for (const char* cursor = tmpl; *cursor != '\0';) {
    Element e = NextElement(cursor);
    if (e.slot < 0) {
      *out++ = e.literal;
      continue;
    }
    if (!contributes(e.slot)) continue;
    size_t count = static_cast<size_t>(subEnd[e.slot] - subStart[e.slot]);
    // Stops at a NUL in the subject and pads with NULs: a NUL in the last
    // byte means the subject changed under the submatch since the match.
    std::strncpy(out, subStart[e.slot], count);
    out += count;
    if (out[-1] == '\0') {
      std::free(buffer);
      status.SetError(9);
      return CStr();
    }
  }
  *out = '\0';
  CStr result(buffer);
  std::free(buffer);
  return result;
}
