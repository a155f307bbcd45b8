// The response head parser, over an in-memory stream buffer: the status line,
// the fields and their typed readings, and where reading stops.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "net/HttpResponse.h"
#include "net/Url.h"

namespace {

using namespace std::string_literals;
using End = HttpResponse::End;

// Hands out text a piece at a time: buffered, piece bytes a refill;
// otherwise with no get area at all, one byte a call.
class PiecewiseBuf : public std::streambuf {
 public:
  PiecewiseBuf(std::string text, size_t piece, bool buffered)
      : text(std::move(text)), piece(piece), buffered(buffered) {}
  // What no read took.
  std::string Rest() const {
    size_t held = gptr() != nullptr ? static_cast<size_t>(egptr() - gptr()) : 0;
    return text.substr(next - held);
  }

 protected:
  int_type underflow() override {
    if (next == text.size()) return traits_type::eof();
    if (!buffered) return traits_type::to_int_type(text[next]);
    size_t count = std::min(piece, text.size() - next);
    char* begin = &text[next];
    setg(begin, begin, begin + count);
    next += count;
    return traits_type::to_int_type(*begin);
  }
  int_type uflow() override {
    if (buffered) return std::streambuf::uflow();
    if (next == text.size()) return traits_type::eof();
    return traits_type::to_int_type(text[next++]);
  }

 private:
  std::string text;
  size_t piece;
  bool buffered;
  size_t next = 0;  // bytes handed to the get area, or out
};

struct Row {
  const char* name;
  std::string head;  // what the connection holds
  int status;
  long long length;  // ContentLength()
  std::string type;
  bool html;
  bool hasLocation;
  std::string location;
  std::string transferEncoding, connection;
  End end;
  std::string rest;  // left for the body
};

TEST(HttpResponse, StatusLineFieldsAndWhereTheHeadEnds) {
  const std::string longTarget(kMaxUrlLength + 50, 'a');
  const Row rows[] = {
      {"status and body", "HTTP/1.0 200 OK\r\n\r\nbody", 200, -1, "", false, false, "", "", "",
       End::kBlankLine, "body"},
      {"LF line ends", "HTTP/1.1 404 Not Found\nX: y\n\nz", 404, -1, "", false, false, "", "", "",
       End::kBlankLine, "z"},
      {"tab and blank after the version", "HTTP/1.1\t 301 x\r\n\r\n", 301, -1, "", false, false, "",
       "", "", End::kBlankLine, ""},
      {"lower-case protocol is no status", "http/1.0 200 OK\r\n\r\n", 0, -1, "", false, false, "",
       "", "", End::kBlankLine, ""},
      {"version without minor", "HTTP/1 200 OK\r\n\r\n", 0, -1, "", false, false, "", "", "",
       End::kBlankLine, ""},
      {"two-digit code", "HTTP/1.0 20 OK\r\n\r\n", 0, -1, "", false, false, "", "", "",
       End::kBlankLine, ""},
      {"no status line", "just a body\n\nmore\n", 0, -1, "", false, false, "", "", "",
       End::kBlankLine, "more\n"},
      {"a field as the first line", "Location: /x\r\n\r\n", 0, -1, "", false, true, "/x", "", "",
       End::kBlankLine, ""},
      {"Content-Length", "HTTP/1.0 200 OK\r\nContent-Length: 42\r\n\r\n", 200, 42, "", false, false,
       "", "", "", End::kBlankLine, ""},
      {"Content-Length any case, blanks", "HTTP/1.0 200 OK\r\ncontent-LENGTH:\t 7 \t\r\n\r\n", 200,
       7, "", false, false, "", "", "", End::kBlankLine, ""},
      {"Content-Length twice, agreeing",
       "HTTP/1.0 200 OK\r\nContent-Length: 5\r\nContent-Length: 5\r\n\r\n", 200, 5, "", false,
       false, "", "", "", End::kBlankLine, ""},
      {"Content-Length twice, disagreeing",
       "HTTP/1.0 200 OK\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\n", 200, -1, "", false,
       false, "", "", "", End::kBlankLine, ""},
      {"Content-Length not a number", "HTTP/1.0 200 OK\r\nContent-Length: 5 bytes\r\n\r\n", 200, -1,
       "", false, false, "", "", "", End::kBlankLine, ""},
      {"Content-Length too large",
       "HTTP/1.0 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\n", 200, -1, "", false, false,
       "", "", "", End::kBlankLine, ""},
      {"Content-Type html, any case",
       "HTTP/1.0 200 OK\r\ncontent-type: TEXT/HTML; charset=us-ascii\r\n\r\n", 200, -1,
       "TEXT/HTML; charset=us-ascii", true, false, "", "", "", End::kBlankLine, ""},
      {"Content-Type plain", "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n", 200, -1,
       "text/plain", false, false, "", "", "", End::kBlankLine, ""},
      {"Content-Type only as a field", "HTTP/1.0 200 OK\r\nX-Note: Content-Type: text/html\r\n\r\n",
       200, -1, "", false, false, "", "", "", End::kBlankLine, ""},
      {"the first Content-Type decides",
       "HTTP/1.0 200 OK\r\nContent-Type: image/gif\r\nContent-Type: text/html\r\n\r\n", 200, -1,
       "image/gif", false, false, "", "", "", End::kBlankLine, ""},
      {"Location after blanks and tabs", "HTTP/1.0 302 Found\r\nLocation:\t  /new.html\r\n\r\n",
       302, -1, "", false, true, "/new.html", "", "", End::kBlankLine, ""},
      {"the first Location", "HTTP/1.0 302 Found\r\nLOCATION: a\r\nLocation: b\r\n\r\n", 302, -1,
       "", false, true, "a", "", "", End::kBlankLine, ""},
      {"Content-Location is not Location",
       "HTTP/1.0 200 OK\r\nContent-Location: /x\r\nX-Location: /y\r\n\r\n", 200, -1, "", false,
       false, "", "", "", End::kBlankLine, ""},
      {"a long Location is cut", "HTTP/1.0 302 Found\r\nLocation: " + longTarget + "\r\n\r\n", 302,
       -1, "", false, true, longTarget.substr(0, kMaxUrlLength + 1), "", "", End::kBlankLine, ""},
      {"Transfer-Encoding and Connection",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nconnection: close\r\n\r\n", 200, -1, "",
       false, false, "", "chunked", "close", End::kBlankLine, ""},
      {"lines that are no fields",
       "HTTP/1.0 200 OK\r\nno colon\r\nBad Name: x\r\n\0Location: /n\r\n Location: /f\r\n\r\n"s,
       200, -1, "", false, false, "", "", "", End::kBlankLine, ""},
      {"stream ends before the blank line", "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n", 200,
       -1, "text/html", true, false, "", "", "", End::kStreamEnded, ""},
      {"head too large", "HTTP/1.0 200 OK\r\n" + std::string(kMaxHeaderBytes, 'x'), 200, -1, "",
       false, false, "", "", "", End::kTooLarge, std::string(17, 'x')},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    // The head as it may arrive: a few bytes a receive, or from a buffer
    // that hands out one byte a call, reads as the whole of it does.
    for (size_t piece : {1, 2, 3, 7}) {
      for (bool buffered : {true, false}) {
        SCOPED_TRACE(std::to_string(piece) + (buffered ? " a receive" : " unbuffered"));
        PiecewiseBuf source(row.head, piece, buffered);
        HttpResponse head;
        std::string raw;
        EXPECT_EQ(head.Read(source, &raw), row.end);
        EXPECT_EQ(head.Status(), row.status);
        EXPECT_EQ(head.ContentLength(), row.length);
        EXPECT_EQ(std::string(head.Location()), row.location);
        EXPECT_EQ(raw, row.head.substr(0, head.BytesRead()));
        EXPECT_EQ(source.Rest(), row.rest);
      }
    }
    std::stringbuf source(row.head);
    HttpResponse head;
    std::string raw;
    EXPECT_EQ(head.Read(source, &raw), row.end);
    EXPECT_EQ(head.HowEnded(), row.end);
    EXPECT_EQ(head.Status(), row.status);
    EXPECT_EQ(head.ContentLength(), row.length);
    EXPECT_EQ(head.ContentType(), row.type);
    EXPECT_EQ(head.IsHtml(), row.html);
    EXPECT_EQ(head.HasLocation(), row.hasLocation);
    EXPECT_EQ(std::string(head.Location()), row.location);
    EXPECT_EQ(head.TransferEncoding(), row.transferEncoding);
    EXPECT_EQ(head.Connection(), row.connection);
    // Exactly the head is taken: the rest stays for the body.
    EXPECT_EQ(source.str().substr(head.BytesRead()), row.rest);
    EXPECT_EQ(raw, row.head.substr(0, head.BytesRead()));
  }
}

TEST(HttpResponse, FieldsKeepTheirOrderAndCaseFreeNames) {
  std::stringbuf source(
      "HTTP/1.1 200 OK\r\nSet-Cookie: a=1\r\nX-Other:  two words \r\nset-cookie: b=2\r\n\r\n");
  HttpResponse head;
  ASSERT_EQ(head.Read(source), End::kBlankLine);
  ASSERT_EQ(head.Fields().size(), 3u);
  EXPECT_EQ(head.Fields()[1].name, "X-Other");
  EXPECT_EQ(head.Fields()[1].value, "two words");
  EXPECT_EQ(head.FindAll("SET-COOKIE"), (std::vector<std::string>{"a=1", "b=2"}));
  ASSERT_NE(head.Find("Set-Cookie"), nullptr);
  EXPECT_EQ(*head.Find("Set-Cookie"), "a=1");
  EXPECT_EQ(head.Find("Cookie"), nullptr);
}

// "HTTP/" digit "." digit, three digits: anything else is no status line, and
// the head is then read as fields; one empty line may come first.
TEST(HttpResponse, StatusLineHasOneDigitEachSideAndThreeAfter) {
  const struct {
    std::string head;
    bool statusLine;
    int status;
    bool interim;
    bool hasLocation;
    std::string rest;  // left for the body
  } rows[] = {
      {"HTTP/1.1 200 OK\r\n\r\nb", true, 200, false, false, "b"},
      {"HTTP/1.0 200\r\n\r\n", true, 200, false, false, ""},
      {"HTTP/1.0 404 Not Found\r\n\r\n", true, 404, false, false, ""},
      {"HTTP/1.10 200 OK\r\n\r\n", false, 0, false, false, ""},
      {"HTTP/12.3 200 OK\r\n\r\n", false, 0, false, false, ""},
      {"HTTP/1. 200 OK\r\n\r\n", false, 0, false, false, ""},
      {"HTTP/1.0 2000\r\n\r\n", false, 0, false, false, ""},
      {"HTTP/1.0 200OK\r\n\r\n", false, 0, false, false, ""},
      {"HTTP/1.0200 OK\r\n\r\n", false, 0, false, false, ""},
      {"HTTP/1.0 000 Zero\r\n\r\n", true, 0, false, false, ""},
      {"HTTP/1.0 099 Low\r\n\r\n", true, 99, false, false, ""},
      {"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\n\r\n", true, 100, true, false,
       "HTTP/1.1 200 OK\r\n\r\n"},
      {"HTTP/1.1 103 Early Hints\r\nLink: </s.css>\r\n\r\n", true, 103, true, false, ""},
      {"HTTP/1.1 199 x\r\n\r\n", true, 199, true, false, ""},
      {"HTTP/1.1 101 Switching Protocols\r\n\r\n", true, 101, false, false, ""},
      {"HTTP/1.1 200 OK\r\n\r\n", true, 200, false, false, ""},
      {"\r\nHTTP/1.0 404 Not Found\r\n\r\nbody", true, 404, false, false, "body"},
      {"\nHTTP/1.0 404 Not Found\n\nbody", true, 404, false, false, "body"},
      // Only one: a second empty line ends a head without a status line.
      {"\r\n\r\nHTTP/1.0 404 Not Found\r\n\r\n", false, 0, false, false,
       "HTTP/1.0 404 Not Found\r\n\r\n"},
      {"\r\nLocation: /x\r\n\r\n", false, 0, false, true, ""},
      {"Location: /x\r\n\r\n", false, 0, false, true, ""},
      // The status line is the first line only.
      {"X: y\r\nHTTP/1.0 200 OK\r\n\r\n", false, 0, false, false, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.head);
    std::stringbuf source(row.head);
    HttpResponse head;
    EXPECT_EQ(head.Read(source), End::kBlankLine);
    EXPECT_EQ(head.HasStatusLine(), row.statusLine);
    EXPECT_EQ(head.Status(), row.status);
    EXPECT_EQ(head.IsInterim(), row.interim);
    EXPECT_EQ(head.HasLocation(), row.hasLocation);
    EXPECT_EQ(source.str().substr(head.BytesRead()), row.rest);
  }
}

// Content-Length fields read as one list (RFC 9110, 8.6).
TEST(HttpResponse, ContentLengthIsOneValueOrSaysWhatIsWrong) {
  using Kind = HttpResponse::Length::Kind;
  const struct {
    std::vector<std::string> fields;  // header lines
    Kind kind;
    long long value;
    std::string text;
  } rows[] = {
      {{}, Kind::kAbsent, -1, ""},
      {{"X-Content-Length: 5"}, Kind::kAbsent, -1, ""},
      {{"Content-Lengths: 5"}, Kind::kAbsent, -1, ""},
      {{"Content-Length: 5"}, Kind::kValid, 5, "5"},
      {{"Content-Length: 0"}, Kind::kValid, 0, "0"},
      {{"Content-Length: 007"}, Kind::kValid, 7, "007"},
      {{"Content-Length: 5, 5"}, Kind::kValid, 5, "5, 5"},
      {{"Content-Length: 5,,5 ,"}, Kind::kValid, 5, "5,,5 ,"},
      {{"Content-Length: 5", "content-length: 5"}, Kind::kValid, 5, "5, 5"},
      {{"Content-Length: 9223372036854775807"},
       Kind::kValid,
       9223372036854775807LL,
       "9223372036854775807"},
      {{"Content-Length: 9223372036854775808"}, Kind::kInvalid, -1, "9223372036854775808"},
      {{"Content-Length: 100000000000000000000000000"},
       Kind::kInvalid,
       -1,
       "100000000000000000000000000"},
      {{"Content-Length: -1"}, Kind::kInvalid, -1, "-1"},
      {{"Content-Length: +5"}, Kind::kInvalid, -1, "+5"},
      {{"Content-Length: 0x10"}, Kind::kInvalid, -1, "0x10"},
      {{"Content-Length: 5 5"}, Kind::kInvalid, -1, "5 5"},
      {{"Content-Length:"}, Kind::kInvalid, -1, ""},
      {{"Content-Length: ,"}, Kind::kInvalid, -1, ","},
      {{"Content-Length: 5, x"}, Kind::kInvalid, -1, "5, x"},
      {{"Content-Length: 5", "Content-Length: -5"}, Kind::kInvalid, -1, "5, -5"},
      {{"Content-Length: 5, 6"}, Kind::kConflicting, -1, "5, 6"},
      {{"Content-Length: 5", "Content-Length: 6"}, Kind::kConflicting, -1, "5, 6"},
  };
  for (const auto& row : rows) {
    std::string text = "HTTP/1.1 200 OK\r\n";
    for (const std::string& field : row.fields) text += field + "\r\n";
    SCOPED_TRACE(text);
    std::stringbuf source(text + "\r\n");
    HttpResponse head;
    ASSERT_EQ(head.Read(source), End::kBlankLine);
    HttpResponse::Length length = head.ContentLengthField();
    EXPECT_EQ(length.kind, row.kind);
    EXPECT_EQ(length.value, row.value);
    EXPECT_EQ(length.text, row.text);
    EXPECT_EQ(head.ContentLength(), row.kind == Kind::kValid ? row.value : -1);
  }
}

}  // namespace
