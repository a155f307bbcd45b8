// The response head parser, over an in-memory stream buffer: the status line,
// the fields and their typed readings, and where reading stops.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "net/HttpResponse.h"
#include "net/Url.h"

namespace {

using namespace std::string_literals;
using End = HttpResponse::End;

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
      {"long version, tab and blank", "HTTP/12.34\t 301 x\r\n\r\n", 301, -1, "", false, false, "",
       "", "", End::kBlankLine, ""},
      {"four digits read as three", "HTTP/1.0 2000\r\n\r\n", 200, -1, "", false, false, "", "", "",
       End::kBlankLine, ""},
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

}  // namespace
