// printf-style building of a CStr. The format is walked once: literal runs go
// straight into the string, each directive is appended on its own (strings
// directly, numbers through snprintf into a fixed stack buffer).
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "text/CStr.h"
#include "text/CStrFatal.h"

namespace {

// Flags, star, point, digits and size letters that may stand between the
// percent sign and the conversion letter.
constexpr const char kDirectiveChars[] = "-+0 #*.123456789hlL";

// Room for the directive text: '%', at most kMaxDirective characters, the
// conversion letter and a NUL.
constexpr size_t kDirectiveSize = 64;
constexpr size_t kMaxDirective = kDirectiveSize - 3;

// Collected text of one directive, kept within its buffer whatever the format.
struct Directive {
  char text[kDirectiveSize] = "%";
  size_t length = 1;

  void Add(char c) {
    // Every directive takes exactly one argument, so a star cannot be served
    // from the argument list; it is dropped. So are the size letters l and L:
    // integer directives take an int and floating ones a double.
    if (c == '*' || c == 'l' || c == 'L') return;
    if (length <= kMaxDirective) text[length++] = c;
  }
  const char* Finish(char letter) {
    text[length] = letter;
    text[length + 1] = '\0';
    return text;
  }
};

// Precision of a %s directive: the number after the first point, when one is
// given and not negative; -1 otherwise.
long StringPrecision(const Directive& d) {
  const char* point = static_cast<const char*>(std::memchr(d.text, '.', d.length));
  if (point == nullptr || point + 1 >= d.text + d.length) return -1;
  char digits[kDirectiveSize];
  size_t n = static_cast<size_t>(d.text + d.length - (point + 1));
  std::memcpy(digits, point + 1, n);
  digits[n] = '\0';
  long precision = std::strtol(digits, nullptr, 10);
  return precision >= 0 ? precision : -1;
}

}  // namespace

void CStr::Format(const char* format, ...) {
  Clear();
  va_list args;
  va_start(args, format);
  AppendFormatV(format, args);
  va_end(args);
}

void CStr::AppendFormatV(const char* format, va_list args) {
  va_list ap;
  va_copy(ap, args);
  const char* cursor = format;
  for (;;) {
    const char* percent = std::strchr(cursor, '%');
    if (percent == nullptr) break;
    size_t literal = static_cast<size_t>(percent - cursor);
    if (literal != 0) {
      if (literal > kCStrMaxLength) CStrFatal(5);
      Append(cursor, static_cast<unsigned short>(literal));
    }
    cursor = percent + 1;
    if (!AppendConversion(cursor, &ap)) break;
  }
  if (*cursor != '\0') *this += cursor;
  va_end(ap);
}

bool CStr::AppendConversion(const char*& cursor, va_list* args) {
  Directive directive;
  for (;;) {
    char c = *cursor;
    if (c == '\0') return false;
    ++cursor;
    if (std::strchr(kDirectiveChars, c) != nullptr) {
      directive.Add(c);
      continue;
    }
    char buffer[256];
    buffer[0] = '\0';  // what is appended if snprintf fails
    switch (c) {
      case 's': {
        const char* text = va_arg(*args, const char*);
        if (text == nullptr) text = "(null)";
        size_t n = std::strlen(text);
        long precision = StringPrecision(directive);
        if (precision >= 0 && static_cast<size_t>(precision) < n) {
          n = static_cast<size_t>(precision);
        }
        if (n > kCStrMaxLength) CStrFatal(5);
        if (n != 0) Append(text, static_cast<unsigned short>(n));
        break;
      }
      case '!': {
        const CStr* s = va_arg(*args, const CStr*);
        if (s != nullptr) *this += *s;
        break;
      }
      case 'c':
      case 'C':
      case 'd':
      case 'i':
      case 'o':
      case 'u':
      case 'x':
      case 'X':
        std::snprintf(buffer, 64, directive.Finish(c), va_arg(*args, int));
        *this += buffer;
        break;
      case 'e':
      case 'E':
      case 'f':
      case 'g':
      case 'G':
        std::snprintf(buffer, sizeof buffer, directive.Finish(c), va_arg(*args, double));
        *this += buffer;
        break;
      case 'p':
        std::snprintf(buffer, 64, directive.Finish(c), va_arg(*args, void*));
        *this += buffer;
        break;
      case 'n': CStrFatal(3);
      case 'S': CStrFatal(4);
      default: *this += c; break;
    }
    return true;
  }
}
