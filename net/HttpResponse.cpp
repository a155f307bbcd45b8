#include "net/HttpResponse.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "net/GetArea.h"
#include "net/Url.h"
#include "text/AsciiCase.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// A character that may appear in a field name.
bool IsNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || IsDigit(c) ||
         (c != '\0' && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr);
}

bool SameName(const std::string& name, const char* wanted) {
  size_t i = 0;
  for (; i < name.size() && wanted[i] != '\0'; ++i) {
    if (AsciiLower(name[i]) != AsciiLower(wanted[i])) return false;
  }
  return i == name.size() && wanted[i] == '\0';
}

// Appends text to line without its CRs.
void AppendWithoutCr(std::string& line, const char* text, size_t length) {
  while (length > 0) {
    const void* cr = std::memchr(text, '\r', length);
    size_t plain = cr ? static_cast<size_t>(static_cast<const char*>(cr) - text) : length;
    line.append(text, plain);
    if (!cr) return;
    text += plain + 1;
    length -= plain + 1;
  }
}

// Reads one line without its CRs and LF into line, spending at most *budget
// bytes. False at the end of the stream with nothing read, or when the
// budget ran out.
bool ReadLine(std::streambuf& source, std::string& line, size_t* budget, std::string* raw) {
  line.clear();
  bool any = false;
  for (;;) {
    if (*budget == 0) return false;
    if (GetArea::Next(&source) == GetArea::End(&source) &&
        source.sgetc() == std::char_traits<char>::eof()) {
      return any;
    }
    any = true;
    const char* next = GetArea::Next(&source);
    if (next == GetArea::End(&source)) {  // a buffer without a get area: one at a time
      char c = static_cast<char>(source.sbumpc());
      --*budget;
      if (raw != nullptr) *raw += c;
      if (c == '\n') return true;
      if (c != '\r') line += c;
      continue;
    }
    size_t held = static_cast<size_t>(GetArea::End(&source) - next);
    size_t span = held < *budget ? held : *budget;
    const void* lf = std::memchr(next, '\n', span);
    size_t taken = lf ? static_cast<size_t>(static_cast<const char*>(lf) - next) + 1 : span;
    if (raw != nullptr) raw->append(next, taken);
    AppendWithoutCr(line, next, lf ? taken - 1 : taken);
    GetArea::Advance(&source, static_cast<int>(taken));
    *budget -= taken;
    if (lf) return true;
  }
}

// "HTTP/" digit "." digit, blanks or tabs, three digits, then the line's end
// or a blank or tab: the code, or -1 for a line of any other form.
int StatusOf(const std::string& line) {
  const char* p = line.c_str();  // a NUL ends the status line
  if (std::strncmp(p, "HTTP/", 5) != 0) return -1;
  p += 5;
  if (!IsDigit(p[0]) || p[1] != '.' || !IsDigit(p[2]) || !IsBlank(p[3])) return -1;
  p += 3;
  while (IsBlank(*p)) ++p;
  if (!IsDigit(p[0]) || !IsDigit(p[1]) || !IsDigit(p[2])) return -1;
  if (p[3] != '\0' && !IsBlank(p[3])) return -1;
  return (p[0] - '0') * 100 + (p[1] - '0') * 10 + (p[2] - '0');
}

// A list element of digits only, as a length; -1 for anything else, a
// value past 63 bits included.
long long LengthOf(const std::string& element) {
  if (element.empty()) return -1;
  for (char c : element) {
    if (!IsDigit(c)) return -1;
  }
  errno = 0;
  long long length = std::strtoll(element.c_str(), nullptr, 10);
  return errno != 0 ? -1 : length;
}

// The element of list that begins at *at, without the blanks around it;
// *at moves past it and its comma.
std::string NextElement(const std::string& list, size_t* at) {
  size_t comma = list.find(',', *at);
  size_t end = comma == std::string::npos ? list.size() : comma;
  size_t begin = *at;
  while (begin < end && IsBlank(list[begin])) ++begin;
  size_t finish = end;
  while (finish > begin && IsBlank(list[finish - 1])) --finish;
  *at = comma == std::string::npos ? std::string::npos : comma + 1;
  return list.substr(begin, finish - begin);
}

}  // namespace

HttpResponse::End HttpResponse::Read(std::streambuf& source, std::string* raw) {
  fields.clear();
  fields.reserve(kUsualFields);  // room made once for a head's fields
  status = 0;
  statusLine = false;
  version = 0;
  size_t budget = kMaxHeaderBytes;
  std::string line;
  end = End::kStreamEnded;
  bool first = true, blankBefore = false;
  while (ReadLine(source, line, &budget, raw)) {
    if (line.empty() && first && !blankBefore) {
      blankBefore = true;
      continue;
    }
    if (line.empty()) {
      end = End::kBlankLine;
      break;
    }
    parseLine(line, first);
    first = false;
  }
  if (end != End::kBlankLine && budget == 0) end = End::kTooLarge;
  bytesRead = kMaxHeaderBytes - budget;
  return end;
}

void HttpResponse::parseLine(const std::string& line, bool first) {
  if (first) {
    int code = StatusOf(line);
    if (code >= 0) {
      status = code;
      statusLine = true;
      version = (line[5] - '0') * 10 + (line[7] - '0');
      return;
    }
  }
  size_t colon = 0;
  while (colon < line.size() && IsNameChar(line[colon])) ++colon;
  if (colon == 0 || colon == line.size() || line[colon] != ':') return;
  size_t begin = colon + 1;
  while (begin < line.size() && IsBlank(line[begin])) ++begin;
  size_t finish = line.size();
  while (finish > begin && IsBlank(line[finish - 1])) --finish;
  fields.push_back({line.substr(0, colon), line.substr(begin, finish - begin)});
}

const std::string* HttpResponse::Find(const char* name) const {
  for (const Field& field : fields) {
    if (SameName(field.name, name)) return &field.value;
  }
  return nullptr;
}

std::vector<std::string> HttpResponse::FindAll(const char* name) const {
  std::vector<std::string> values;
  for (const Field& field : fields) {
    if (SameName(field.name, name)) values.push_back(field.value);
  }
  return values;
}

HttpResponse::Length HttpResponse::ContentLengthField() const {
  Length length;
  using Kind = Length::Kind;
  bool invalid = false, conflicting = false, any = false;
  for (const std::string& value : FindAll("Content-Length")) {
    if (any) length.text += ", ";
    length.text += value;
    any = true;
    for (size_t at = 0; at != std::string::npos;) {
      std::string element = NextElement(value, &at);
      if (element.empty()) continue;
      long long one = LengthOf(element);
      if (one < 0) {
        invalid = true;
      } else if (length.value >= 0 && one != length.value) {
        conflicting = true;
      } else {
        length.value = one;
      }
    }
  }
  if (!any) return length;
  if (invalid || length.value < 0) {
    length.kind = Kind::kInvalid;
  } else if (conflicting) {
    length.kind = Kind::kConflicting;
  } else {
    length.kind = Kind::kValid;
    return length;
  }
  length.value = -1;
  return length;
}

long long HttpResponse::ContentLength() const {
  Length length = ContentLengthField();
  return length.kind == Length::Kind::kValid ? length.value : -1;
}

std::string HttpResponse::ContentType() const {
  const std::string* value = Find("Content-Type");
  return value != nullptr ? *value : std::string();
}

bool HttpResponse::IsHtml() const {
  const std::string* value = Find("Content-Type");
  if (value == nullptr || value->size() < 9) return false;
  const char* html = "text/html";
  for (size_t i = 0; i < 9; ++i) {
    if (AsciiLower((*value)[i]) != html[i]) return false;
  }
  return true;
}

CStr HttpResponse::Location() const {
  const std::string* value = Find("Location");
  CStr location;
  if (value == nullptr) return location;
  size_t length = std::strlen(value->c_str());
  if (length > kMaxUrlLength) length = kMaxUrlLength + 1;
  location.Append(value->c_str(), static_cast<unsigned short>(length));
  return location;
}

std::string HttpResponse::TransferEncoding() const {
  const std::string* value = Find("Transfer-Encoding");
  return value != nullptr ? *value : std::string();
}

std::string HttpResponse::Connection() const {
  const std::string* value = Find("Connection");
  return value != nullptr ? *value : std::string();
}

bool HttpResponse::HasToken(const char* name, const char* token) const {
  for (const std::string& value : FindAll(name)) {
    for (size_t at = 0; at != std::string::npos;) {
      if (SameName(NextElement(value, &at), token)) return true;
    }
  }
  return false;
}

bool HttpResponse::KeepsAlive() const {
  if (!statusLine || HasToken("Connection", "close")) return false;
  return version >= 11 || (version == 10 && HasToken("Connection", "keep-alive"));
}

std::string HttpResponse::ContentEncoding() const {
  std::string joined;
  for (const std::string& value : FindAll("Content-Encoding")) {
    if (value.empty()) continue;
    if (!joined.empty()) joined += ", ";
    joined += value;
  }
  return joined;
}
