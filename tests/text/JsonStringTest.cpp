// JsonString: any bytes become a valid JSON string that gives them back.
#include <gtest/gtest.h>

#include <string>

#include "text/JsonString.h"

TEST(JsonString, EscapesWhatJsonOrATerminalCannotTakeAndKeepsEveryByte) {
  const struct {
    std::string bytes;
    std::string json;
  } cases[] = {
      {"plain text", "\"plain text\""},
      {"quote \" and \\ backslash", "\"quote \\\" and \\\\ backslash\""},
      {"\n\r\t\b\f", "\"\\n\\r\\t\\b\\f\""},
      {std::string("nul \0 esc \x1b del \x7f", 17), "\"nul \\u0000 esc \\u001b del \\u007f\""},
      // Well-formed UTF-8 passes, 2 to 4 bytes long.
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\xa6\xa6",
       "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\xa6\xa6\""},
      // A C1 control (U+009B, a terminal's CSI) is escaped.
      {"\xc2\x9b"
       "31m",
       "\"\\u009b31m\""},
      // Bytes that are no UTF-8 are Latin-1: a lone continuation, a cut
      // sequence, an overlong form, a surrogate, past U+10FFFF.
      {"\x80", "\"\\u0080\""},
      {"\xe2\x82", "\"\\u00e2\\u0082\""},
      {"\xc0\xaf", "\"\\u00c0\\u00af\""},
      {"\xed\xa0\x80", "\"\\u00ed\\u00a0\\u0080\""},
      {"\xf4\x90\x80\x80", "\"\\u00f4\\u0090\\u0080\\u0080\""},
      {"\xff", "\"\\u00ff\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.json);
    EXPECT_EQ(JsonString(c.bytes), c.json);
  }
}
