// HttpResponse: the head of one HTTP response, read from a connection.
//
// Read takes bytes from the stream buffer up to and including the empty line
// that ends the head, and not one byte more: the buffer is left at the body's
// first byte. Lines are read whole whatever their length or bytes; CRs are
// dropped, an LF ends a line. At most kMaxHeaderBytes are taken. One empty
// line before the first line is taken and passed over (RFC 9112, 2.2).
//
// The first line is the status line when it reads "HTTP/" digit "." digit,
// blanks or tabs, three digits, then its end or a blank or tab; a head
// without such a line has status 0 and no status line. Every later line of the form "name: value"
// (name without blanks) is a field; names compare without regard to letter case, values lose the
// blanks and tabs around them, and fields keep their order. Lines of any
// other form are ignored.
//
// The object owns copies of what it read and nothing else.
#ifndef FERRET_NET_HTTPRESPONSE_H_
#define FERRET_NET_HTTPRESPONSE_H_

#include <cstddef>
#include <streambuf>
#include <string>
#include <vector>

#include "text/CStr.h"

// The most bytes one response head may take.
constexpr size_t kMaxHeaderBytes = 64 * 1024;

class HttpResponse {
 public:
  // How reading the head ended.
  enum class End {
    kBlankLine,    // the empty line: the body follows
    kStreamEnded,  // the stream ended first (closed, or a receive failed)
    kTooLarge,     // kMaxHeaderBytes were taken without an empty line
  };

  struct Field {
    std::string name;
    std::string value;
  };

  // Reads the head from source. When raw is given, every byte taken is
  // appended to it.
  End Read(std::streambuf& source, std::string* raw = nullptr);

  End HowEnded() const { return end; }
  // Bytes taken from the stream, the ending empty line included.
  size_t BytesRead() const { return bytesRead; }
  // The status line's code; 0 without a status line (and for "000").
  int Status() const { return status; }
  bool HasStatusLine() const { return statusLine; }
  // A 1xx head (other than 101, which this client never asks for): an
  // interim answer, the final one follows on the same connection.
  bool IsInterim() const { return statusLine && status >= 100 && status < 200 && status != 101; }
  const std::vector<Field>& Fields() const { return fields; }

  // The value of the first field named name (any letter case), or null.
  const std::string* Find(const char* name) const;
  // The values of every field named name, in order.
  std::vector<std::string> FindAll(const char* name) const;

  // The Content-Length fields read together (RFC 9110, 8.6): every field is
  // a comma list of decimal numbers (empty elements passed over); the length
  // is their one value when all are equal and fit in 63 bits.
  struct Length {
    enum class Kind {
      kAbsent,       // no Content-Length field
      kValid,        // value is the length
      kInvalid,      // an element is not digits only, or too large, or none is given
      kConflicting,  // valid numbers that differ
    };
    Kind kind = Kind::kAbsent;
    long long value = -1;
    std::string text;  // the field values as received, joined by ", "
  };
  Length ContentLengthField() const;
  // The length when ContentLengthField is valid; -1 otherwise.
  long long ContentLength() const;
  // The first Content-Type value; empty when absent.
  std::string ContentType() const;
  // The Content-Type value begins with "text/html", in any letter case.
  bool IsHtml() const;
  // Whether there is a Location field, and the first one's value up to any
  // NUL, cut to kMaxUrlLength + 1 bytes: enough to be refused as too long.
  bool HasLocation() const { return Find("Location") != nullptr; }
  CStr Location() const;
  // The first Transfer-Encoding and Connection values; empty when absent.
  std::string TransferEncoding() const;
  std::string Connection() const;
  // The Content-Encoding values, empty ones passed over, joined by ", ".
  std::string ContentEncoding() const;
  // Whether the server lets the connection serve another request after
  // this answer: HTTP/1.1 or later unless a Connection field says "close";
  // HTTP/1.0 only when one says "keep-alive"; never without a status line.
  bool KeepsAlive() const;
  // Whether a field named name lists token among its comma-separated
  // values (letter case aside).
  bool HasToken(const char* name, const char* token) const;

 private:
  // Fields a head usually has, at most (a server's answer: a dozen).
  static constexpr size_t kUsualFields = 16;
  void parseLine(const std::string& line, bool first);

  End end = End::kStreamEnded;
  size_t bytesRead = 0;
  int status = 0;
  bool statusLine = false;
  int version = 0;  // the status line's major * 10 + minor; 0 without one
  std::vector<Field> fields;
};

#endif  // FERRET_NET_HTTPRESPONSE_H_
