// JsonString: bytes written as a JSON string (RFC 8259), whatever they are.
//
// Valid UTF-8 passes through as it is, except '"', '\\' and the control
// characters (below U+0020, U+007F, and U+0080 to U+009F, which a terminal
// could take as commands), which are escaped (\", \\, \n, \r, \t, \b,
// \f, else \u00XX). A byte that does not begin or continue a
// well-formed UTF-8 sequence (overlong forms, surrogates and code points
// past U+10FFFF included) is read as Latin-1 and written as its \u00XX
// escape, so that every string is valid JSON and no byte is lost: a reader
// that sees \u0080 to \u00FF where UTF-8 was expected knows the byte.
#ifndef FERRET_TEXT_JSONSTRING_H_
#define FERRET_TEXT_JSONSTRING_H_

#include <string>
#include <string_view>

// Appends bytes to *out as a JSON string, quotes included.
void AppendJsonString(std::string* out, std::string_view bytes);

inline std::string JsonString(std::string_view bytes) {
  std::string out;
  AppendJsonString(&out, bytes);
  return out;
}

#endif  // FERRET_TEXT_JSONSTRING_H_
