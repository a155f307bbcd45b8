#include "app/JsonReporter.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>

#include "text/JsonString.h"

namespace {

// One event, built member by member.
class Event {
 public:
  explicit Event(const char* type) { Text("type", type); }
  Event& Text(const char* name, std::string_view value) {
    Name(name);
    AppendJsonString(&line, value);
    return *this;
  }
  Event& Text(const char* name, const char* value) { return Text(name, std::string_view(value)); }
  Event& Text(const char* name, const std::string& value) {
    return Text(name, std::string_view(value));
  }
  Event& Text(const char* name, const CStr& value) {
    return Text(name, std::string_view(value, value.Length()));
  }
  // An absolute URL: the crawl writes http URLs without their scheme.
  Event& Url(const char* name, const CStr& url) {
    std::string_view text(url, url.Length());
    if (text.rfind("http://", 0) == 0 || text.rfind("https://", 0) == 0) return Text(name, text);
    return Text(name, "http://" + std::string(text));
  }
  Event& Number(const char* name, long long value) {
    Name(name);
    line += std::to_string(value);
    return *this;
  }
  Event& Bool(const char* name, bool value) {
    Name(name);
    line += value ? "true" : "false";
    return *this;
  }
  Event& Null(const char* name) {
    Name(name);
    line += "null";
    return *this;
  }
  Event& Raw(const char* name, const std::string& json) {
    Name(name);
    line += json;
    return *this;
  }
  std::string Done() { return line + "}"; }

 private:
  void Name(const char* name) {
    line += line.size() == 1 ? "\"" : ",\"";
    line += name;
    line += "\":";
  }
  std::string line = "{";
};

const char* KindName(FailureKind kind) {
  switch (kind) {
    case FailureKind::kNone: return "none";
    case FailureKind::kBadUrl: return "bad_url";
    case FailureKind::kUrlTooLong: return "url_too_long";
    case FailureKind::kConnectFailed: return "connect";
    case FailureKind::kTlsFailed: return "tls";
    case FailureKind::kTooManyRedirects: return "too_many_redirects";
    case FailureKind::kHttpError: return "http";
    case FailureKind::kEmptyReply: return "empty_reply";
    case FailureKind::kTimedOut: return "timeout";
    case FailureKind::kReceiveFailed: return "receive";
    case FailureKind::kHeaderTooLarge: return "header_too_large";
    case FailureKind::kCutShort: return "cut_short";
    case FailureKind::kBadLength: return "bad_length";
    case FailureKind::kConflictingLength: return "conflicting_length";
    case FailureKind::kBadChunking: return "bad_chunking";
    case FailureKind::kBadEncoding: return "bad_encoding";
    case FailureKind::kDecodedTooLarge: return "decoded_too_large";
    case FailureKind::kTooManyInterim: return "too_many_interim";
    case FailureKind::kRedirectScheme: return "redirect_scheme";
    case FailureKind::kProxyFailed: return "proxy";
    case FailureKind::kBadProxy: return "bad_proxy";
  }
  return "other";
}

const char* RefusalName(Reporter::Refusal reason) {
  switch (reason) {
    case Reporter::Refusal::kConfine: return "confine";
    case Reporter::Refusal::kRobots: return "robots";
    case Reporter::Refusal::kScope: return "scope";
    case Reporter::Refusal::kOnce: return "once";
  }
  return "other";
}

// The size and SHA-256 (hex) of the file at path; false when it cannot be
// read.
bool FileDigest(const char* path, unsigned long long* size, std::string* hex) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd == -1) return false;
  std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr);
  char piece[64 * 1024];
  *size = 0;
  ssize_t got;
  while ((got = read(fd, piece, sizeof piece)) != 0) {
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) break;
    EVP_DigestUpdate(context.get(), piece, static_cast<size_t>(got));
    *size += static_cast<unsigned long long>(got);
  }
  close(fd);
  if (got < 0) return false;
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_DigestFinal_ex(context.get(), digest, &length);
  static const char kHex[] = "0123456789abcdef";
  hex->clear();
  for (unsigned i = 0; i < length; ++i) {
    *hex += kHex[digest[i] >> 4];
    *hex += kHex[digest[i] & 15];
  }
  return true;
}

std::string LinesJson(const std::vector<ShownLine>& lines) {
  std::string json = "[";
  for (const ShownLine& line : lines) {
    if (json.size() > 1) json += ',';
    size_t start = line.column + line.matchStart;
    json += "{\"line\":" + std::to_string(line.number) + ",\"text\":" + JsonString(line.text) +
            ",\"offset\":" + std::to_string(line.column) + ",\"match\":[" + std::to_string(start) +
            "," + std::to_string(start + line.matchLength) + "]}";
  }
  return json + "]";
}

}  // namespace

JsonReporter::JsonReporter() = default;

void JsonReporter::RequestStarted(const CStr& url) {
  requestBegan = Clock::now();
  requestBytes = 0;
  TextReporter::RequestStarted(url);
}

void JsonReporter::BodyBytes(size_t length) {
  requestBytes += length;
  TextReporter::BodyBytes(length);
}

void JsonReporter::PageRead(const PageFacts& page) {
  Event event("page");
  event.Url("url", page.url).Url("final_url", page.finalUrl);
  if (page.referrer.IsEmpty()) {
    event.Null("referrer");
  } else {
    event.Url("referrer", page.referrer);
  }
  event.Number("status", page.status)
      .Number("depth", page.depth)
      .Text("content_type", page.contentType)
      .Number("bytes", static_cast<long long>(requestBytes))
      .Number("elapsed_ms",
              std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - requestBegan)
                  .count())
      .Bool("matched", page.matched);
  if (page.lines != nullptr && !page.lines->empty()) event.Raw("lines", LinesJson(*page.lines));
  WriteRaw(event.Done());
}

void JsonReporter::LinkFound(const LinkFacts& link) {
  Event event("link");
  event.Url("url", link.url).Url("referrer", link.referrer);
  if (link.element[0] != '\0')
    event.Text("element", link.element).Text("attribute", link.attribute);
  WriteRaw(event.Done());
}

void JsonReporter::StartBegun(const CStr& url, long line, int depth) {
  WriteRaw(Event("start").Url("url", url).Number("line", line).Number("depth", depth).Done());
}

void JsonReporter::Outlink(const CStr& url, int shard, int depth, const CStr& referrer) {
  Event event("outlink");
  event.Url("url", url).Number("shard", shard).Number("depth", depth);
  if (referrer.IsEmpty()) {
    event.Null("referrer");
  } else {
    event.Url("referrer", referrer);
  }
  WriteRaw(event.Done());
}

// A page's URL is told by its page event, a link's by its link event.
void JsonReporter::WritePrinted(const CStr&, const std::vector<ShownLine>&) {}

void JsonReporter::WriteSaved(const CStr& url, const CStr& path) {
  Event event("save");
  event.Url("url", url).Text("path", path);
  unsigned long long size = 0;
  std::string digest;
  if (FileDigest(path, &size, &digest)) {
    event.Number("bytes", static_cast<long long>(size)).Text("sha256", digest);
  }
  WriteRaw(event.Done());
}

void JsonReporter::WriteFailure(const CrawlFailure& failure) {
  const char* reason;
  CStr message = FailureMessage(failure, &reason);
  Event event("error");
  switch (failure.kind) {
    case CrawlFailure::Kind::kFetch:
      event.Url("url", failure.fetch.url).Text("kind", KindName(failure.fetch.kind));
      break;
    case CrawlFailure::Kind::kSave: event.Url("url", failure.url).Text("kind", "save"); break;
    case CrawlFailure::Kind::kTooManyLinks:
      event.Url("url", failure.url).Text("kind", "too_many_links");
      break;
    case CrawlFailure::Kind::kTooManyPending:
      event.Url("url", failure.url).Text("kind", "too_many_pending");
      break;
    case CrawlFailure::Kind::kStartLine:
      event.Url("url", failure.url).Text("kind", "start_line").Number("line", failure.count);
      break;
    case CrawlFailure::Kind::kPattern:
      event.Url("url", failure.url).Text("kind", "pattern").Text("pattern", failure.pattern);
      break;
  }
  bool fetch = failure.kind == CrawlFailure::Kind::kFetch;
  event.Text("message", message).Number("errno", fetch ? failure.fetch.systemError : 0);
  if (fetch && failure.fetch.kind == FailureKind::kHttpError) {
    event.Number("status", failure.fetch.status);
  }
  WriteRaw(event.Done());
  std::fprintf(stderr, "%s\n", TerminalSafe(message, message.Length()).c_str());
  if (reason != nullptr) std::fprintf(stderr, "%s\n", reason);
}

void JsonReporter::WriteRefused(const CStr& url, Refusal reason) {
  WriteRaw(Event("refused").Url("url", url).Text("reason", RefusalName(reason)).Done());
}

bool JsonReporter::Finish(bool) {
  const Counters& c = Counts();
  Event event("stats");
  event.Number("saves", c.saves)
      .Number("prints", c.prints)
      .Number("hits", c.hits)
      .Number("http200", c.http200)
      .Number("percent200", c.Percent200())
      .Number("errors", c.errors)
      .Number("refused", c.refused)
      .Number("exit_status", status)
      .Number("wall_ms",
              std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - began).count());
  WriteRaw(event.Done());
  return FinishOutput();
}
