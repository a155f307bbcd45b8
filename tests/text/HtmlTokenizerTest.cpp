// HtmlTokenizer: tags and attributes, character references, comments, raw
// text, the end of the input and the bounds, each row also fed in pieces
// split everywhere (the tokens must not depend on where reads end).
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tests/text/HtmlTokenLog.h"
#include "text/HtmlTokenizer.h"

namespace {

using namespace std::string_literals;

struct Row {
  std::string html;
  std::string tokens;  // HtmlTokenLog's form
};

// Rows longer than this are split at random sizes and byte by byte only;
// shorter ones at every offset as well.
constexpr size_t kEveryOffsetLimit = 2048;

void ExpectRows(const std::vector<Row>& rows) {
  std::mt19937 random(2024);
  for (const Row& row : rows) {
    const std::string name = row.html.substr(0, 60);
    std::string problems;
    EXPECT_EQ(Tokenize(row.html, &problems), row.tokens) << name;
    EXPECT_EQ(problems, "") << name;
    if (row.html.size() <= kEveryOffsetLimit) {
      for (size_t cut = 1; cut < row.html.size(); ++cut) {
        bool first = true;
        std::string split = TokenizeInPieces(
            row.html,
            [&] {
              size_t size = first ? cut : row.html.size();
              first = false;
              return size;
            },
            nullptr);
        ASSERT_EQ(split, row.tokens) << name << " cut at " << cut;
      }
    }
    EXPECT_EQ(TokenizeInPieces(row.html, [] { return 1; }, nullptr), row.tokens)
        << name << " byte by byte";
    for (int run = 0; run < 8; ++run) {
      std::uniform_int_distribution<size_t> size(1, run < 4 ? 16 : 4096);
      std::string split = TokenizeInPieces(row.html, [&] { return size(random); }, &problems);
      ASSERT_EQ(split, row.tokens) << name << " random pieces, run " << run;
    }
    EXPECT_EQ(problems, "") << name;
    // The same tags when text is skipped, whatever the pieces, and the
    // same attributes of the tags still asked for.
    const std::string tags = TokenizeInPieces(row.html, [&] { return row.html.size() + 1; },
                                              &problems, true);
    EXPECT_EQ(TokenizeInPieces(row.html, [] { return 1; }, &problems, true, true), tags)
        << name << " skipping text";
    auto onlyA = [](std::string_view tag) { return tag == "a"; };
    const std::string attributesOfA = TokenizeInPieces(
        row.html, [&] { return row.html.size() + 1; }, &problems, true, false, onlyA);
    for (size_t piece : {size_t{3}, row.html.size() + 1}) {
      EXPECT_EQ(TokenizeInPieces(row.html, [&] { return piece; }, &problems, true, true, onlyA),
                attributesOfA)
          << name << " keeping the attributes of <a> only, in pieces of " << piece;
    }
    auto onlyHref = [](std::string_view attribute) { return attribute == "href"; };
    const std::string hrefsOfA = TokenizeInPieces(
        row.html, [&] { return row.html.size() + 1; }, &problems, true, false, onlyA, true,
        onlyHref);
    for (size_t piece : {size_t{5}, size_t{16}, row.html.size() + 1}) {
      EXPECT_EQ(TokenizeInPieces(row.html, [&] { return piece; }, &problems, true, true, onlyA,
                                 true, onlyHref),
                hrefsOfA)
          << name << " handing over <a> only, with its href only, in pieces of " << piece;
    }
    EXPECT_EQ(problems, "") << name;
  }
}

TEST(HtmlTokenizer, TagsAndAttributes) {
  ExpectRows({
      // Order and letter case: names lower-cased, values kept.
      {"<A Class=\"Nav\" HREF=\"X.html\">Go</A>", "S:a[class=Nav][href=X.html]|T:Go|E:a|"},
      // Double-quoted, single-quoted and unquoted values, and none.
      {"<a href='o\"ne' b=\"t'wo\" c=three d>", "S:a[href=o\"ne][b=t'wo][c=three][d=]|"},
      {"<a href=x/y/>", "S:a[href=x/y/]|"},
      {"<a href = \"sp\" x= y z =w>", "S:a[href=sp][x=y][z=w]|"},
      {"<a href=\r\nx b=\r\"y\">", "S:a[href=x][b=y]|"},
      // A tag spanning lines; CR LF and lone CR read as LF everywhere.
      {"<a\nclass=nav\n  href=\"next.html\"\n>n</a>", "S:a[class=nav][href=next.html]|T:n|E:a|"},
      {"one\r\ntwo\rthree<a\r\nhref=\"x\r\ny\">\r\r\n", "T:one\\ntwo\\nthree|S:a[href=x\\ny]|T:\\n\\n|"},
      // Duplicates: the first of a name wins, in any letter case.
      {"<a href=first HREF=second class=c href=third>", "S:a[href=first][class=c]|"},
      // Self-closing, and a '/' that is not.
      {"<br/><img src=a.png/><br / ><a / href=x>", "S:br/|S:img[src=a.png/]|S:br|S:a[href=x]|"},
      // Odd attribute names and a missing space after a quoted value.
      {"<a =x \"q\"=1 b<c=2 d=\"v\"e=f>", "S:a[=x=][\"q\"=1][b<c=2][d=v][e=f]|"},
      // End tags carry no attributes; "</>" is nothing; a lone '<' is text.
      {"</a href=x>a</>b < c <3", "E:a|T:ab < c <3|"},
      {"<a\0b c\0=\0>"s, "S:a\xEF\xBF\xBD" "b[c\xEF\xBF\xBD=\xEF\xBF\xBD]|"},
      // Where a tag ends, for tags other than <a> too (whose attributes the
      // rows' runs with a filter pass over): a quote opens a value only
      // after '='; '=' begins a name at the start of one; '/' ends a tag
      // only right before '>', and is part of an unquoted value.
      {"<a title=\"a href=b>c\" HREF='d' class='e\"'>", "S:a[title=a href=b>c][href=d][class=e\"]|"},
      {"<a href=\"hh\" t=\"vvvvvvvvvvvvvvvvvvvv\">", "S:a[href=hh][t=vvvvvvvvvvvvvvvvvvvv]|"},
      // The same with an <a> to be found after each (the rows' runs that
      // hand over <a> alone pass over these tags in one step).
      {"<p =\"x>y<a>\"><td nowrap class=x><a>", "S:p[=\"x=]|T:y|S:a|T:\">|S:td[nowrap=][class=x]|S:a|"},
      {"<p b=\"x\"c=\"y>z<a>\"><p b=\"x\"=\"y>z<a>\">",
       "S:p[b=x][c=y>z<a>]|S:p[b=x][=\"y=]|T:z|S:a|T:\">|"},
      {"<p b=c=\"d>e<a>\"></p x='<a>' y=\"<a>\"><a><br/ ><a><br / x/><a>",
       "S:p[b=c=\"d]|T:e|S:a|T:\">|E:p|S:a|S:br|S:a|S:br[x=]/|S:a|"},
      {"<p\r\nb=c\r\n/\r><a><p b=c&d=\"<a>\"<a><p b = 'x>y<a>' c d=e/><a><p b=>x<a>",
       "S:p[b=c]|S:a|S:p[b=c&d=\"<a]|T:\"|S:a|S:p[b=x>y<a>][c=][d=e/]|S:a|S:p[b=]|T:x|S:a|"},
      {"<p / x=\"<a>\"><br/ x='<a>'><a>", "S:p[x=<a>]|S:br[x=<a>]|S:a|"},
      {"<p =\"a>b<i>\">", "S:p[=\"a=]|T:b|S:i|T:\">|"},
      {"<p b=\"x\"c=\"a>b<i>\">", "S:p[b=x][c=a>b<i>]|"},
      {"<p b=\"x\"=\"a>b<i>\">", "S:p[b=x][=\"a=]|T:b|S:i|T:\">|"},
      {"<p b = 'a>b<i>' c=d/><br/ ><br / x/></p x='<i>' y=\"<b>\">", "S:p[b=a>b<i>][c=d/]|S:br|S:br[x=]/|E:p|"},
      {"<p\r\nb=c\r\n/\r><p b=\"\r\n>\"\r\n\r\nc\r=\r'<i>'><p b=c&amp;><p b=c&d=\"<i>\"<b>"s, "S:p[b=c]|S:p[b=\\n>][c=<i>]|S:p[b=c&]|S:p[b=c&d=\"<i]|T:\"|S:b|"},
  });
}

TEST(HtmlTokenizer, CharacterReferences) {
  ExpectRows({
      // Named with and without ';' (legacy names), the longest match, unknown.
      {"&amp;&lt&copy;&notin;&notit;&noti; &bogus; &AMP &", "T:&<©∉¬it;¬i; &bogus; & &|"},
      {"&CounterClockwiseContourIntegral;", "T:∳|"},
      {"&NotNestedGreaterGreater;&nGt;", "T:⪢̸≫⃒|"},
      // In values, a legacy name followed by '=' or a letter or digit stays.
      {"<a href=\"?a=1&copy=2&copyx&copy;&amp=&amp;&lt1&lt-\">",
       "S:a[href=?a=1&copy=2&copyx©&amp=&&lt1<-]|"},
      {"<a href=?x&amp;y&ampz b='&#65;'>", "S:a[href=?x&y&ampz][b=A]|"},
      // Outside values the same names are decoded.
      {"&copy=2 &copyx", "T:©=2 ©x|"},
      // Decimal and hex, with and without ';'.
      {"&#65;&#066&#x43;&#X44&#x65x", "T:ABCDex|"},
      // Invalid numbers: 0, surrogates, past U+10FFFF, windows-1252, no digits.
      {"&#0;&#xD800;&#x110000;&#99999999999999;&#128;&#x9F;&#x81;&#;&#x;&#xg;",
       "T:\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD€Ÿ\xC2\x81&#;&#x;&#xg;|"},
      // Not decoded in raw text.
      {"<style>&amp;</style><script>&lt;</script>", "S:style|R:&amp;|E:style|S:script|R:&lt;|E:script|"},
  });
}

TEST(HtmlTokenizer, CommentsAndDeclarations) {
  ExpectRows({
      {"a<!-- <a href=x> -->b", "T:ab|"},
      // Abrupt ends and "--!>".
      {"1<!-->2<!--->3<!-- x --!>4<!-- y --!z -->5", "T:12345|"},
      {"<!-- a -- b --->c<!--<!-- nested -->d", "T:cd|"},
      // Bogus comments, DOCTYPE (to the first '>') and CDATA.
      {"<?php echo '<a href=x>' ?>a</ b href=y>c<!x>d", "T:' ?>acd|"},
      {"<!DOCTYPE html PUBLIC \"a>b\">c<!doctype html>d", "T:b\">cd|"},
      {"<![CDATA[ x > y ]]><a>", "T: y ]]>|S:a|"},
      {"<!--x-", ""},
  });
}

TEST(HtmlTokenizer, RawTextAndRcdata) {
  ExpectRows({
      // A script's end tag inside a string does not end it; any case does.
      {"<script>var s = \"</scr\" + \"ipt>\"; a<b</script><a href=x>",
       "S:script|R:var s = \"</scr\" + \"ipt>\"; a<b|E:script|S:a[href=x]|"},
      {"<SCRIPT type=x>a</SCRIPT >b", "S:script[type=x]|R:a|E:script|T:b|"},
      {"<script>a</scripts></script/x><i>", "S:script|R:a</scripts>|E:script|S:i|"},
      // Escaped and double-escaped script data.
      {"<script><!-- a --> </script>b", "S:script|R:<!-- a --> |E:script|T:b|"},
      {"<script><!--<script>x</script>y--></script>z",
       "S:script|R:<!--<script>x</script>y-->|E:script|T:z|"},
      {"<script><!--<script>x</script>y</script>z<a>",
       "S:script|R:<!--<script>x</script>y|E:script|T:z|S:a|"},
      {"<script><!--<script></scr</script>-->z</script>q",
       "S:script|R:<!--<script></scr</script>-->z|E:script|T:q|"},
      // RCDATA: tags are text, references decoded, the end tag in any case.
      {"<title>A <b> &amp; B</TITLE>c", "S:title|T:A <b> & B|E:title|T:c|"},
      {"<textarea><a href=x></textareax></textarea>y",
       "S:textarea|T:<a href=x></textareax>|E:textarea|T:y|"},
      // RAWTEXT elements.
      {"<style>a<b></styl</style >c", "S:style|R:a<b></styl|E:style|T:c|"},
      {"<noscript><a href=x></noscript><xmp><b></xmp><iframe><i></iframe>",
       "S:noscript|S:a[href=x]|E:noscript|S:xmp|R:<b>|E:xmp|S:iframe|R:<i>|E:iframe|"},
      {"<noembed><u></noembed><noframes><s></noframes>",
       "S:noembed|R:<u>|E:noembed|S:noframes|R:<s>|E:noframes|"},
      // The end tag may carry attributes (dropped); <script/> still opens.
      {"<script/>a</script x=1>b", "S:script/|R:a|E:script|T:b|"},
      // PLAINTEXT runs to the end.
      {"<plaintext><a>&amp;</plaintext>", "S:plaintext|R:<a>&amp;</plaintext>|"},
      {"<script>\0</script>\0"s, "S:script|R:\xEF\xBF\xBD|E:script|T:\0|"s},
  });
}

TEST(HtmlTokenizer, EndOfInput) {
  ExpectRows({
      // A tag cut off is dropped, the text before it kept.
      {"a<a href=\"x", "T:a|"},
      {"a<a href=x", "T:a|"},
      {"a<a", "T:a|"},
      {"a</title foo", "T:a|"},
      // Cut-off markup that is text.
      {"a<", "T:a<|"},
      {"a</", "T:a</|"},
      {"<script>a</scr", "S:script|R:a</scr|"},
      {"<title>a<", "S:title|T:a<|"},
      // References cut off end as before any other character.
      {"&amp", "T:&|"},
      {"&no", "T:&no|"},
      {"&#x4", "T:\x04|"},
      {"&#", "T:&#|"},
      {"&", "T:&|"},
      {"<a href=&amp", ""},
  });
  // Finish readies the tokenizer for the next page, in the data state.
  HtmlTokenLog log;
  HtmlTokenizer tokenizer(&log);
  std::string first = "<script>x<a href=\"y";
  std::string second = "<a href=z>&amp;";
  tokenizer.Feed(first.data(), first.size());
  tokenizer.Finish();
  tokenizer.Feed(second.data(), second.size());
  tokenizer.Finish();
  EXPECT_EQ(log.Log(), "S:script|R:x<a href=\"y|S:a[href=z]|T:&|");
}

std::string Repeat(char c, size_t n) { return std::string(n, c); }

TEST(HtmlTokenizer, Bounds) {
  const size_t k = kMaxTokenBytes;
  std::string manyAttributes = "<a";
  std::string keptAttributes = "S:a";
  for (size_t i = 0; i < kMaxAttributes + 20; ++i) {
    manyAttributes += " a" + std::to_string(i);
    if (i < kMaxAttributes) keptAttributes += "[a" + std::to_string(i) + "=]";
  }
  // Four values of 60,000 bytes, then the fifth is cut where the tag's bytes
  // reach kMaxTagBytes, and the sixth is dropped.
  std::string bigTag = "<a";
  std::string bigTagTokens = "S:a";
  size_t bytes = 1;
  for (int i = 0; i < 6; ++i) {
    std::string name = "v" + std::to_string(i);
    bigTag += " " + name + "=\"" + Repeat('x', 60000) + "\"";
    if (bytes + name.size() >= kMaxTagBytes) continue;
    bytes += name.size();
    size_t kept = std::min<size_t>(60000, kMaxTagBytes - bytes);
    bytes += kept;
    bigTagTokens += "[" + name + "=" + Repeat('x', kept) + "]";
  }
  ExpectRows({
      {"<a" + Repeat('b', k + 100) + " href=x>t", "S:a" + Repeat('b', k - 1) + "[href=x]|T:t|"},
      {"<a href=\"" + Repeat('v', k + 100) + "\" id=y>t",
       "S:a[href=" + Repeat('v', k) + "][id=y]|T:t|"},
      {"<a " + Repeat('n', k + 5) + "=1 href=x>", "S:a[" + Repeat('n', k) + "=1][href=x]|"},
      {manyAttributes + ">t", keptAttributes + "|T:t|"},
      {bigTag + "><b>", bigTagTokens + "|S:b|"},
      // Text, comments and raw text of any length: nothing lost.
      {Repeat('t', 3 * k + 7) + "<b>", "T:" + Repeat('t', 3 * k + 7) + "|S:b|"},
      {"<!--" + Repeat('c', 3 * k) + "-->a", "T:a|"},
      {"<script>" + Repeat('s', 2 * k) + "</script>a",
       "S:script|R:" + Repeat('s', 2 * k) + "|E:script|T:a|"},
  });
}

}  // namespace
