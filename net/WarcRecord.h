// WarcRecord: WARC/1.1 records (ISO 28500) as bytes, and the values of the
// fields they carry.
//
// A record is its head (the line "WARC/1.1", then one "Name: value" line per
// field, each ended by CR LF, then an empty line), its block of exactly
// Content-Length bytes, and CR LF CR LF. WarcHead writes the head, the
// Content-Length field last; the caller sends the block and kRecordEnd after
// it. Digests are SHA-1, written as is customary: "sha1:" and the 20 bytes
// in base32 (RFC 4648, upper case; 32 characters, never padded). Dates are
// UTC to the second ("2026-12-09T18:40:00Z"); record ids are random
// (version 4) UUIDs as "<urn:uuid:...>".
//
// ExchangeRecords turns one recorded exchange (net/RecordedExchange.h) into
// its request and response records: the request as sent, the response as
// received (interim heads, framing and content coding included), linked by
// WARC-Concurrent-To. The payload digest is over the body of the final head
// with its chunked framing removed (still content-coded), as archives index
// it.
#ifndef FERRET_NET_WARCRECORD_H_
#define FERRET_NET_WARCRECORD_H_

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "net/RecordedExchange.h"

constexpr std::string_view kRecordEnd = "\r\n\r\n";

// SHA-1, fed in pieces.
class Sha1 {
 public:
  Sha1();
  ~Sha1();
  Sha1(const Sha1&) = delete;
  Sha1& operator=(const Sha1&) = delete;
  void Update(const char* data, size_t length);
  void Update(std::string_view text) { Update(text.data(), text.size()); }
  // "sha1:" and the digest of everything fed, in base32; once.
  std::string Label();
  // The same without "sha1:".
  std::string Base32();

 private:
  struct State;
  std::unique_ptr<State> state;
};

std::string Base32(const unsigned char* data, size_t length);
std::string WarcRecordId();
std::string WarcDate(std::chrono::system_clock::time_point when);
// The same instant as 14 digits, YYYYMMDDhhmmss (the index's timestamp).
std::string WarcTimestamp(std::chrono::system_clock::time_point when);

using WarcFields = std::vector<std::pair<std::string, std::string>>;
// "WARC/1.1", the fields, Content-Length: blockLength, the empty line.
std::string WarcHead(const WarcFields& fields, unsigned long long blockLength);

// A record ready to be written: its head, and its block as pieces (the
// block's length is in the head). The pieces are read by Block, which may be
// called more than once; it gives false when a piece could not be read.
struct WarcRecord {
  std::string head;
  std::function<bool(const std::function<void(std::string_view)>&)> block;
  unsigned long long blockLength = 0;
  // For the response record of an exchange: its index entry, without the
  // record's place in the file (see WarcWriter).
  std::string indexKey;     // SURT form of the URI, then a space, then the timestamp
  std::string indexFields;  // "url", "mime", "status", "digest" as JSON members
};

// What of an exchange the records say beside its bytes.
struct ExchangeFacts {
  std::chrono::system_clock::time_point when;
  std::string warcinfoId;  // the run's warcinfo record, for WARC-Warcinfo-ID
  // "disconnect", "time", "length" or "" (the answer arrived whole).
  std::string truncated;
};

// The records of one exchange: none when no request went out; the request
// alone when no byte of an answer came; else request and response. The
// records read the exchange's bytes, which must outlive them.
std::vector<WarcRecord> ExchangeRecords(const RecordedExchange& exchange,
                                        const ExchangeFacts& facts);

// The warcinfo record that begins a run's archive.
WarcRecord WarcinfoRecord(const std::string& id, const std::string& fileName,
                          const std::string& software, const std::string& commandLine,
                          std::chrono::system_clock::time_point when);

// The SURT form of url as archives key it: "http://www.Example.com:8080/a?b"
// gives "com,example,www:8080)/a?b" (host labels reversed, lower case; the
// port kept unless it is the scheme's; the path and query as they are). An
// IPv6 literal keeps its brackets and is not reversed.
std::string SurtKey(const std::string& url);

#endif  // FERRET_NET_WARCRECORD_H_
