#include "text/HtmlTokenizer.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// The states are the WHATWG tokenizer's, less those that only tell parse
// errors apart (the comment's "<!--" nesting states) or keep what no token
// carries (a DOCTYPE's parts: it ends at the first '>' whatever it holds).
// RCDATA, RAWTEXT, script data and script data escaped share one
// less-than-sign state and one end tag name state, which fall back to
// rawState_.
enum class HtmlTokenizer::State : uint8_t {
  kData,
  kRcdata,
  kRawtext,
  kScriptData,
  kPlaintext,
  kTagOpen,
  kEndTagOpen,
  kTagName,
  kRawLessThan,
  kRawEndTagName,
  kScriptEscapeStart,
  kScriptEscapeStartDash,
  kScriptEscaped,
  kScriptEscapedDash,
  kScriptEscapedDashDash,
  kScriptDoubleEscapeStart,
  kScriptDoubleEscaped,
  kScriptDoubleEscapedDash,
  kScriptDoubleEscapedDashDash,
  kScriptDoubleEscapedLessThan,
  kScriptDoubleEscapeEnd,
  // The attribute states, kBeforeAttributeName to kSelfClosingStartTag, stay
  // together: Feed tells them by range.
  kBeforeAttributeName,
  kAttributeName,
  kAfterAttributeName,
  kBeforeAttributeValue,
  kAttributeValueDouble,
  kAttributeValueSingle,
  kAttributeValueUnquoted,
  kAfterAttributeValueQuoted,
  kSelfClosingStartTag,
  kMarkupDeclarationOpen,
  kBogusComment,
  kCommentStart,
  kCommentStartDash,
  kComment,
  kCommentEndDash,
  kCommentEnd,
  kCommentEndBang,
  kDoctype,
  kCharacterReference,
  kNamedReference,
  kNumericReference,
  kHexStart,
  kDecimalStart,
  kHex,
  kDecimal,
};

namespace {

using State = HtmlTokenizer::State;

const char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

bool IsAlpha(char c) { return static_cast<unsigned char>((c | 0x20) - 'a') < 26; }
bool IsDigit(char c) { return static_cast<unsigned char>(c - '0') < 10; }
bool IsAlnum(char c) { return IsAlpha(c) || IsDigit(c); }
int HexValue(char c) {
  if (IsDigit(c)) return c - '0';
  unsigned char folded = static_cast<unsigned char>((c | 0x20) - 'a');
  return folded < 6 ? folded + 10 : -1;
}
char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c | 0x20) : c; }
// White space as the tokenizer sees it once CR has become LF.
bool IsSpace(char c) { return c == ' ' || c == '\n' || c == '\t' || c == '\f'; }

// The first byte in [p, end) that is one of a, b, c, d (end if none),
// sixteen bytes at a time where SSE2 is there.
template <char A, char B, char C, char D>
const char* ScanFor(const char* p, const char* end) {
#if defined(__SSE2__)
  const __m128i a = _mm_set1_epi8(A), b = _mm_set1_epi8(B), c = _mm_set1_epi8(C),
                d = _mm_set1_epi8(D);
  while (end - p >= 16) {
    __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i hits = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(x, a), _mm_cmpeq_epi8(x, b)),
                                _mm_or_si128(_mm_cmpeq_epi8(x, c), _mm_cmpeq_epi8(x, d)));
    int mask = _mm_movemask_epi8(hits);
    if (mask != 0) return p + __builtin_ctz(static_cast<unsigned>(mask));
    p += 16;
  }
#endif
  while (p < end && *p != A && *p != B && *p != C && *p != D) ++p;
  return p;
}

// The quote (double or single) that ends a quoted attribute value: the
// first in [p, end), or end. No reference or other byte can end the value
// before it.
const char* ClosingQuote(char quote, const char* p, const char* end) {
  return quote == '"' ? ScanFor<'"', '"', '"', '"'>(p, end) : ScanFor<'\'', '\'', '\'', '\''>(p, end);
}

// Classes of bytes that end a run in the tag states; a run of bytes of no
// such class is taken whole.
constexpr uint8_t kEndsTagName = 1;        // white space, CR, '/', '>', NUL
constexpr uint8_t kEndsAttributeName = 2;  // those and '='
constexpr uint8_t kEndsUnquotedValue = 4;  // white space, CR, '&', '>', NUL

struct ByteClasses {
  uint8_t of[256];
};

constexpr ByteClasses MakeByteClasses() {
  ByteClasses classes{};
  for (unsigned char c : {' ', '\t', '\n', '\f', '\r', '>', '\0'}) {
    classes.of[c] = kEndsTagName | kEndsAttributeName | kEndsUnquotedValue;
  }
  classes.of[static_cast<unsigned char>('/')] = kEndsTagName | kEndsAttributeName;
  classes.of[static_cast<unsigned char>('=')] = kEndsAttributeName;
  classes.of[static_cast<unsigned char>('&')] = kEndsUnquotedValue;
  return classes;
}

constexpr ByteClasses kByteClasses = MakeByteClasses();

// Tag names up to this length are read in one pass, lowered as they are
// scanned.
constexpr size_t kShortName = 32;

// The first byte in [p, end) of one of the classes in ends (end if none).
const char* RunEnd(const char* p, const char* end, uint8_t ends) {
  while (p < end && (kByteClasses.of[static_cast<unsigned char>(*p)] & ends) == 0) ++p;
  return p;
}

// The bytes of the tag name at p, at most room of them, lowered into out;
// how many there were.
size_t LowerTagName(const char* p, size_t room, char* out) {
  size_t n = 0;
  while (n < room && (kByteClasses.of[static_cast<unsigned char>(p[n])] & kEndsTagName) == 0) {
    out[n] = Lower(p[n]);
    ++n;
  }
  return n;
}

// The text state a start tag switches to; kData for most.
State TextStateAfter(std::string_view name) {
  switch (name.size()) {
    case 3:
      if (name == "xmp") return State::kRawtext;
      break;
    case 5:
      if (name == "title") return State::kRcdata;
      if (name == "style") return State::kRawtext;
      break;
    case 6:
      if (name == "script") return State::kScriptData;
      if (name == "iframe") return State::kRawtext;
      break;
    case 7:
      if (name == "noembed") return State::kRawtext;
      break;
    case 8:
      if (name == "textarea") return State::kRcdata;
      if (name == "noframes") return State::kRawtext;
      break;
    case 9:
      if (name == "plaintext") return State::kPlaintext;
      break;
  }
  return State::kData;
}

}  // namespace

HtmlTokenizer::HtmlTokenizer(HtmlTokenSink* sink)
    : sink_(sink), state_(State::kData),
      returnState_(State::kData), rawState_(State::kData) {
  textToken_.kind = HtmlToken::Kind::kText;
}

// ---- Buffers

void HtmlTokenizer::Buffer::Grow(size_t more) {
  size_t capacity = std::max({size_ + more, 2 * capacity_, size_t{256}});
  std::unique_ptr<char[]> bigger(new char[capacity]);
  if (size_ != 0) std::memcpy(bigger.get(), data_.get(), size_);
  data_ = std::move(bigger);
  capacity_ = capacity;
}

// ---- Text

void HtmlTokenizer::AppendTextInPieces(const char* s, size_t n) {
  while (n > 0) {
    size_t room = kMaxTokenBytes - text_.size();
    if (room == 0) {
      FlushText();
      continue;
    }
    size_t take = std::min(room, n);
    text_.Append(s, take);
    s += take;
    n -= take;
  }
}

void HtmlTokenizer::AppendTextByte(char c) {
  if (skipText_) return;
  if (text_.size() == kMaxTokenBytes) FlushText();
  text_.Push(c);
}

void HtmlTokenizer::FlushText() {
  if (text_.size() == 0) return;
  textToken_.text = std::string_view(text_.data(), text_.size());
  sink_->OnToken(textToken_);
  text_.Clear();
}

void HtmlTokenizer::EnterText(State state) {
  state_ = state;
  textToken_.rawText = state != State::kData && state != State::kRcdata;
}

// ---- Tags

void HtmlTokenizer::StartTag(HtmlToken::Kind kind) {
  tag_.kind = kind;
  tag_.selfClosing = false;
  bytes_.Clear();
  nameLength_ = 0;
  spans_.clear();
  keepAttribute_ = false;
  tagKeepsAttributes_ = -1;
}

void HtmlTokenizer::AppendLowered(const char* s, size_t n) {
  if (n == 0) return;
  char* out = bytes_.Extend(n);
  for (size_t i = 0; i < n; ++i) out[i] = Lower(s[i]);
}

void HtmlTokenizer::AppendTagName(const char* s, size_t n) {
  // kMaxTagBytes >= kMaxTokenBytes: the name alone never passes the tag's bound.
  size_t take = std::min(n, kMaxTokenBytes - nameLength_);
  AppendLowered(s, take);
  nameLength_ += take;
}

bool HtmlTokenizer::KeepsNoAttribute() {
  if (tagKeepsAttributes_ < 0) {
    tagKeepsAttributes_ = tag_.kind == HtmlToken::Kind::kStartTag &&
                          (attributesOf_ == nullptr ||
                           attributesOf_(std::string_view(bytes_.data(), nameLength_)));
  }
  return tagKeepsAttributes_ == 0;
}

void HtmlTokenizer::StartAttribute() {
  // The name is whole once an attribute begins.
  keepAttribute_ = !KeepsNoAttribute() && spans_.size() < kMaxAttributes &&
                   bytes_.size() < kMaxTagBytes;
  if (keepAttribute_) spans_.push_back({bytes_.size(), 0, 0, 0});
}

size_t HtmlTokenizer::AttributeRoom(size_t length, size_t n) const {
  return std::min({n, kMaxTokenBytes - length, kMaxTagBytes - bytes_.size()});
}

void HtmlTokenizer::AppendAttributeName(const char* s, size_t n) {
  if (!keepAttribute_) return;
  Span& span = spans_.back();
  size_t take = AttributeRoom(span.nameLength, n);
  AppendLowered(s, take);
  span.nameLength += take;
}

void HtmlTokenizer::AppendAttributeValue(const char* s, size_t n) {
  if (!keepAttribute_) return;
  Span& span = spans_.back();
  size_t take = AttributeRoom(span.valueLength, n);
  bytes_.Append(s, take);
  span.valueLength += take;
}

bool HtmlTokenizer::RefusesName(const char* name, const char* stop) const {
  if (attributesNamed_ == nullptr) return false;
  // The filter reads lower case: a short name is lowered here, a long one
  // left to the states.
  char lowered[kShortName];
  size_t n = static_cast<size_t>(stop - name);
  if (n > sizeof lowered) return false;
  for (size_t i = 0; i < n; ++i) lowered[i] = Lower(name[i]);
  return !attributesNamed_(std::string_view(lowered, n));
}

void HtmlTokenizer::EndAttributeName() {
  if (!keepAttribute_) return;
  Span& span = spans_.back();
  span.value = bytes_.size();
  std::string_view name(bytes_.data() + span.name, span.nameLength);
  bool drop = attributesNamed_ != nullptr && !attributesNamed_(name);
  // The first of a name wins.
  for (size_t i = 0; i + 1 < spans_.size() && !drop; ++i) {
    drop = std::string_view(bytes_.data() + spans_[i].name, spans_[i].nameLength) == name;
  }
  if (drop) {  // its value is read and not kept
    bytes_.Truncate(span.name);
    spans_.pop_back();
    keepAttribute_ = false;
  }
}

void HtmlTokenizer::EmitTag() {
  FlushText();
  if (tag_.kind == HtmlToken::Kind::kEndTag) tag_.selfClosing = false;
  // The views are made only now: bytes_ may have moved while the tag grew.
  const char* bytes = bytes_.data();
  tag_.name = std::string_view(bytes, nameLength_);
  if (attributes_.size() < spans_.size()) attributes_.resize(spans_.size());
  for (size_t i = 0; i < spans_.size(); ++i) {
    const Span& span = spans_[i];
    attributes_[i].name = std::string_view(bytes + span.name, span.nameLength);
    attributes_[i].value = std::string_view(bytes + span.value, span.valueLength);
  }
  tag_.attributes = HtmlAttributes(attributes_.data(), spans_.size());
  if (!keptTagsOnly_ || !KeepsNoAttribute()) sink_->OnToken(tag_);
  State next = State::kData;
  if (tag_.kind == HtmlToken::Kind::kStartTag) {
    next = TextStateAfter(tag_.name);
    if (next != State::kData) lastStartTag_.assign(tag_.name.data(), tag_.name.size());
  }
  EnterText(next);
}

const char* HtmlTokenizer::EmitTagAt(const char* at, bool selfClosing) {
  tag_.selfClosing = selfClosing;
  EmitTag();
  return at;
}

void HtmlTokenizer::FlushEndTagCandidate() {
  AppendText(endTagCandidate_.data(), endTagCandidate_.size());
  endTagCandidate_.clear();
}

void HtmlTokenizer::AppendRawStop(char c) {
  if (c == '\0') {
    AppendText(kReplacement, 3);
  } else {
    AppendTextByte('\n');
  }
}

void HtmlTokenizer::EnterScriptLessThan(bool doubleEscaped) {
  if (doubleEscaped) {
    AppendTextByte('<');
    state_ = State::kScriptDoubleEscapedLessThan;
  } else {
    rawState_ = State::kScriptEscaped;
    state_ = State::kRawLessThan;
  }
}

void HtmlTokenizer::UpdateScriptMatch(char c) {
  static const char kScript[] = "script";
  if (scriptMatchOk_ && scriptMatch_ < 6 && Lower(c) == kScript[scriptMatch_]) {
    ++scriptMatch_;
  } else {
    scriptMatchOk_ = false;
  }
}

// ---- Character references

bool HtmlTokenizer::InAttributeValue(State state) {
  return state == State::kAttributeValueDouble || state == State::kAttributeValueSingle ||
         state == State::kAttributeValueUnquoted;
}

void HtmlTokenizer::StartReference(State returnState) {
  returnState_ = returnState;
  state_ = State::kCharacterReference;
}

void HtmlTokenizer::AppendReferenceOutput(const char* s, size_t n) {
  if (InAttributeValue(returnState_)) {
    AppendAttributeValue(s, n);
  } else {
    AppendText(s, n);
  }
}

void HtmlTokenizer::EndNamedReference(int next) {
  const HtmlEntity* match = entity_.Match();
  size_t taken = entity_.Length();
  bool literal = match == nullptr;
  if (!literal && match->name[match->nameLength - 1] != ';' && InAttributeValue(returnState_)) {
    // A legacy name in a value stays as written when a letter, digit or '='
    // follows it ("?a=1&copy=2").
    int after = match->nameLength < taken ? referenceName_[match->nameLength] : next;
    literal = after == '=' || (after >= 0 && IsAlnum(static_cast<char>(after)));
  }
  if (literal) {
    AppendReferenceOutput("&", 1);
    AppendReferenceOutput(referenceName_, taken);
  } else {
    AppendReferenceOutput(match->value, match->valueLength);
    AppendReferenceOutput(referenceName_ + match->nameLength, taken - match->nameLength);
  }
  state_ = returnState_;
}

void HtmlTokenizer::EndNumericReference() {
  char bytes[4];
  AppendReferenceOutput(bytes, EncodeNumericReference(referenceValue_, bytes));
  state_ = returnState_;
}

bool HtmlTokenizer::TakeRun(const char*& p, const char* stop,
                            void (HtmlTokenizer::*append)(const char*, size_t)) {
  if (stop == p) return false;
  (this->*append)(p, static_cast<size_t>(stop - p));
  p = stop;
  return true;
}

// ---- The common shapes, read without going back through the states

const char* HtmlTokenizer::ReadData(const char* p, const char* end) {
  while (p < end) {
    // Without text, neither a reference nor a line end changes what is read.
    const char* stop = skipText_ ? ScanFor<'<', '<', '<', '<'>(p, end)
                                 : ScanFor<'<', '&', '\r', '\r'>(p, end);
    AppendText(p, static_cast<size_t>(stop - p));
    p = stop;
    if (p == end) break;
    char c = *p++;
    if (c == '\r') {
      AppendTextByte('\n');
      if (p < end && *p == '\n') ++p;
      continue;
    }
    if (c == '&') {
      StartReference(State::kData);
      break;
    }
    // "<" then a letter, or "</" then a letter: a tag.
    bool endTag = p < end && *p == '/';
    const char* name = endTag ? p + 1 : p;
    if (name == end || !IsAlpha(*name)) {
      state_ = State::kTagOpen;
      break;
    }
    if (skipText_ && keptTagsOnly_ && attributesOf_ != nullptr) {
      if (const char* after = PassOverTag(endTag, name, end)) {
        p = after;
        continue;
      }
    }
    StartTag(endTag ? HtmlToken::Kind::kEndTag : HtmlToken::Kind::kStartTag);
    state_ = State::kTagName;
    p = ReadTag(name, end);
    if (state_ != State::kData) break;
  }
  return p;
}

const char* HtmlTokenizer::PassOverTag(bool endTag, const char* p, const char* end) const {
  const char* stop;
  if (endTag) {
    stop = RunEnd(p, end, kEndsTagName);
  } else {
    // Neither kept nor a tag after which text is read otherwise.
    char lowered[kShortName];
    const size_t room = std::min<size_t>(static_cast<size_t>(end - p), kShortName);
    const size_t n = LowerTagName(p, room, lowered);
    if (n == room) return nullptr;  // a long name, or one the input cuts
    stop = p + n;
    std::string_view name(lowered, n);
    if (attributesOf_(name) || TextStateAfter(name) != State::kData) return nullptr;
  }
  if (stop == end || *stop == '\0') return nullptr;
  // The attributes as the states read them, for the shapes below: names,
  // quoted and unquoted values, names without values; a CR reads as the
  // white space it becomes.
  p = stop;
  auto skipSpace = [end](const char* at) {
    while (at < end && (IsSpace(*at) || *at == '\r')) ++at;
    return at;
  };
  for (;;) {
    p = skipSpace(p);
    if (p == end) return nullptr;
    if (*p == '>') return p + 1;
    if (*p == '/') return p + 1 < end && p[1] == '>' ? p + 2 : nullptr;
    if (*p == '=' || *p == '\0') return nullptr;  // '=' would begin a name
    p = RunEnd(p, end, kEndsAttributeName);
    if (p == end || *p == '\0') return nullptr;
    const char* after = skipSpace(p);
    if (after == end) return nullptr;
    if (*after != '=') {  // the end, or the next name
      p = after;
      continue;
    }
    p = skipSpace(after + 1);
    if (p == end) return nullptr;
    if (*p == '"' || *p == '\'') {
      const char* close = ClosingQuote(*p, p + 1, end);
      if (close == end) return nullptr;
      p = close + 1;
      continue;  // then white space, the end or (with none between) a name
    }
    if (*p == '>') return p + 1;
    for (;;) {  // an unquoted value: to white space or '>'
      p = RunEnd(p, end, kEndsUnquotedValue);
      if (p == end || *p == '\0') return nullptr;
      if (*p != '&') break;
      ++p;
    }
    if (*p == '>') return p + 1;
  }
}

const char* HtmlTokenizer::ReadTag(const char* p, const char* end) {
  // Each step below is the states' own for these bytes; at anything else
  // (CR, NUL, '&', an odd '/' or '=', the end of the input) state_ is left
  // where the states take over.
  // The name, lowered as it is scanned (a long one the rest of the way as
  // the states read it).
  const size_t room = std::min<size_t>(static_cast<size_t>(end - p), kShortName);
  const size_t n = LowerTagName(p, room, bytes_.Room(room));
  bytes_.Commit(n);
  nameLength_ += n;
  p += n;
  const char* stop = p;
  if (n == kShortName) {
    stop = RunEnd(p, end, kEndsTagName);
    AppendTagName(p, static_cast<size_t>(stop - p));
    p = stop;
  }
  if (p < end && *p != '\0' && *p != '>' && KeepsNoAttribute()) {
    state_ = *p == '/' ? State::kSelfClosingStartTag : State::kBeforeAttributeName;
    return SkipAttributes(p + 1, end);
  }
  for (;;) {
    // After the name or a value: white space, '>' or "/>".
    if (p == end) return p;
    if (*p == '>') return EmitTagAt(p + 1, false);
    if (*p == '/') {
      if (state_ == State::kAttributeValueUnquoted) return p;
      if (p + 1 < end && p[1] == '>') return EmitTagAt(p + 2, true);
      return p;
    }
    if (!IsSpace(*p)) return p;
    state_ = State::kBeforeAttributeName;
    while (++p < end && IsSpace(*p)) {
    }
    if (p == end) return p;
    if (*p == '>') return EmitTagAt(p + 1, false);
    if (*p == '/' || *p == '=' || *p == '\0' || *p == '\r') return p;
    // An attribute name.
    stop = RunEnd(p, end, kEndsAttributeName);
    if (stop < end && *stop == '=' && stop + 1 < end && (stop[1] == '"' || stop[1] == '\'') &&
        RefusesName(p, stop)) {
      // Neither its name nor its quoted value is kept: read past both.
      keepAttribute_ = false;
      const char quote = stop[1];
      state_ = quote == '"' ? State::kAttributeValueDouble : State::kAttributeValueSingle;
      const char* close = ClosingQuote(quote, stop + 2, end);
      if (close == end) return end;
      p = close + 1;
      state_ = State::kAfterAttributeValueQuoted;
      continue;
    }
    StartAttribute();
    state_ = State::kAttributeName;
    AppendAttributeName(p, static_cast<size_t>(stop - p));
    p = stop;
    if (p == end) return p;
    if (*p == '>') {
      EndAttributeName();
      return EmitTagAt(p + 1, false);
    }
    if (*p != '=') return p;
    EndAttributeName();
    state_ = State::kBeforeAttributeValue;
    if (++p == end) return p;
    char quote = *p;
    if (quote == '"' || quote == '\'') {
      state_ = quote == '"' ? State::kAttributeValueDouble : State::kAttributeValueSingle;
      ++p;
      stop = quote == '"' ? ScanFor<'"', '&', '\r', '\0'>(p, end)
                          : ScanFor<'\'', '&', '\r', '\0'>(p, end);
      AppendAttributeValue(p, static_cast<size_t>(stop - p));
      p = stop;
      if (p == end || *p != quote) return p;
      state_ = State::kAfterAttributeValueQuoted;
      ++p;
    } else {
      if (IsSpace(quote) || quote == '>' || quote == '\r') return p;
      state_ = State::kAttributeValueUnquoted;
      stop = RunEnd(p, end, kEndsUnquotedValue);
      AppendAttributeValue(p, static_cast<size_t>(stop - p));
      p = stop;
    }
  }
}

const char* HtmlTokenizer::SkipAttributes(const char* p, const char* end) {
  // The attribute states with nothing kept: names, values and references
  // are passed over, and a CR reads as the white space it becomes (an LF
  // after it then changes nothing in any of these states).
  // The shape most tags have, name="value" pairs apart by white space, in
  // one pass; at anything else the states below take over.
  while (state_ == State::kBeforeAttributeName) {
    while (p < end && IsSpace(*p)) ++p;
    if (p == end) return p;
    if (*p == '>') return EmitTagAt(p + 1, false);
    if (*p == '/' || *p == '=' || *p == '\r') break;
    state_ = State::kAttributeName;
    p = RunEnd(p, end, kEndsAttributeName);
    if (p == end) return p;
    if (*p == '>') return EmitTagAt(p + 1, false);
    if (*p != '=') break;
    state_ = State::kBeforeAttributeValue;
    if (++p == end) return p;
    const char quote = *p;
    if (quote != '"' && quote != '\'') break;
    state_ = quote == '"' ? State::kAttributeValueDouble : State::kAttributeValueSingle;
    const char* close = ClosingQuote(quote, p + 1, end);
    if (close == end) return end;
    p = close + 1;
    state_ = State::kAfterAttributeValueQuoted;
    if (p == end) return p;
    if (*p == '>') return EmitTagAt(p + 1, false);
    if (!IsSpace(*p)) break;
    state_ = State::kBeforeAttributeName;
    ++p;
  }
  while (p < end) {
    char c = *p;
    bool space = IsSpace(c) || c == '\r';
    switch (state_) {
      case State::kBeforeAttributeName:
      case State::kAfterAttributeName:
        if (c == '>') return EmitTagAt(p + 1, false);
        if (c == '/') {
          state_ = State::kSelfClosingStartTag;
        } else if (c == '=' && state_ == State::kAfterAttributeName) {
          state_ = State::kBeforeAttributeValue;
        } else if (!space) {
          state_ = State::kAttributeName;  // '=' may begin a name
        }
        ++p;
        continue;
      case State::kAttributeName:
        p = RunEnd(p, end, kEndsAttributeName);
        if (p == end) return p;
        if (*p == '=') {
          state_ = State::kBeforeAttributeValue;
          ++p;
        } else if (*p == '\0') {
          ++p;
        } else {
          state_ = State::kAfterAttributeName;  // white space, '/' or '>' read there
        }
        continue;
      case State::kBeforeAttributeValue:
        if (c == '>') return EmitTagAt(p + 1, false);
        if (space) {
          ++p;
        } else if (c == '"' || c == '\'') {
          state_ = c == '"' ? State::kAttributeValueDouble : State::kAttributeValueSingle;
          ++p;
        } else {
          state_ = State::kAttributeValueUnquoted;
        }
        continue;
      case State::kAttributeValueDouble:
      case State::kAttributeValueSingle: {
        const char quote = state_ == State::kAttributeValueDouble ? '"' : '\'';
        const char* close = ClosingQuote(quote, p, end);
        if (close == end) return end;
        p = close + 1;
        state_ = State::kAfterAttributeValueQuoted;
        continue;
      }
      case State::kAttributeValueUnquoted:
        p = RunEnd(p, end, kEndsUnquotedValue);
        if (p == end) return p;
        if (*p == '>') return EmitTagAt(p + 1, false);
        if (*p != '&' && *p != '\0') state_ = State::kBeforeAttributeName;
        ++p;
        continue;
      case State::kAfterAttributeValueQuoted:
        if (c == '>') return EmitTagAt(p + 1, false);
        if (c == '/') {
          state_ = State::kSelfClosingStartTag;
          ++p;
        } else {
          state_ = State::kBeforeAttributeName;  // a name right after a value
          if (space) ++p;
        }
        continue;
      case State::kSelfClosingStartTag:
        if (c == '>') return EmitTagAt(p + 1, true);
        state_ = State::kBeforeAttributeName;
        continue;
      default:
        return p;
    }
  }
  return p;
}

// ---- The input

void HtmlTokenizer::Feed(const char* data, size_t size) {
  if (size == 0) return;
  const char* p = data;
  const char* const end = data + size;
  // CR LF and a lone CR read as LF: a CR is handled as LF where it is read,
  // and an LF right after a CR is passed over (it can never be read twice:
  // only a byte already handled is read again).
  if (lastWasCr_ && *p == '\n') ++p;
  lastWasCr_ = end[-1] == '\r';
  while (p < end) {
    char c = *p;
    if (c == '\r') {
      c = '\n';
    } else if (c == '\n' && p > data && p[-1] == '\r') {
      ++p;
      continue;
    }
    if (state_ >= State::kBeforeAttributeName && state_ <= State::kSelfClosingStartTag &&
        KeepsNoAttribute()) {
      p = SkipAttributes(p, end);
      continue;
    }
    switch (state_) {
      // -- Text. Runs of ordinary bytes are taken whole; c then is the stop.
      case State::kData:
        p = ReadData(p, end);
        continue;
      case State::kRcdata:
      case State::kRawtext:
      case State::kScriptData:
      case State::kPlaintext: {
        const char* stop =
            state_ == State::kRcdata      ? ScanFor<'<', '&', '\r', '\0'>(p, end)
            : state_ == State::kPlaintext ? ScanFor<'\r', '\0', '\0', '\0'>(p, end)
                                          : ScanFor<'<', '\r', '\0', '\0'>(p, end);
        if (TakeRun(p, stop, &HtmlTokenizer::AppendText)) continue;
        if (c == '<') {
          rawState_ = state_;
          state_ = State::kRawLessThan;
        } else if (c == '&') {
          StartReference(State::kRcdata);
        } else {
          AppendRawStop(c);
        }
        ++p;
        continue;
      }
      case State::kRawLessThan:
        if (c == '/') {
          endTagCandidate_.assign("</", 2);
          state_ = State::kRawEndTagName;
          ++p;
        } else if (c == '!' && rawState_ == State::kScriptData) {
          AppendText("<!", 2);
          state_ = State::kScriptEscapeStart;
          ++p;
        } else if (IsAlpha(c) && rawState_ == State::kScriptEscaped) {
          AppendTextByte('<');
          scriptMatch_ = 0;
          scriptMatchOk_ = true;
          state_ = State::kScriptDoubleEscapeStart;
        } else {
          AppendTextByte('<');
          state_ = rawState_;
        }
        continue;
      case State::kRawEndTagName: {
        size_t letters = endTagCandidate_.size() - 2;
        if (IsAlpha(c)) {
          endTagCandidate_.push_back(c);
          ++p;
          if (letters >= lastStartTag_.size() || Lower(c) != lastStartTag_[letters]) {
            // No longer the end tag: what follows is raw text as before.
            FlushEndTagCandidate();
            state_ = rawState_;
          }
          continue;
        }
        if (letters == lastStartTag_.size() && (IsSpace(c) || c == '/' || c == '>')) {
          endTagCandidate_.clear();
          StartTag(HtmlToken::Kind::kEndTag);
          AppendTagName(lastStartTag_.data(), lastStartTag_.size());
          ++p;
          if (c == '>') {
            EmitTag();
          } else {
            state_ = c == '/' ? State::kSelfClosingStartTag : State::kBeforeAttributeName;
          }
          continue;
        }
        FlushEndTagCandidate();
        state_ = rawState_;
        continue;
      }

      // -- Script data's escapes ("<!--" ... "-->"), where "<script" nests.
      case State::kScriptEscapeStart:
      case State::kScriptEscapeStartDash:
        if (c == '-') {
          AppendTextByte('-');
          state_ = state_ == State::kScriptEscapeStart ? State::kScriptEscapeStartDash
                                                       : State::kScriptEscapedDashDash;
          ++p;
        } else {
          state_ = State::kScriptData;
        }
        continue;
      case State::kScriptEscaped:
      case State::kScriptDoubleEscaped: {
        const char* stop = ScanFor<'-', '<', '\r', '\0'>(p, end);
        if (TakeRun(p, stop, &HtmlTokenizer::AppendText)) continue;
        bool dbl = state_ == State::kScriptDoubleEscaped;
        if (c == '-') {
          AppendTextByte('-');
          state_ = dbl ? State::kScriptDoubleEscapedDash : State::kScriptEscapedDash;
        } else if (c == '<') {
          EnterScriptLessThan(dbl);
        } else {
          AppendRawStop(c);
        }
        ++p;
        continue;
      }
      case State::kScriptEscapedDash:
      case State::kScriptEscapedDashDash:
      case State::kScriptDoubleEscapedDash:
      case State::kScriptDoubleEscapedDashDash: {
        bool dbl = state_ == State::kScriptDoubleEscapedDash ||
                   state_ == State::kScriptDoubleEscapedDashDash;
        bool dashDash =
            state_ == State::kScriptEscapedDashDash || state_ == State::kScriptDoubleEscapedDashDash;
        State escaped = dbl ? State::kScriptDoubleEscaped : State::kScriptEscaped;
        ++p;
        if (c == '-') {
          AppendTextByte('-');
          state_ = dbl ? State::kScriptDoubleEscapedDashDash : State::kScriptEscapedDashDash;
        } else if (c == '<') {
          EnterScriptLessThan(dbl);
        } else if (c == '>' && dashDash) {
          AppendTextByte('>');
          state_ = State::kScriptData;
        } else if (c == '\0') {
          AppendText(kReplacement, 3);
          state_ = escaped;
        } else {
          AppendTextByte(c);
          state_ = escaped;
        }
        continue;
      }
      case State::kScriptDoubleEscapedLessThan:
        if (c == '/') {
          AppendTextByte('/');
          scriptMatch_ = 0;
          scriptMatchOk_ = true;
          state_ = State::kScriptDoubleEscapeEnd;
          ++p;
        } else {
          state_ = State::kScriptDoubleEscaped;
        }
        continue;
      case State::kScriptDoubleEscapeStart:
      case State::kScriptDoubleEscapeEnd: {
        bool start = state_ == State::kScriptDoubleEscapeStart;
        if (IsSpace(c) || c == '/' || c == '>') {
          bool script = scriptMatchOk_ && scriptMatch_ == 6;
          // "<script" enters the double escape; "</script" leaves it.
          state_ = script == start ? State::kScriptDoubleEscaped : State::kScriptEscaped;
          AppendTextByte(c);
          ++p;
        } else if (IsAlpha(c)) {
          UpdateScriptMatch(c);
          AppendTextByte(c);
          ++p;
        } else {
          state_ = start ? State::kScriptEscaped : State::kScriptDoubleEscaped;
        }
        continue;
      }

      // -- Tags.
      case State::kTagOpen:
        if (c == '!') {
          declMatch_ = 0;
          state_ = State::kMarkupDeclarationOpen;
          ++p;
        } else if (c == '/') {
          state_ = State::kEndTagOpen;
          ++p;
        } else if (IsAlpha(c)) {
          StartTag(HtmlToken::Kind::kStartTag);
          state_ = State::kTagName;
        } else if (c == '?') {
          state_ = State::kBogusComment;
        } else {
          AppendTextByte('<');
          state_ = State::kData;
        }
        continue;
      case State::kEndTagOpen:
        if (IsAlpha(c)) {
          StartTag(HtmlToken::Kind::kEndTag);
          state_ = State::kTagName;
        } else if (c == '>') {
          state_ = State::kData;  // "</>" is nothing at all
          ++p;
        } else {
          state_ = State::kBogusComment;
        }
        continue;
      case State::kTagName: {
        const char* stop = RunEnd(p, end, kEndsTagName);
        if (TakeRun(p, stop, &HtmlTokenizer::AppendTagName)) continue;
        ++p;
        if (IsSpace(c)) {
          state_ = State::kBeforeAttributeName;
        } else if (c == '/') {
          state_ = State::kSelfClosingStartTag;
        } else if (c == '>') {
          EmitTag();
        } else if (c == '\0') {
          AppendTagName(kReplacement, 3);
        }
        continue;
      }
      case State::kBeforeAttributeName:
        if (IsSpace(c)) {
          ++p;
        } else if (c == '/' || c == '>') {
          state_ = State::kAfterAttributeName;
        } else {
          StartAttribute();
          state_ = State::kAttributeName;
          if (c == '=') {
            AppendAttributeName(&c, 1);
            ++p;
          }
        }
        continue;
      case State::kAttributeName: {
        const char* stop = RunEnd(p, end, kEndsAttributeName);
        if (TakeRun(p, stop, &HtmlTokenizer::AppendAttributeName)) continue;
        if (IsSpace(c) || c == '/' || c == '>') {
          EndAttributeName();
          state_ = State::kAfterAttributeName;
          continue;
        }
        ++p;
        if (c == '=') {
          EndAttributeName();
          state_ = State::kBeforeAttributeValue;
        } else if (c == '\0') {
          AppendAttributeName(kReplacement, 3);
        }
        continue;
      }
      case State::kAfterAttributeName:
        if (IsSpace(c)) {
          ++p;
        } else if (c == '/') {
          state_ = State::kSelfClosingStartTag;
          ++p;
        } else if (c == '=') {
          state_ = State::kBeforeAttributeValue;
          ++p;
        } else if (c == '>') {
          ++p;
          EmitTag();
        } else {
          StartAttribute();
          state_ = State::kAttributeName;
        }
        continue;
      case State::kBeforeAttributeValue:
        if (IsSpace(c)) {
          ++p;
        } else if (c == '"') {
          state_ = State::kAttributeValueDouble;
          ++p;
        } else if (c == '\'') {
          state_ = State::kAttributeValueSingle;
          ++p;
        } else if (c == '>') {
          ++p;
          EmitTag();
        } else {
          state_ = State::kAttributeValueUnquoted;
        }
        continue;
      case State::kAttributeValueDouble:
      case State::kAttributeValueSingle: {
        bool dbl = state_ == State::kAttributeValueDouble;
        const char* stop = dbl ? ScanFor<'"', '&', '\r', '\0'>(p, end)
                               : ScanFor<'\'', '&', '\r', '\0'>(p, end);
        if (TakeRun(p, stop, &HtmlTokenizer::AppendAttributeValue)) continue;
        ++p;
        if (c == '&') {
          StartReference(state_);
        } else if (c == '\0') {
          AppendAttributeValue(kReplacement, 3);
        } else if (c == '\n') {
          AppendAttributeValue("\n", 1);
        } else {
          state_ = State::kAfterAttributeValueQuoted;
        }
        continue;
      }
      case State::kAttributeValueUnquoted: {
        const char* stop = RunEnd(p, end, kEndsUnquotedValue);
        if (TakeRun(p, stop, &HtmlTokenizer::AppendAttributeValue)) continue;
        ++p;
        if (IsSpace(c)) {
          state_ = State::kBeforeAttributeName;
        } else if (c == '&') {
          StartReference(state_);
        } else if (c == '>') {
          EmitTag();
        } else if (c == '\0') {
          AppendAttributeValue(kReplacement, 3);
        }
        continue;
      }
      case State::kAfterAttributeValueQuoted:
        if (IsSpace(c)) {
          state_ = State::kBeforeAttributeName;
          ++p;
        } else if (c == '/') {
          state_ = State::kSelfClosingStartTag;
          ++p;
        } else if (c == '>') {
          ++p;
          EmitTag();
        } else {
          state_ = State::kBeforeAttributeName;
        }
        continue;
      case State::kSelfClosingStartTag:
        if (c == '>') {
          tag_.selfClosing = true;
          ++p;
          EmitTag();
        } else {
          state_ = State::kBeforeAttributeName;
        }
        continue;

      // -- Comments and declarations: read past, nothing kept.
      case State::kMarkupDeclarationOpen: {
        if (declMatch_ == 0) declFirst_ = Lower(c);
        const char* target = declFirst_ == '-'   ? "--"
                             : declFirst_ == 'd' ? "doctype"
                             : declFirst_ == '[' ? "[CDATA["
                                                 : "";
        char wanted = target[declMatch_];
        if (wanted == '\0' || (declFirst_ == 'd' ? Lower(c) : c) != wanted) {
          state_ = State::kBogusComment;
          continue;
        }
        ++p;
        if (target[++declMatch_] == '\0') {
          // Outside foreign content CDATA is a bogus comment.
          state_ = declFirst_ == '-'   ? State::kCommentStart
                   : declFirst_ == 'd' ? State::kDoctype
                                       : State::kBogusComment;
        }
        continue;
      }
      case State::kBogusComment:
      case State::kDoctype: {
        const void* close = std::memchr(p, '>', static_cast<size_t>(end - p));
        if (close == nullptr) {
          p = end;
        } else {
          p = static_cast<const char*>(close) + 1;
          state_ = State::kData;
        }
        continue;
      }
      case State::kComment: {
        const void* dash = std::memchr(p, '-', static_cast<size_t>(end - p));
        if (dash == nullptr) {
          p = end;
        } else {
          p = static_cast<const char*>(dash) + 1;
          state_ = State::kCommentEndDash;
        }
        continue;
      }
      case State::kCommentStart:
      case State::kCommentStartDash:
      case State::kCommentEndDash:
      case State::kCommentEnd:
      case State::kCommentEndBang: {
        State next = State::kComment;  // the character is reread there
        if (c == '-') {
          next = state_ == State::kCommentStart     ? State::kCommentStartDash
                 : state_ == State::kCommentEndBang ? State::kCommentEndDash
                                                    : State::kCommentEnd;
        } else if (c == '>' && state_ != State::kCommentEndDash) {
          next = State::kData;  // "<!-->", "<!--->", "-->" and "--!>" all end it
        } else if (c == '!' && state_ == State::kCommentEnd) {
          next = State::kCommentEndBang;
        }
        if (next != State::kComment) ++p;
        state_ = next;
        continue;
      }

      // -- Character references.
      case State::kCharacterReference:
        if (IsAlnum(c)) {
          entity_.Reset();
          state_ = State::kNamedReference;
        } else if (c == '#') {
          std::memcpy(referencePrefix_, "&#", 2);
          referencePrefixLength_ = 2;
          referenceValue_ = 0;
          state_ = State::kNumericReference;
          ++p;
        } else {
          AppendReferenceOutput("&", 1);
          state_ = returnState_;
        }
        continue;
      case State::kNamedReference:
        if (entity_.Add(c)) {
          referenceName_[entity_.Length() - 1] = c;
          ++p;
        } else {
          EndNamedReference(static_cast<unsigned char>(c));
        }
        continue;
      case State::kNumericReference:
        if (c == 'x' || c == 'X') {
          referencePrefix_[referencePrefixLength_++] = c;
          state_ = State::kHexStart;
          ++p;
        } else {
          state_ = State::kDecimalStart;
        }
        continue;
      case State::kHexStart:
      case State::kDecimalStart:
        if (state_ == State::kHexStart ? HexValue(c) >= 0 : IsDigit(c)) {
          state_ = state_ == State::kHexStart ? State::kHex : State::kDecimal;
        } else {
          // "&#" or "&#x" without digits stays as written.
          AppendReferenceOutput(referencePrefix_, referencePrefixLength_);
          state_ = returnState_;
        }
        continue;
      case State::kHex:
      case State::kDecimal: {
        int digit = state_ == State::kHex ? HexValue(c) : (IsDigit(c) ? c - '0' : -1);
        if (digit >= 0) {
          // Past 0x10FFFF the value is only ever replaced: it saturates there.
          uint32_t base = state_ == State::kHex ? 16 : 10;
          referenceValue_ = std::min<uint32_t>(referenceValue_ * base + digit, 0x110000);
          ++p;
          continue;
        }
        if (c == ';') ++p;
        EndNumericReference();
        continue;
      }
    }
  }
}

void HtmlTokenizer::Finish() {
  // A reference cut off by the end ends as if by any other character.
  switch (state_) {
    case State::kCharacterReference: AppendReferenceOutput("&", 1); break;
    case State::kNamedReference: EndNamedReference(-1); break;
    case State::kNumericReference:
    case State::kHexStart:
    case State::kDecimalStart: AppendReferenceOutput(referencePrefix_, referencePrefixLength_); break;
    case State::kHex:
    case State::kDecimal: EndNumericReference(); break;
    default: break;
  }
  if (state_ >= State::kCharacterReference) state_ = returnState_;
  switch (state_) {
    case State::kTagOpen: AppendTextByte('<'); break;
    case State::kEndTagOpen: AppendText("</", 2); break;
    case State::kRawLessThan: AppendTextByte('<'); break;
    case State::kRawEndTagName: FlushEndTagCandidate(); break;
    default: break;  // a tag cut off is dropped; comments and text need nothing
  }
  FlushText();
  StartTag(HtmlToken::Kind::kStartTag);
  endTagCandidate_.clear();
  EnterText(State::kData);
  lastWasCr_ = false;
}
