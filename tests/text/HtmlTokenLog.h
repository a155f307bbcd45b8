// HtmlTokenLog: a sink that writes the tokens it is handed as one string, so
// that two tokenizer runs can be compared whole, and that notes any token
// that breaks the tokenizer's contract.
//
// The log is one entry per token, each ended by '|': "S:a[href=x][id=y]/"
// (a start tag, its attributes, "/" when self-closing), "E:a" (an end tag),
// "T:text" or "R:raw text". Consecutive text pieces are joined first, as the
// contract tells a consumer to, so the log does not depend on how the text
// was cut. '\n' is written as "\n", and '|' and '\' are escaped.
#ifndef FERRET_TESTS_TEXT_HTMLTOKENLOG_H_
#define FERRET_TESTS_TEXT_HTMLTOKENLOG_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "text/HtmlTokenizer.h"

class HtmlTokenLog : public HtmlTokenSink {
 public:
  // tagsOnly: text is left out of the log (and is a problem when skipText
  // says the tokenizer hands none over).
  // attributesOf: a tag it refuses is logged without its attributes.
  // keptOnly: end tags and the tags attributesOf refuses are left out (and
  // are a problem when handedOverKeptOnly says the tokenizer hands none
  // over).
  // attributesNamed: an attribute it refuses is left out (and is a problem
  // when skipText says the tokenizer keeps none).
  explicit HtmlTokenLog(bool tagsOnly = false, bool skipText = false,
                        HtmlTokenizer::TagFilter attributesOf = nullptr, bool keptOnly = false,
                        bool handedOverKeptOnly = false,
                        HtmlTokenizer::TagFilter attributesNamed = nullptr)
      : tagsOnly_(tagsOnly), skipText_(skipText), attributesOf_(attributesOf),
        keptOnly_(keptOnly || handedOverKeptOnly), handedOverKeptOnly_(handedOverKeptOnly),
        attributesNamed_(attributesNamed) {}

  void OnToken(const HtmlToken& token) override {
    if (token.kind == HtmlToken::Kind::kText && tagsOnly_) {
      if (skipText_) problems_ += "text while skipping text; ";
      return;
    }
    if (keptOnly_ && token.kind != HtmlToken::Kind::kText &&
        (token.kind == HtmlToken::Kind::kEndTag ||
         (attributesOf_ != nullptr && !attributesOf_(token.name)))) {
      if (handedOverKeptOnly_) problems_ += "a tag not kept handed over; ";
      return;
    }
    if (token.kind == HtmlToken::Kind::kText) {
      if (token.text.empty()) problems_ += "empty text piece; ";
      if (token.text.size() > kMaxTokenBytes) problems_ += "text piece past the bound; ";
      if (!text_.empty() && token.rawText != raw_) FlushText();
      raw_ = token.rawText;
      text_ += token.text;
      return;
    }
    FlushText();
    bool start = token.kind == HtmlToken::Kind::kStartTag;
    log_ += start ? "S:" : "E:";
    Escape(token.name);
    CheckName(token.name);
    size_t bytes = token.name.size();
    if (!start && (!token.attributes.empty() || token.selfClosing)) {
      problems_ += "end tag with attributes; ";
    }
    if (token.attributes.size() > kMaxAttributes) problems_ += "too many attributes; ";
    const bool logAttributes = attributesOf_ == nullptr || attributesOf_(token.name);
    for (size_t i = 0; i < token.attributes.size() && logAttributes; ++i) {
      const HtmlAttribute& attribute = token.attributes[i];
      if (attributesNamed_ != nullptr && !attributesNamed_(attribute.name)) {
        if (skipText_) problems_ += "an attribute not kept handed over; ";
        continue;
      }
      for (size_t j = 0; j < i; ++j) {
        if (token.attributes[j].name == attribute.name) problems_ += "attribute repeated; ";
      }
      CheckName(attribute.name);
      if (attribute.value.size() > kMaxTokenBytes) problems_ += "value past the bound; ";
      bytes += attribute.name.size() + attribute.value.size();
      log_ += '[';
      Escape(attribute.name);
      log_ += '=';
      Escape(attribute.value);
      log_ += ']';
    }
    if (bytes > kMaxTagBytes) problems_ += "tag past the bound; ";
    if (token.selfClosing) log_ += '/';
    log_ += '|';
  }

  // The log of every token handed over so far.
  std::string Log() {
    FlushText();
    return log_;
  }
  // What broke the contract; empty when nothing did.
  const std::string& Problems() const { return problems_; }

 private:
  void FlushText() {
    if (text_.empty()) return;
    log_ += raw_ ? "R:" : "T:";
    Escape(text_);
    log_ += '|';
    text_.clear();
  }
  void Escape(std::string_view s) {
    for (char c : s) {
      if (c == '\n') {
        log_ += "\\n";
      } else {
        if (c == '|' || c == '\\') log_ += '\\';
        log_ += c;
      }
    }
  }
  void CheckName(std::string_view name) {
    if (name.empty()) problems_ += "empty name; ";
    if (name.size() > kMaxTokenBytes) problems_ += "name past the bound; ";
    for (char c : name) {
      if (c >= 'A' && c <= 'Z') problems_ += "upper-case name; ";
    }
  }

  const bool tagsOnly_;
  const bool skipText_;
  const HtmlTokenizer::TagFilter attributesOf_;
  const bool keptOnly_;
  const bool handedOverKeptOnly_;
  const HtmlTokenizer::TagFilter attributesNamed_;
  std::string log_;
  std::string text_;
  bool raw_ = false;
  std::string problems_;
};

// The log of data fed as one piece, or in pieces of the sizes that next()
// gives (each at least 1), then Finish. Contract problems are appended to
// *problems when it is not null. With tagsOnly the log leaves text out, and
// with attributesOf the attributes of the tags it refuses; with keptOnly it
// leaves out end tags and those tags. With skipText the tokenizer itself is
// told to skip text, and to keep only those attributes; with keptOnly too,
// to hand over only the tags kept. The log leaves out the attributes that
// attributesNamed refuses; with skipText the tokenizer does not keep them.
template <typename NextSize>
std::string TokenizeInPieces(const std::string& data, NextSize next, std::string* problems,
                             bool tagsOnly = false, bool skipText = false,
                             HtmlTokenizer::TagFilter attributesOf = nullptr,
                             bool keptOnly = false,
                             HtmlTokenizer::TagFilter attributesNamed = nullptr) {
  HtmlTokenLog log(tagsOnly || skipText, skipText, attributesOf, keptOnly, skipText && keptOnly,
                   attributesNamed);
  HtmlTokenizer tokenizer(&log);
  tokenizer.SkipText(skipText);
  if (skipText) {
    tokenizer.KeepAttributesOf(attributesOf);
    tokenizer.KeepAttributesNamed(attributesNamed);
  }
  tokenizer.HandOverKeptTagsOnly(skipText && keptOnly);
  for (size_t at = 0; at < data.size();) {
    size_t size = std::min(data.size() - at, static_cast<size_t>(next()));
    tokenizer.Feed(data.data() + at, size);
    at += size;
  }
  tokenizer.Finish();
  if (problems != nullptr) *problems += log.Problems();
  return log.Log();
}

inline std::string Tokenize(const std::string& data, std::string* problems = nullptr) {
  return TokenizeInPieces(data, [&data] { return data.size() + 1; }, problems);
}

#endif  // FERRET_TESTS_TEXT_HTMLTOKENLOG_H_
