#include "app/TextReporter.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/FailureText.h"
#include "app/Stop.h"
#include "net/FileWrite.h"

namespace {

// The progress line shows a URL's start only; what lies past this is cut
// before it is made safe.
constexpr size_t kProgressUrlBytes = 1024;

// A shown line's marks: where it was cut, and grep's default highlight of a
// match (GREP_COLORS ms=01;31).
constexpr char kCut[] = "...";
constexpr char kMatchStart[] = "\033[01;31m";
constexpr char kMatchEnd[] = "\033[m";

// Whether shown lines are highlighted: on a terminal, unless NO_COLOR is set
// to something (an empty value is none, as no-color.org says).
bool Highlights() {
  const char* noColor = std::getenv("NO_COLOR");
  return isatty(STDOUT_FILENO) == 1 && (noColor == nullptr || noColor[0] == '\0');
}

bool IsContinuation(unsigned char byte) { return byte >= 0x80 && byte <= 0xBF; }

// The length of the well-formed UTF-8 sequence at text (2 to 4, after the
// Unicode standard's table of well-formed byte sequences), or 0 when the
// bytes there are not one.
size_t SequenceLength(const unsigned char* text, size_t left) {
  unsigned char lead = text[0];
  size_t length = 0;
  unsigned char low = 0x80;  // the second byte's range, narrowed for E0, ED, F0, F4
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  }
  if (length == 0 || left < length || text[1] < low || text[1] > high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if (!IsContinuation(text[i])) return 0;
  }
  return length;
}

void AppendEscaped(std::string* out, unsigned char byte) {
  static const char kHex[] = "0123456789ABCDEF";
  *out += '%';
  *out += kHex[byte >> 4];
  *out += kHex[byte & 0xF];
}

// The line written for a shown line (see TextReporter.h).
std::string ShownText(const ShownLine& line, bool colour) {
  std::string text = line.text;
  std::replace(text.begin(), text.end(), '\t', ' ');
  const size_t start = line.matchStart;
  const size_t end = start + line.matchLength;
  std::string out = "  " + std::to_string(line.number) + ": ";
  if (line.cutBefore) out += kCut;
  out += TextReporter::TerminalSafe(text.data(), start);
  if (colour && end > start) out += kMatchStart;
  out += TextReporter::TerminalSafe(text.data() + start, end - start);
  if (colour && end > start) out += kMatchEnd;
  out += TextReporter::TerminalSafe(text.data() + end, text.size() - end);
  if (line.cutAfter) out += kCut;
  return out;
}

}  // namespace

std::string TextReporter::TerminalSafe(const char* text, size_t length) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  std::string out;
  out.reserve(length);
  for (size_t i = 0; i < length;) {
    unsigned char byte = bytes[i];
    size_t sequence = byte >= 0x80 ? SequenceLength(bytes + i, length - i) : 0;
    bool c1 = sequence == 2 && byte == 0xC2 && bytes[i + 1] <= 0x9F;
    if (sequence != 0 && !c1) {
      out.append(text + i, sequence);
      i += sequence;
    } else if (c1) {
      AppendEscaped(&out, byte);
      AppendEscaped(&out, bytes[i + 1]);
      i += 2;
    } else {
      if (byte < 0x20 || byte == 0x7F || (byte >= 0x80 && byte <= 0x9F)) {
        AppendEscaped(&out, byte);
      } else {
        out += static_cast<char>(byte);
      }
      ++i;
    }
  }
  return out;
}

TextReporter::TextReporter() : colour(Highlights()) {}

void TextReporter::RequestStarted(const CStr& url) {
  if (!progress.Enabled()) {
    progress.Request(CStr(), Counts().errors);  // counted, never shown
    return;
  }
  size_t shown = url.Length() < kProgressUrlBytes ? url.Length() : kProgressUrlBytes;
  progress.Request(CStr(TerminalSafe(url, shown).c_str()), Counts().errors);
}

void TextReporter::Notice(const CStr& message) {
  progress.Clear();
  std::fprintf(stderr, "ferret: %s\n", TerminalSafe(message, message.Length()).c_str());
}

void TextReporter::WriteLine(const CStr& line, const char* reason) {
  WriteSafe(TerminalSafe(line, line.Length()), reason);
}

void TextReporter::WriteSafe(std::string safe, const char* reason) {
  if (outputFailed) return;
  progress.Clear();
  safe += '\n';
  // Written at once, unbuffered, so each line stays ahead of its reason, and
  // of a later progress line; a line that cannot be written (a closed pipe, a
  // full disk) stops the crawl at once: nothing it does from then on could be
  // seen.
  // A write a stop signal interrupts is resumed (WriteAll): the stop still
  // wants the lines already begun, and the counters line, on the output; a
  // second signal ends the process.
  if (holding) {
    held += safe;
  } else if (!WriteOut(safe)) {
    return;
  }
  if (reason != nullptr) std::fprintf(stderr, "%s\n", reason);
}

bool TextReporter::WriteOut(const std::string& bytes) {
  if (WriteAll(STDOUT_FILENO, bytes.data(), bytes.size())) return true;
  outputFailed = true;
  outputError = errno;
  RequestStop(kStopOutputFailed);
  return false;
}

void TextReporter::ReleaseLines() {
  if (!outputFailed && !held.empty()) WriteOut(held);
  held.clear();
}

void TextReporter::WritePrinted(const CStr& url, const std::vector<ShownLine>& lines) {
  WriteLine(url, nullptr);
  for (const ShownLine& line : lines) WriteSafe(ShownText(line, colour), nullptr);
}

void TextReporter::WriteSaved(const CStr& url, const CStr& path) {
  CStr line;
  line.Format("Saving %s as %s", static_cast<const char*>(url), static_cast<const char*>(path));
  WriteLine(line, nullptr);
}

CStr TextReporter::FailureMessage(const CrawlFailure& failure, const char** reason) {
  CStr line;
  *reason = nullptr;
  switch (failure.kind) {
    case CrawlFailure::Kind::kFetch: {
      FailureLine text = FailureText(failure.fetch);
      *reason = text.reason;
      return text.line;
    }
    case CrawlFailure::Kind::kSave:
      line.Format("Cannot save %s: %s", static_cast<const char*>(failure.path),
                  static_cast<const char*>(failure.saveReason));
      break;
    case CrawlFailure::Kind::kTooManyLinks:
      line.Format("Too many links on %s: only the first %u are kept",
                  static_cast<const char*>(failure.url), static_cast<unsigned>(failure.count));
      break;
    case CrawlFailure::Kind::kTooManyPending:
      line.Format("Too many pending links: past %u, links are dropped (first on %s)",
                  static_cast<unsigned>(failure.count), static_cast<const char*>(failure.url));
      break;
    case CrawlFailure::Kind::kStartLine:
      line.Format("Bad start line %u: %s", static_cast<unsigned>(failure.count),
                  static_cast<const char*>(failure.saveReason));
      break;
    case CrawlFailure::Kind::kPattern:
      line.Format("Cannot search with pattern %s: %s (first on %s)",
                  static_cast<const char*>(failure.pattern),
                  static_cast<const char*>(failure.reason), static_cast<const char*>(failure.url));
      break;
  }
  return line;
}

void TextReporter::WriteFailure(const CrawlFailure& failure) {
  const char* reason;
  CStr line = FailureMessage(failure, &reason);
  WriteLine(line, reason);
}

CStr TextReporter::CountersLine(const Counters& c) {
  CStr line;
  line.Format("Saves(%d) Prints(%d) Hits(%d) HTTP 200(%d%%) Errors(%d)", c.saves, c.prints, c.hits,
              static_cast<int>(c.Percent200()), c.errors);
  return line;
}

bool TextReporter::Finish(bool withCounters) {
  if (withCounters) WriteLine(CountersLine(Counts()), nullptr);
  return FinishOutput();
}

bool TextReporter::FinishOutput() {
  progress.Clear();
  if (!outputFailed) return true;
  int error = outputError;
  std::fprintf(stderr, "ferret: cannot write standard output%s%s\n", error != 0 ? ": " : "",
               error != 0 ? std::strerror(error) : "");
  return false;
}
