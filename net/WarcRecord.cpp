#include "net/WarcRecord.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <sstream>

#include "net/HttpResponse.h"
#include "text/JsonString.h"

struct Sha1::State {
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  ~State() { EVP_MD_CTX_free(context); }
};

Sha1::Sha1() : state(std::make_unique<State>()) {
  EVP_DigestInit_ex(state->context, EVP_sha1(), nullptr);
}

Sha1::~Sha1() = default;

void Sha1::Update(const char* data, size_t length) {
  if (length > 0) EVP_DigestUpdate(state->context, data, length);
}

std::string Sha1::Base32() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_DigestFinal_ex(state->context, digest, &length);
  return ::Base32(digest, length);
}

std::string Sha1::Label() { return "sha1:" + Base32(); }

std::string Base32(const unsigned char* data, size_t length) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
  std::string out;
  unsigned buffer = 0;
  int bits = 0;
  for (size_t i = 0; i < length; ++i) {
    buffer = (buffer << 8) | data[i];
    bits += 8;
    while (bits >= 5) {
      out += kAlphabet[(buffer >> (bits - 5)) & 31];
      bits -= 5;
    }
  }
  if (bits > 0) out += kAlphabet[(buffer << (5 - bits)) & 31];
  while (out.size() % 8 != 0) out += '=';
  return out;
}

std::string WarcRecordId() {
  unsigned char bytes[16];
  if (RAND_bytes(bytes, sizeof bytes) != 1) {
    // No randomness from the library: the time and a counter still make the
    // ids of one run differ.
    static unsigned long long counter = 0;
    unsigned long long now = static_cast<unsigned long long>(
        std::chrono::system_clock::now().time_since_epoch().count());
    for (int i = 0; i < 8; ++i) {
      bytes[i] = static_cast<unsigned char>(now >> (8 * i));
      bytes[8 + i] = static_cast<unsigned char>(counter >> (8 * i));
    }
    ++counter;
  }
  bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0f) | 0x40);
  bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3f) | 0x80);
  char text[64];
  std::snprintf(text, sizeof text,
                "<urn:uuid:%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x>",
                bytes[0], bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7],
                bytes[8], bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14],
                bytes[15]);
  return text;
}

namespace {

std::tm UtcOf(std::chrono::system_clock::time_point when) {
  std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  return utc;
}

std::string Formatted(std::chrono::system_clock::time_point when, const char* format) {
  std::tm utc = UtcOf(when);
  char text[32];
  std::strftime(text, sizeof text, format, &utc);
  return text;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

std::string WarcDate(std::chrono::system_clock::time_point when) {
  return Formatted(when, "%Y-%m-%dT%H:%M:%SZ");
}

std::string WarcTimestamp(std::chrono::system_clock::time_point when) {
  return Formatted(when, "%Y%m%d%H%M%S");
}

std::string WarcHead(const WarcFields& fields, unsigned long long blockLength) {
  std::string head = "WARC/1.1\r\n";
  for (const auto& field : fields) head += field.first + ": " + field.second + "\r\n";
  head += "Content-Length: " + std::to_string(blockLength) + "\r\n\r\n";
  return head;
}

std::string SurtKey(const std::string& url) {
  std::string text = Lower(url);
  size_t scheme = text.find("://");
  size_t hostStart = scheme == std::string::npos ? 0 : scheme + 3;
  size_t pathStart = text.find_first_of("/?#", hostStart);
  if (pathStart == std::string::npos) pathStart = text.size();
  std::string authority = text.substr(hostStart, pathStart - hostStart);
  std::string rest = text.substr(pathStart);
  size_t fragment = rest.find('#');
  if (fragment != std::string::npos) rest.resize(fragment);
  if (rest.empty() || rest[0] != '/') rest.insert(0, "/");
  // The port, unless it is the scheme's own.
  std::string host = authority, port;
  size_t colon = authority.rfind(':');
  if (colon != std::string::npos && authority.find(']', colon) == std::string::npos) {
    host = authority.substr(0, colon);
    port = authority.substr(colon + 1);
  }
  std::string schemeName = scheme == std::string::npos ? "" : text.substr(0, scheme);
  if ((schemeName == "http" && port == "80") || (schemeName == "https" && port == "443")) {
    port.clear();
  }
  if (host.compare(0, 4, "www.") == 0) host.erase(0, 4);
  std::string key;
  if (!host.empty() && host[0] == '[') {
    key = host;
  } else {
    for (size_t end = host.size(); end != std::string::npos;) {
      size_t dot = host.rfind('.', end == 0 ? 0 : end - 1);
      size_t begin = dot == std::string::npos ? 0 : dot + 1;
      if (!key.empty()) key += ',';
      key += host.substr(begin, end - begin);
      if (dot == std::string::npos) break;
      end = dot;
    }
  }
  if (!port.empty()) key += ":" + port;
  // The query's arguments in order, an empty query dropped.
  size_t question = rest.find('?');
  if (question != std::string::npos) {
    std::vector<std::string> arguments;
    std::stringstream query(rest.substr(question + 1));
    for (std::string argument; std::getline(query, argument, '&');) {
      if (!argument.empty()) arguments.push_back(argument);
    }
    std::sort(arguments.begin(), arguments.end());
    rest.resize(question);
    for (size_t i = 0; i < arguments.size(); ++i) rest += (i == 0 ? "?" : "&") + arguments[i];
  }
  return key + ")" + rest;
}

namespace {

// The final head among the heads of an exchange (interim ones before it).
struct FinalHead {
  int status = 0;
  std::string mime;  // the Content-Type without parameters, lower case
  bool chunked = false;
};

FinalHead FinalHeadOf(const std::string& heads) {
  std::stringbuf source(heads);
  FinalHead final;
  for (;;) {
    HttpResponse head;
    if (head.Read(source) != HttpResponse::End::kBlankLine && head.BytesRead() == 0) break;
    final.status = head.Status();
    std::string type = head.ContentType();
    type = type.substr(0, type.find(';'));
    while (!type.empty() && (type.back() == ' ' || type.back() == '\t')) type.pop_back();
    final.mime = Lower(type);
    final.chunked = head.HasToken("Transfer-Encoding", "chunked");
    if (!head.IsInterim() || head.HowEnded() != HttpResponse::End::kBlankLine) break;
  }
  return final;
}

// Feeds what a chunked body carries, its framing taken off, to a digest, as
// far as the body goes; what follows the last chunk is passed over.
class Dechunker {
 public:
  explicit Dechunker(Sha1* into) : into(into) {}

  void Feed(std::string_view bytes) {
    for (size_t at = 0; at < bytes.size();) {
      if (state == State::kData) {
        size_t take = std::min<unsigned long long>(left, bytes.size() - at);
        into->Update(bytes.data() + at, take);
        at += take;
        left -= take;
        if (left == 0) state = State::kDataEnd;
        continue;
      }
      char c = bytes[at++];
      if (state == State::kSize) {
        int digit =
            std::isxdigit(static_cast<unsigned char>(c))
                ? (std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (c | 0x20) - 'a' + 10)
                : -1;
        if (digit >= 0 && !sizeEnded) {
          if (left < (1ull << 58)) left = left * 16 + static_cast<unsigned>(digit);
        } else if (c == '\n') {
          state = left == 0 ? State::kDone : State::kData;
          sizeEnded = false;
        } else {
          sizeEnded = true;  // an extension, or the CR
        }
      } else if (state == State::kDataEnd && c == '\n') {
        state = State::kSize;
      }
    }
  }

 private:
  enum class State { kSize, kData, kDataEnd, kDone };
  Sha1* into;
  State state = State::kSize;
  unsigned long long left = 0;
  bool sizeEnded = false;
};

std::string JsonMember(const char* name, const std::string& value) {
  std::string member = "\"";
  member += name;
  member += "\":";
  AppendJsonString(&member, value);
  return member;
}

}  // namespace

std::vector<WarcRecord> ExchangeRecords(const RecordedExchange& exchange,
                                        const ExchangeFacts& facts) {
  std::vector<WarcRecord> records;
  if (exchange.request.empty()) return records;
  const std::string& uri = exchange.targetUri;
  const std::string date = WarcDate(facts.when);
  const std::string requestId = WarcRecordId(), responseId = WarcRecordId();
  const bool answered = !exchange.head.empty();
  auto common = [&](const char* type, const std::string& id) {
    WarcFields fields = {
        {"WARC-Type", type}, {"WARC-Record-ID", id}, {"WARC-Date", date}, {"WARC-Target-URI", uri}};
    if (!facts.warcinfoId.empty()) fields.emplace_back("WARC-Warcinfo-ID", facts.warcinfoId);
    if (!exchange.peerAddress.empty()) fields.emplace_back("WARC-IP-Address", exchange.peerAddress);
    return fields;
  };

  WarcRecord request;
  WarcFields fields = common("request", requestId);
  if (answered) fields.emplace_back("WARC-Concurrent-To", responseId);
  fields.emplace_back("Content-Type", "application/http; msgtype=request");
  Sha1 requestDigest;
  requestDigest.Update(exchange.request);
  fields.emplace_back("WARC-Block-Digest", requestDigest.Label());
  request.blockLength = exchange.request.size();
  request.head = WarcHead(fields, request.blockLength);
  request.block = [&exchange](const std::function<void(std::string_view)>& sink) {
    sink(exchange.request);
    return true;
  };
  if (!answered) {
    records.push_back(std::move(request));
    return records;
  }

  WarcRecord response;
  Sha1 block, payload;
  FinalHead final = FinalHeadOf(exchange.head);
  Dechunker dechunked(&payload);
  block.Update(exchange.head);
  bool readable = exchange.ReadBody([&](std::string_view piece) {
    block.Update(piece.data(), piece.size());
    if (final.chunked) {
      dechunked.Feed(piece);
    } else {
      payload.Update(piece.data(), piece.size());
    }
  });
  fields = common("response", responseId);
  fields.emplace_back("WARC-Concurrent-To", requestId);
  fields.emplace_back("Content-Type", "application/http; msgtype=response");
  fields.emplace_back("WARC-Block-Digest", block.Label());
  std::string payloadDigest = payload.Base32();
  fields.emplace_back("WARC-Payload-Digest", "sha1:" + payloadDigest);
  std::string truncated = readable ? facts.truncated : std::string("unspecified");
  if (!truncated.empty()) fields.emplace_back("WARC-Truncated", truncated);
  response.blockLength = exchange.head.size() + exchange.BodySize();
  response.head = WarcHead(fields, response.blockLength);
  response.block = [&exchange](const std::function<void(std::string_view)>& sink) {
    sink(exchange.head);
    return exchange.ReadBody(sink);
  };
  response.indexKey = SurtKey(uri) + " " + WarcTimestamp(facts.when);
  // An answer of no type has no mime member, as archive indexes have it.
  response.indexFields = JsonMember("url", uri) + "," +
                         (final.mime.empty() ? "" : JsonMember("mime", final.mime) + ",") +
                         JsonMember("status", std::to_string(final.status)) + "," +
                         JsonMember("digest", payloadDigest);
  // The response first, as archives keep them: an index entry points at it.
  records.push_back(std::move(response));
  records.push_back(std::move(request));
  return records;
}

WarcRecord WarcinfoRecord(const std::string& id, const std::string& fileName,
                          const std::string& software, const std::string& commandLine,
                          std::chrono::system_clock::time_point when) {
  auto info = std::make_shared<std::string>("software: " + software +
                                            "\r\nformat: WARC File Format 1.1\r\n"
                                            "conformsTo: "
                                            "https://iipc.github.io/warc-specifications/"
                                            "specifications/warc-format/warc-1.1/\r\n"
                                            "description: " +
                                            commandLine + "\r\n");
  WarcRecord record;
  WarcFields fields = {{"WARC-Type", "warcinfo"},
                       {"WARC-Record-ID", id},
                       {"WARC-Date", WarcDate(when)},
                       {"WARC-Filename", fileName},
                       {"Content-Type", "application/warc-fields"}};
  Sha1 digest;
  digest.Update(*info);
  fields.emplace_back("WARC-Block-Digest", digest.Label());
  record.blockLength = info->size();
  record.head = WarcHead(fields, record.blockLength);
  record.block = [info](const std::function<void(std::string_view)>& sink) {
    sink(*info);
    return true;
  };
  return record;
}
