// Compressed: bodies encoded by zlib and brotli themselves, for tests of
// the decoding of Content-Encoding.
#ifndef FERRET_TESTS_SUPPORT_COMPRESSED_H_
#define FERRET_TESTS_SUPPORT_COMPRESSED_H_

#include <string>

// windowBits as deflateInit2 takes them: 16 + 15 gzip, 15 zlib, -15 raw.
std::string Deflated(const std::string& data, int windowBits);
inline std::string Gzipped(const std::string& data) { return Deflated(data, 16 + 15); }

std::string Brotlied(const std::string& data);

// gzip of size bytes of zeros, made a MiB at a time: about a thousandth of
// size.
std::string GzippedZeros(size_t size);

#endif  // FERRET_TESTS_SUPPORT_COMPRESSED_H_
