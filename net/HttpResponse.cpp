#include "net/HttpResponse.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "net/Url.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// A character that may appear in a field name.
bool IsNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || IsDigit(c) ||
         (c != '\0' && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr);
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(const std::string& name, const char* wanted) {
  size_t i = 0;
  for (; i < name.size() && wanted[i] != '\0'; ++i) {
    if (Lower(name[i]) != Lower(wanted[i])) return false;
  }
  return i == name.size() && wanted[i] == '\0';
}

// Reads one line without its CRs and LF into line, spending at most *budget
// bytes. False at the end of the stream with nothing read, or when the
// budget ran out.
bool ReadLine(std::streambuf& source, std::string& line, size_t* budget, std::string* raw) {
  line.clear();
  bool any = false;
  for (;;) {
    if (*budget == 0) return false;
    int c = source.sbumpc();
    if (c == std::char_traits<char>::eof()) return any;
    --*budget;
    any = true;
    if (raw != nullptr) *raw += static_cast<char>(c);
    if (c == '\n') return true;
    if (c != '\r') line += static_cast<char>(c);
  }
}

// "HTTP/" digits "." digits, blanks or tabs, three digits: the code, or 0.
int StatusOf(const std::string& line) {
  const char* p = line.c_str();  // a NUL ends the status line
  if (std::strncmp(p, "HTTP/", 5) != 0) return 0;
  p += 5;
  if (!IsDigit(*p)) return 0;
  while (IsDigit(*p)) ++p;
  if (*p++ != '.' || !IsDigit(*p)) return 0;
  while (IsDigit(*p)) ++p;
  if (!IsBlank(*p)) return 0;
  while (IsBlank(*p)) ++p;
  if (!IsDigit(p[0]) || !IsDigit(p[1]) || !IsDigit(p[2])) return 0;
  return (p[0] - '0') * 100 + (p[1] - '0') * 10 + (p[2] - '0');
}

// A value of digits only, as a length; -1 for anything else.
long long LengthOf(const std::string& value) {
  if (value.empty()) return -1;
  for (char c : value) {
    if (!IsDigit(c)) return -1;
  }
  errno = 0;
  long long length = std::strtoll(value.c_str(), nullptr, 10);
  return errno != 0 ? -1 : length;
}

}  // namespace

HttpResponse::End HttpResponse::Read(std::streambuf& source, std::string* raw) {
  fields.clear();
  status = 0;
  size_t budget = kMaxHeaderBytes;
  std::string line;
  end = End::kStreamEnded;
  for (bool first = true; ReadLine(source, line, &budget, raw); first = false) {
    if (line.empty()) {
      end = End::kBlankLine;
      break;
    }
    parseLine(line, first);
  }
  if (end != End::kBlankLine && budget == 0) end = End::kTooLarge;
  bytesRead = kMaxHeaderBytes - budget;
  return end;
}

void HttpResponse::parseLine(const std::string& line, bool first) {
  if (first && (status = StatusOf(line)) != 0) return;
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

long long HttpResponse::ContentLength() const {
  long long length = -1;
  for (const std::string& value : FindAll("Content-Length")) {
    long long one = LengthOf(value);
    if (one < 0 || (length >= 0 && one != length)) return -1;
    length = one;
  }
  return length;
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
    if (Lower((*value)[i]) != html[i]) return false;
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
