// HtmlTokenizer: a streaming HTML tokenizer that hands start tags, end tags
// and text to a sink, as the WHATWG tokenization rules read them.
//
//   HtmlTokenizer tokenizer(&sink);
//   while (n = read(...)) tokenizer.Feed(buffer, n);
//   tokenizer.Finish();
//
// Input is bytes, fed in pieces of any size split anywhere (inside a tag, an
// attribute, a character reference or a "</script"): the tokens are the same
// as for one Feed of the whole page, except that text may come in more or
// fewer pieces. The page is never held whole; the tokenizer keeps only the
// token being built. Bytes are not converted between encodings: what is not
// markup or a character reference passes through as it is, and references
// are decoded to UTF-8.
//
// What is read as the WHATWG rules say:
// - Line ends are normalised first: CR LF and a lone CR become LF. Every
//   other line end stays in the text.
// - Tags: names lower-cased (ASCII only); attribute names lower-cased, values
//   double-quoted, single-quoted or unquoted; of attributes with the same
//   name the first is kept; a tag may span lines. End tags carry no
//   attributes (theirs are read and dropped). A tag cut off by the end of
//   the input is dropped.
// - Comments (including "<!-->", "<!--->" and "--!>" as an end), "<?...>"
//   and "</ ...>" (bogus comments), "<![CDATA[...>" (a bogus comment, as
//   outside foreign content) and DOCTYPEs produce no token.
// - With no tree builder, the tokenizer switches itself after start tags:
//   RCDATA after title and textarea, RAWTEXT after style, xmp, iframe,
//   noembed and noframes (not noscript: its content is read as markup, as
//   a crawler runs no scripts), script data (with its
//   escaped and double-escaped states) after script, PLAINTEXT after
//   plaintext (to the end). The switch happens whatever the tag's context,
//   so <title> or <style> inside <svg> are read as RCDATA/RAWTEXT too. Such
//   text ends only at the matching end tag ("</script" followed by white
//   space, '/' or '>', in any letter case).
// - Character references (named from the whole WHATWG table, legacy names
//   without ';' too; decimal; hex) are decoded in text and RCDATA and in
//   attribute values, never in RAWTEXT, script data or PLAINTEXT. In an
//   attribute value a name not ended by ';' and followed by '=' or a letter
//   or digit stays as written. See HtmlEntities.h for numeric values.
// - U+0000 becomes U+FFFD in tag and attribute names, attribute values and
//   raw text; in ordinary text it passes through.
//
// Bounds, so that a hostile page cannot make the tokenizer grow: a tag name,
// an attribute name and an attribute value each keep at most kMaxTokenBytes
// bytes, a tag keeps at most kMaxAttributes attributes and kMaxTagBytes bytes
// of names and values in all; what is past a bound is read and skipped, and
// the tokens after it are as without the bound. Text is handed over in pieces
// of at most kMaxTokenBytes (none of it is dropped): a consumer must join the
// kText tokens between two tags, never rely on one piece per run. Comments
// and DOCTYPEs are passed over without being kept, whatever their length.
//
// The sink is borrowed and must outlive the tokenizer. The token it is handed
// and every view in it are valid only during OnToken: they point into the
// tokenizer's buffers, which the next token reuses (copy what is to be kept).
// Not thread-safe; one tokenizer reads one page at a time, and Finish makes
// it ready for the next page, its buffers kept.
#ifndef FERRET_TEXT_HTMLTOKENIZER_H_
#define FERRET_TEXT_HTMLTOKENIZER_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "text/HtmlEntities.h"

// The bounds described above.
constexpr size_t kMaxTokenBytes = 64 * 1024;         // a name, a value, a text piece
constexpr size_t kMaxTagBytes = 4 * kMaxTokenBytes;  // a tag's names and values in all
constexpr size_t kMaxAttributes = 256;               // a tag's attributes

struct HtmlAttribute {
  std::string_view name;   // lower case
  std::string_view value;  // character references decoded
};

// A start tag's attributes: a view of storage the tokenizer reuses, valid
// while the token is.
class HtmlAttributes {
 public:
  HtmlAttributes() = default;
  HtmlAttributes(const HtmlAttribute* data, size_t size) : data_(data), size_(size) {}
  const HtmlAttribute* begin() const { return data_; }
  const HtmlAttribute* end() const { return data_ + size_; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const HtmlAttribute& operator[](size_t i) const { return data_[i]; }

 private:
  const HtmlAttribute* data_ = nullptr;
  size_t size_ = 0;
};

struct HtmlToken {
  enum class Kind { kStartTag, kEndTag, kText };
  Kind kind = Kind::kText;
  std::string_view name;                  // tags: lower case
  HtmlAttributes attributes;              // start tags: source order, first of a name kept
  bool selfClosing = false;               // start tags ending in "/>"
  std::string_view text;                  // kText: decoded, or as written when rawText
  bool rawText = false;                   // kText of RAWTEXT, script data or PLAINTEXT
};

class HtmlTokenSink {
 public:
  virtual ~HtmlTokenSink() = default;
  virtual void OnToken(const HtmlToken& token) = 0;
};

class HtmlTokenizer {
 public:
  explicit HtmlTokenizer(HtmlTokenSink* sink);
  HtmlTokenizer(const HtmlTokenizer&) = delete;
  HtmlTokenizer& operator=(const HtmlTokenizer&) = delete;

  // Reads the next size bytes of the page.
  void Feed(const char* data, size_t size);
  // Ends the page: what is pending is handed over (a tag cut off is
  // dropped), and the tokenizer starts again in the data state.
  void Finish();
  // With skip, no text is handed over and none is decoded: the tags are
  // those of a tokenizer that hands text over, and come faster. For a sink
  // that reads only tags; set between pages.
  void SkipText(bool skip) { skipText_ = skip; }
  // With a filter, a start tag whose name it refuses comes without its
  // attributes (they are read, not kept): for a sink that reads the
  // attributes of a few elements only. Null: every tag's. Set between pages.
  using TagFilter = bool (*)(std::string_view name);
  void KeepAttributesOf(TagFilter wanted) { attributesOf_ = wanted; }
  // With a filter, an attribute whose (lower-case) name it refuses is read,
  // not kept: for a sink that reads a few attributes only. Null: every
  // one. Set between pages.
  void KeepAttributesNamed(TagFilter wanted) { attributesNamed_ = wanted; }
  // With only, end tags and the start tags the filter refuses are read but
  // not handed over at all: for a sink that reads nothing else. Set between
  // pages.
  void HandOverKeptTagsOnly(bool only) { keptTagsOnly_ = only; }

  // The tokenizer's states (defined with the code that reads them).
  enum class State : uint8_t;

 private:
  // Bytes kept for a token, reused from token to token: an append is a copy
  // while there is room, and the buffer only grows (to a token's bound).
  class Buffer {
   public:
    const char* data() const { return data_.get(); }
    size_t size() const { return size_; }
    void Clear() { size_ = 0; }
    void Truncate(size_t size) { size_ = size; }
    void Append(const char* s, size_t n) {
      if (n != 0) std::memcpy(Extend(n), s, n);
    }
    // Makes the buffer n bytes longer and returns where they begin.
    char* Extend(size_t n) {
      if (n > capacity_ - size_) Grow(n);
      char* at = data_.get() + size_;
      size_ += n;
      return at;
    }
    void Push(char c) {
      if (size_ == capacity_) Grow(1);
      data_[size_++] = c;
    }
    // Room for n more bytes, written at the pointer returned and then
    // counted by Commit.
    char* Room(size_t n) {
      if (n > capacity_ - size_) Grow(n);
      return data_.get() + size_;
    }
    void Commit(size_t n) { size_ += n; }

   private:
    void Grow(size_t more);
    std::unique_ptr<char[]> data_;
    size_t size_ = 0;
    size_t capacity_ = 0;
  };

  // Where an attribute's name and value lie in bytes_.
  struct Span {
    size_t name, nameLength, value, valueLength;
  };

  // Text: the pending run is text_, handed over at kMaxTokenBytes and
  // before every tag.
  void AppendText(const char* s, size_t n) {
    if (skipText_) return;
    if (n <= kMaxTokenBytes - text_.size()) {
      text_.Append(s, n);
    } else {
      AppendTextInPieces(s, n);
    }
  }
  void AppendTextInPieces(const char* s, size_t n);
  void AppendTextByte(char c);
  void FlushText();
  void EnterText(State state);

  // Tags: bytes past the bounds are dropped here.
  void StartTag(HtmlToken::Kind kind);
  // Appends n bytes to bytes_ in ASCII lower case.
  void AppendLowered(const char* s, size_t n);
  void AppendTagName(const char* s, size_t n);
  void StartAttribute();
  // How many of n more bytes a field of this length may take.
  size_t AttributeRoom(size_t length, size_t n) const;
  void AppendAttributeName(const char* s, size_t n);
  void AppendAttributeValue(const char* s, size_t n);
  // Whether the whole attribute name [name, stop) as written is one that
  // KeepAttributesNamed refuses (false when it cannot tell).
  bool RefusesName(const char* name, const char* stop) const;
  // The name is whole: a second attribute of that name is dropped, and so
  // is one KeepAttributesNamed refuses.
  void EndAttributeName();
  // Whether the tag being read keeps no attribute at all: an end tag, or a
  // start tag the filter refuses. Only once its name is whole.
  bool KeepsNoAttribute();
  // With text skipped and only kept tags handed over: for the tag whose
  // name begins at p (after "<" or "</"), when it is neither kept nor one
  // after which text is read otherwise, and its attributes have a shape
  // read here, all of it in [p, end): where it ends (after its '>'), the
  // tokenizer's state unchanged. Null when the states are to read it.
  const char* PassOverTag(bool endTag, const char* p, const char* end) const;
  // The attribute states for such a tag, where only its end matters: from
  // state_ to the '>' that ends the tag (handed over) or to end. Returns
  // where the states take over.
  const char* SkipAttributes(const char* p, const char* end);
  // Hands tag_ over (unless HandOverKeptTagsOnly passes it by) and enters
  // the text state it asks for.
  void EmitTag();
  // EmitTag for a tag that ended before at, self-closing or not; returns at.
  const char* EmitTagAt(const char* at, bool selfClosing);
  // The "</name" read in raw text that is not its end tag, as text.
  void FlushEndTagCandidate();
  // The NUL (as U+FFFD) or CR (as LF) that a raw text run stopped at.
  void AppendRawStop(char c);
  // A '<' in script data escaped or double escaped.
  void EnterScriptLessThan(bool doubleEscaped);
  void UpdateScriptMatch(char c);

  // Character references, begun in returnState_ (a text or value state).
  static bool InAttributeValue(State state);
  void StartReference(State returnState);
  void AppendReferenceOutput(const char* s, size_t n);
  // next: the character after the name (-1 at the end of the input).
  void EndNamedReference(int next);
  void EndNumericReference();

  // The data state, and a tag from its name on, for the shapes most pages
  // are made of, taken in one pass: what the states would do, with fewer
  // steps through them. Each returns where the states take over (state_).
  // Hands the bytes [p, stop) to append and moves p to stop; false when
  // there are none (the byte at p then ends the run).
  bool TakeRun(const char*& p, const char* stop,
               void (HtmlTokenizer::*append)(const char*, size_t));
  const char* ReadData(const char* p, const char* end);
  const char* ReadTag(const char* p, const char* end);

  HtmlTokenSink* sink_;
  State state_;
  State returnState_;   // where a character reference returns
  State rawState_;      // where raw text's "<" states fall back to
  bool lastWasCr_ = false;  // the last byte fed was CR (an LF next is dropped)
  bool skipText_ = false;   // SkipText
  TagFilter attributesOf_ = nullptr;  // KeepAttributesOf
  TagFilter attributesNamed_ = nullptr;  // KeepAttributesNamed
  bool keptTagsOnly_ = false;         // HandOverKeptTagsOnly
  int tagKeepsAttributes_ = -1;       // for the tag being read: -1 not asked yet

  Buffer text_;          // the pending text run
  HtmlToken textToken_;  // kind kText, viewing text_ when handed over
  // The tag being read: its name (the first nameLength_ bytes of bytes_),
  // then its attributes' names and values; spans_ says where each lies.
  // attributes_ holds the views tag_ hands over.
  HtmlToken tag_;
  Buffer bytes_;
  size_t nameLength_ = 0;
  std::vector<Span> spans_;
  std::vector<HtmlAttribute> attributes_;
  bool keepAttribute_ = false;  // the attribute being read goes into tag_

  std::string lastStartTag_;  // the name raw text's end tag must match
  // "</" + letters read in raw text while they may still be the end tag
  // (at most lastStartTag_'s length plus the "</").
  std::string endTagCandidate_;
  // Script data's double escape: the letters after "<" or "</" still spell
  // a prefix of "script" (scriptMatch_ of them), or not.
  size_t scriptMatch_ = 0;
  bool scriptMatchOk_ = false;
  // Markup declaration: characters of "--", "doctype" or "[CDATA[" matched.
  size_t declMatch_ = 0;
  char declFirst_ = 0;

  HtmlEntityMatcher entity_;
  char referenceName_[kMaxEntityNameLength];  // the characters entity_ took
  uint32_t referenceValue_ = 0;
  char referencePrefix_[3];  // "&#" or "&#x"/"&#X" as written
  size_t referencePrefixLength_ = 0;
};

#endif  // FERRET_TEXT_HTMLTOKENIZER_H_
