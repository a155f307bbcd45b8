#include "text/JsonString.h"

#include <cstddef>

namespace {

// The length of the well-formed UTF-8 sequence at bytes[at] (2 to 4), or 0.
size_t SequenceAt(std::string_view bytes, size_t at) {
  const auto byte = [&bytes](size_t i) { return static_cast<unsigned char>(bytes[i]); };
  unsigned char lead = byte(at);
  size_t length;
  unsigned char low = 0x80, high = 0xBF;  // the bounds of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // no overlong form
    if (lead == 0xED) high = 0x9F;  // no surrogate
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing past U+10FFFF
  } else {
    return 0;
  }
  if (at + length > bytes.size()) return 0;
  if (byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
  }
  return length;
}

void AppendEscape(std::string* out, unsigned char byte) {
  static const char kHex[] = "0123456789abcdef";
  *out += "\\u00";
  *out += kHex[byte >> 4];
  *out += kHex[byte & 15];
}

}  // namespace

void AppendJsonString(std::string* out, std::string_view bytes) {
  out->reserve(out->size() + bytes.size() + 2);
  *out += '"';
  for (size_t at = 0; at < bytes.size();) {
    unsigned char byte = static_cast<unsigned char>(bytes[at]);
    if (byte >= 0x80) {
      size_t length = SequenceAt(bytes, at);
      if (length == 0) {
        AppendEscape(out, byte);
        ++at;
      } else if (length == 2 && byte == 0xC2 && static_cast<unsigned char>(bytes[at + 1]) <= 0x9F) {
        AppendEscape(out, static_cast<unsigned char>(bytes[at + 1]));  // a C1 control
        at += 2;
      } else {
        out->append(bytes.data() + at, length);
        at += length;
      }
      continue;
    }
    switch (byte) {
      case '"': *out += "\\\""; break;
      case '\\': *out += "\\\\"; break;
      case '\n': *out += "\\n"; break;
      case '\r': *out += "\\r"; break;
      case '\t': *out += "\\t"; break;
      case '\b': *out += "\\b"; break;
      case '\f': *out += "\\f"; break;
      default:
        if (byte < 0x20 || byte == 0x7f) {
          AppendEscape(out, byte);
        } else {
          *out += static_cast<char>(byte);
        }
    }
    ++at;
  }
  *out += '"';
}
