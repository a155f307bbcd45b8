// ContentDecoder against bodies encoded here by zlib and brotli themselves:
// every coding in any pieces, broken streams, bombs, and the header's names.
#include "net/ContentDecoder.h"

#include <brotli/encode.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include "tests/support/Compressed.h"

namespace {

// Words and bytes of every value, so that both repeats and noise are coded.
std::string Payload(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  const char* words[] = {"ferret ", "<a href=\"x.html\">", "borrow ", "\n", "checker "};
  std::string s;
  while (s.size() < size) {
    if (random() % 4 == 0) {
      s += static_cast<char>(random() % 256);
    } else {
      s += words[random() % 5];
    }
  }
  return s;
}

struct Decoded {
  std::string bytes;
  bool fed = true;
  bool finished = false;
  ContentDecoder::Problem problem = ContentDecoder::Problem::kNone;
};

Decoded Decode(ContentCoding coding, const std::string& body, size_t piece) {
  ContentDecoder decoder(coding);
  Decoded d;
  auto keep = [&d](const char* data, size_t n) {
    EXPECT_LE(n, kDecodedPiece);
    d.bytes.append(data, n);
    return true;
  };
  for (size_t at = 0; at < body.size() && d.fed; at += piece) {
    d.fed = decoder.Feed(body.data() + at, std::min(piece, body.size() - at), keep);
  }
  d.finished = d.fed && decoder.Finish();
  d.problem = decoder.problem();
  return d;
}

TEST(ContentDecoder, EachCodingGivesTheBytesBackWhateverThePieces) {
  const std::string one = Payload(300 * 1024, 1), two = Payload(70 * 1024, 2);
  const struct {
    const char* name;
    ContentCoding coding;
    std::string body;
    std::string bytes;
  } rows[] = {
      {"gzip", ContentCoding::kGzip, Deflated(one, 16 + 15), one},
      {"gzip, two members", ContentCoding::kGzip,
       Deflated(one, 16 + 15) + Deflated(two, 16 + 15), one + two},
      {"gzip, bytes after the end passed over", ContentCoding::kGzip,
       Deflated(two, 16 + 15) + "\n\0junk", two},
      {"deflate as zlib", ContentCoding::kDeflate, Deflated(one, 15), one},
      {"deflate raw", ContentCoding::kDeflate, Deflated(one, -15), one},
      {"deflate raw of two bytes", ContentCoding::kDeflate, Deflated("ab", -15), "ab"},
      {"br", ContentCoding::kBrotli, Brotlied(one), one},
      {"identity", ContentCoding::kIdentity, two, two},
      {"an empty body", ContentCoding::kGzip, "", ""},
  };
  for (const auto& row : rows) {
    for (size_t piece : {size_t{1}, size_t{7}, size_t{4096}, row.body.size() + 1}) {
      Decoded d = Decode(row.coding, row.body, piece);
      EXPECT_TRUE(d.finished) << row.name << " in pieces of " << piece;
      EXPECT_EQ(d.problem, ContentDecoder::Problem::kNone) << row.name;
      EXPECT_TRUE(d.bytes == row.bytes) << row.name << " in pieces of " << piece << ": "
                                        << d.bytes.size() << " bytes, not " << row.bytes.size();
    }
  }
}

TEST(ContentDecoder, BrokenStreamsAreProblems) {
  const std::string data = Payload(64 * 1024, 3);
  std::string gzip = Deflated(data, 16 + 15), zlib = Deflated(data, 15), br = Brotlied(data);
  std::string flipped = gzip;
  flipped[flipped.size() / 2] ^= 0x55;
  std::string badCheck = gzip;
  badCheck[badCheck.size() - 6] ^= 1;  // the CRC-32 of the data
  std::string badBrotli = br;
  badBrotli[badBrotli.size() / 2] ^= 0x55;
  using P = ContentDecoder::Problem;
  const struct {
    const char* name;
    ContentCoding coding;
    std::string body;
    P problem;
  } rows[] = {
      {"gzip with a byte changed", ContentCoding::kGzip, flipped, P::kCorrupt},
      {"gzip whose check fails", ContentCoding::kGzip, badCheck, P::kCorrupt},
      {"gzip cut short", ContentCoding::kGzip, gzip.substr(0, gzip.size() - 9), P::kCutShort},
      {"not gzip at all", ContentCoding::kGzip, "<html>plain</html>", P::kCorrupt},
      {"zlib cut short", ContentCoding::kDeflate, zlib.substr(0, zlib.size() / 2), P::kCutShort},
      {"br with a byte changed", ContentCoding::kBrotli, badBrotli, P::kCorrupt},
      {"br cut short", ContentCoding::kBrotli, br.substr(0, br.size() - 3), P::kCutShort},
  };
  for (const auto& row : rows) {
    for (size_t piece : {size_t{5}, row.body.size() + 1}) {
      Decoded d = Decode(row.coding, row.body, piece);
      EXPECT_FALSE(d.finished) << row.name;
      EXPECT_EQ(d.problem, row.problem) << row.name << " in pieces of " << piece;
    }
  }
}

// A body that decodes to far more than it is: it fails once the decoded
// bytes pass the ratio, long before its end, having handed over no more.
TEST(ContentDecoder, ABombFailsFastWithItsOutputBounded) {
  // 64 MiB of zeros as gzip: about 64 KiB.
  const std::string gzip = GzippedZeros(64 << 20);
  const std::string br = Brotlied(std::string(64 << 20, '\0'));
  for (const auto& [coding, body] :
       {std::pair{ContentCoding::kGzip, gzip}, std::pair{ContentCoding::kBrotli, br}}) {
    ContentDecoder decoder(coding);
    unsigned long long handed = 0;
    bool fed = true;
    size_t at = 0;
    for (; at < body.size() && fed; at += 16 * 1024) {
      fed = decoder.Feed(body.data() + at, std::min<size_t>(16 * 1024, body.size() - at),
                         [&handed](const char*, size_t n) {
                           handed += n;
                           return true;
                         });
    }
    EXPECT_FALSE(fed) << body.size();
    EXPECT_EQ(decoder.problem(), ContentDecoder::Problem::kTooLarge);
    EXPECT_LE(handed, kMaxDecodedRatio * decoder.EncodedBytes() + kDecodedSlack);
    EXPECT_LT(handed, 64ull << 20) << "it stopped long before the end";
  }
  // A consumer that stops is heard: no problem of the stream's own.
  ContentDecoder decoder(ContentCoding::kGzip);
  EXPECT_FALSE(decoder.Feed(gzip.data(), 4096, [](const char*, size_t) { return false; }));
  EXPECT_EQ(decoder.problem(), ContentDecoder::Problem::kNone);
}

TEST(ContentDecoder, CodingsByTheirNames) {
  const struct {
    const char* value;
    bool known;
    ContentCoding coding;
  } rows[] = {
      {"gzip", true, ContentCoding::kGzip},       {" GZip\t", true, ContentCoding::kGzip},
      {"x-gzip", true, ContentCoding::kGzip},     {"deflate", true, ContentCoding::kDeflate},
      {"br", true, ContentCoding::kBrotli},       {"identity", true, ContentCoding::kIdentity},
      {"", true, ContentCoding::kIdentity},       {"gzip, br", false, ContentCoding::kIdentity},
      {"compress", false, ContentCoding::kIdentity}, {"zstd", false, ContentCoding::kIdentity},
  };
  for (const auto& row : rows) {
    ContentCoding coding = ContentCoding::kIdentity;
    EXPECT_EQ(ContentDecoder::CodingOf(row.value, &coding), row.known) << row.value;
    if (row.known) {
      EXPECT_EQ(coding, row.coding) << row.value;
    }
  }
}

}  // namespace
