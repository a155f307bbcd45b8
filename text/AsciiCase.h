// AsciiCase: the letter case of ASCII text, as protocols compare names
// (field names, codings, schemes, robots.txt records): only A-Z and a-z fold;
// every other byte, UTF-8 included, is itself, whatever the locale.
#ifndef FERRET_TEXT_ASCIICASE_H_
#define FERRET_TEXT_ASCIICASE_H_

#include <string_view>

inline char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// text equals lower, which is in lower case, letter case aside.
inline bool EqualsFolded(std::string_view text, std::string_view lower) {
  if (text.size() != lower.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (AsciiLower(text[i]) != lower[i]) return false;
  }
  return true;
}

inline bool StartsWithFolded(std::string_view text, std::string_view lowerHead) {
  return text.size() >= lowerHead.size() &&
         EqualsFolded(text.substr(0, lowerHead.size()), lowerHead);
}

inline bool EndsWithFolded(std::string_view text, std::string_view lowerTail) {
  return text.size() >= lowerTail.size() &&
         EqualsFolded(text.substr(text.size() - lowerTail.size()), lowerTail);
}

#endif  // FERRET_TEXT_ASCIICASE_H_
