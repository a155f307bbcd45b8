#include "tests/support/Compressed.h"

#include <brotli/encode.h>
#include <gtest/gtest.h>
#include <zlib.h>

std::string Deflated(const std::string& data, int windowBits) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, 9, Z_DEFLATED, windowBits, 9, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&z, data.size()), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(&out[0]);
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

std::string Brotlied(const std::string& data) {
  std::string out(BrotliEncoderMaxCompressedSize(data.size()), '\0');
  size_t size = out.size();
  EXPECT_TRUE(BrotliEncoderCompress(BROTLI_DEFAULT_QUALITY, BROTLI_DEFAULT_WINDOW,
                                    BROTLI_MODE_TEXT, data.size(),
                                    reinterpret_cast<const uint8_t*>(data.data()), &size,
                                    reinterpret_cast<uint8_t*>(&out[0])));
  out.resize(size);
  return out;
}

std::string GzippedZeros(size_t size) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, 9, Z_DEFLATED, 16 + 15, 9, Z_DEFAULT_STRATEGY), Z_OK);
  const std::string zeros(1 << 20, '\0');
  std::string gzip(size / 512 + 4096, '\0');
  size_t out = 0;
  const size_t pieces = size / zeros.size();
  for (size_t i = 0; i < pieces; ++i) {
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
    z.avail_in = static_cast<uInt>(zeros.size());
    do {
      z.next_out = reinterpret_cast<Bytef*>(&gzip[out]);
      z.avail_out = static_cast<uInt>(gzip.size() - out);
      deflate(&z, i + 1 == pieces ? Z_FINISH : Z_NO_FLUSH);
      out = gzip.size() - z.avail_out;
    } while (z.avail_in != 0);
  }
  deflateEnd(&z);
  gzip.resize(out);
  return gzip;
}
