#include "text/HtmlTokenizer.h"

#include <algorithm>
#include <cstring>

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

// The first byte in [p, end) that is one of a, b, c, d (end if none), eight
// bytes at a time: a byte equal to a stop is a zero byte of word ^ stop.
template <char A, char B, char C, char D>
const char* ScanFor(const char* p, const char* end) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  constexpr uint64_t kOnes = 0x0101010101010101ull;
  constexpr uint64_t kHighs = 0x8080808080808080ull;
  auto zeros = [](uint64_t x) { return (x - kOnes) & ~x & kHighs; };
  while (end - p >= 8) {
    uint64_t word;
    std::memcpy(&word, p, 8);
    // The lowest flagged byte of each term is a true match (a false flag
    // only appears above a true one), so the lowest of all is the first.
    uint64_t hits = zeros(word ^ (kOnes * static_cast<unsigned char>(A))) |
                    zeros(word ^ (kOnes * static_cast<unsigned char>(B))) |
                    zeros(word ^ (kOnes * static_cast<unsigned char>(C))) |
                    zeros(word ^ (kOnes * static_cast<unsigned char>(D)));
    if (hits != 0) return p + (__builtin_ctzll(hits) >> 3);
    p += 8;
  }
#endif
  while (p < end && *p != A && *p != B && *p != C && *p != D) ++p;
  return p;
}

// The text state a start tag switches to; kData for most.
State TextStateAfter(const std::string& name) {
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
      if (name == "noframes" || name == "noscript") return State::kRawtext;
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
  text_.kind = HtmlToken::Kind::kText;
}

// ---- Text

void HtmlTokenizer::AppendText(const char* s, size_t n) {
  while (n > 0) {
    size_t room = kMaxTokenBytes - text_.text.size();
    if (room == 0) {
      FlushText();
      continue;
    }
    size_t take = std::min(room, n);
    text_.text.append(s, take);
    s += take;
    n -= take;
  }
}

void HtmlTokenizer::AppendTextByte(char c) {
  if (text_.text.size() == kMaxTokenBytes) FlushText();
  text_.text.push_back(c);
}

void HtmlTokenizer::FlushText() {
  if (text_.text.empty()) return;
  sink_->OnToken(text_);
  text_.text.clear();
}

void HtmlTokenizer::EnterText(State state) {
  state_ = state;
  text_.rawText = state != State::kData && state != State::kRcdata;
}

// ---- Tags

void HtmlTokenizer::StartTag(HtmlToken::Kind kind) {
  for (HtmlAttribute& attribute : tag_.attributes) spare_.push_back(std::move(attribute));
  tag_.attributes.clear();
  tag_.kind = kind;
  tag_.name.clear();
  tag_.selfClosing = false;
  tagBytes_ = 0;
  keepAttribute_ = false;
}

void HtmlTokenizer::AppendTagName(const char* s, size_t n) {
  // kMaxTagBytes >= kMaxTokenBytes: the name alone never passes the tag's bound.
  size_t take = std::min(n, kMaxTokenBytes - tag_.name.size());
  tag_.name.append(s, take);
  tagBytes_ += take;
}

void HtmlTokenizer::StartAttribute() {
  keepAttribute_ = tag_.kind == HtmlToken::Kind::kStartTag &&
                   tag_.attributes.size() < kMaxAttributes && tagBytes_ < kMaxTagBytes;
  if (!keepAttribute_) return;
  if (spare_.empty()) {
    tag_.attributes.emplace_back();
  } else {
    tag_.attributes.push_back(std::move(spare_.back()));
    spare_.pop_back();
  }
  tag_.attributes.back().name.clear();
  tag_.attributes.back().value.clear();
}

void HtmlTokenizer::AppendAttribute(std::string& field, const char* s, size_t n) {
  if (!keepAttribute_) return;
  size_t take = std::min({n, kMaxTokenBytes - field.size(), kMaxTagBytes - tagBytes_});
  field.append(s, take);
  tagBytes_ += take;
}

void HtmlTokenizer::AppendAttributeName(const char* s, size_t n) {
  if (keepAttribute_) AppendAttribute(tag_.attributes.back().name, s, n);
}

void HtmlTokenizer::AppendAttributeValue(const char* s, size_t n) {
  if (keepAttribute_) AppendAttribute(tag_.attributes.back().value, s, n);
}

void HtmlTokenizer::EndAttributeName() {
  if (!keepAttribute_) return;
  const std::string& name = tag_.attributes.back().name;
  for (size_t i = 0; i + 1 < tag_.attributes.size(); ++i) {
    if (tag_.attributes[i].name == name) {
      // The first of a name wins: this one's value is read and dropped.
      spare_.push_back(std::move(tag_.attributes.back()));
      tag_.attributes.pop_back();
      keepAttribute_ = false;
      return;
    }
  }
}

void HtmlTokenizer::EmitTag() {
  FlushText();
  if (tag_.kind == HtmlToken::Kind::kEndTag) tag_.selfClosing = false;
  sink_->OnToken(tag_);
  State next = State::kData;
  if (tag_.kind == HtmlToken::Kind::kStartTag) {
    next = TextStateAfter(tag_.name);
    if (next != State::kData) lastStartTag_ = tag_.name;
  }
  EnterText(next);
}

void HtmlTokenizer::FlushEndTagCandidate() {
  AppendText(endTagCandidate_.data(), endTagCandidate_.size());
  endTagCandidate_.clear();
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
    switch (state_) {
      // -- Text. Runs of ordinary bytes are taken whole; c then is the stop.
      case State::kData: {
        const char* stop = ScanFor<'<', '&', '\r', '\r'>(p, end);
        if (stop != p) {
          AppendText(p, static_cast<size_t>(stop - p));
          p = stop;
          continue;
        }
        if (c == '<') {
          state_ = State::kTagOpen;
        } else if (c == '&') {
          StartReference(State::kData);
        } else {
          AppendTextByte('\n');
        }
        ++p;
        continue;
      }
      case State::kRcdata:
      case State::kRawtext:
      case State::kScriptData:
      case State::kPlaintext: {
        const char* stop =
            state_ == State::kRcdata      ? ScanFor<'<', '&', '\r', '\0'>(p, end)
            : state_ == State::kPlaintext ? ScanFor<'\r', '\0', '\0', '\0'>(p, end)
                                          : ScanFor<'<', '\r', '\0', '\0'>(p, end);
        if (stop != p) {
          AppendText(p, static_cast<size_t>(stop - p));
          p = stop;
          continue;
        }
        if (c == '<') {
          rawState_ = state_;
          state_ = State::kRawLessThan;
        } else if (c == '&') {
          StartReference(State::kRcdata);
        } else if (c == '\0') {
          AppendText(kReplacement, 3);
        } else {
          AppendTextByte('\n');
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
          tag_.name = lastStartTag_;
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
        if (stop != p) {
          AppendText(p, static_cast<size_t>(stop - p));
          p = stop;
          continue;
        }
        bool dbl = state_ == State::kScriptDoubleEscaped;
        if (c == '-') {
          AppendTextByte('-');
          state_ = dbl ? State::kScriptDoubleEscapedDash : State::kScriptEscapedDash;
        } else if (c == '<') {
          if (dbl) {
            AppendTextByte('<');
            state_ = State::kScriptDoubleEscapedLessThan;
          } else {
            rawState_ = State::kScriptEscaped;
            state_ = State::kRawLessThan;
          }
        } else if (c == '\0') {
          AppendText(kReplacement, 3);
        } else {
          AppendTextByte('\n');
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
          if (dbl) {
            AppendTextByte('<');
            state_ = State::kScriptDoubleEscapedLessThan;
          } else {
            rawState_ = State::kScriptEscaped;
            state_ = State::kRawLessThan;
          }
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
      case State::kTagName:
        ++p;
        if (IsSpace(c)) {
          state_ = State::kBeforeAttributeName;
        } else if (c == '/') {
          state_ = State::kSelfClosingStartTag;
        } else if (c == '>') {
          EmitTag();
        } else if (c == '\0') {
          AppendTagName(kReplacement, 3);
        } else {
          c = Lower(c);
          AppendTagName(&c, 1);
        }
        continue;
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
      case State::kAttributeName:
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
        } else {
          c = Lower(c);
          AppendAttributeName(&c, 1);
        }
        continue;
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
        if (stop != p) {
          AppendAttributeValue(p, static_cast<size_t>(stop - p));
          p = stop;
          continue;
        }
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
      case State::kAttributeValueUnquoted:
        ++p;
        if (IsSpace(c)) {
          state_ = State::kBeforeAttributeName;
        } else if (c == '&') {
          StartReference(state_);
        } else if (c == '>') {
          EmitTag();
        } else if (c == '\0') {
          AppendAttributeValue(kReplacement, 3);
        } else {
          AppendAttributeValue(&c, 1);
        }
        continue;
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
