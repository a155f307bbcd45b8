#include "app/HtmlText.h"

#include <algorithm>
#include <iterator>

namespace {

// Sorted, for a binary search.
constexpr std::string_view kBlocks[] = {
    "address", "article", "aside",    "blockquote", "body",       "br",      "caption",
    "center",  "col",     "colgroup", "dd",         "details",    "dialog",  "dir",
    "div",     "dl",      "dt",       "fieldset",   "figcaption", "figure",  "footer",
    "form",    "frame",   "frameset", "h1",         "h2",         "h3",      "h4",
    "h5",      "h6",      "head",     "header",     "hgroup",     "hr",      "html",
    "legend",  "li",      "listing",  "main",       "menu",       "nav",     "ol",
    "optgroup", "option", "p",        "plaintext",  "pre",        "search",  "section",
    "summary", "table",   "tbody",    "td",         "tfoot",      "th",      "thead",
    "title",   "tr",      "ul",       "xmp",
};

bool IsAsciiSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

}  // namespace

bool HtmlText::IsBlock(std::string_view name) {
  return std::binary_search(std::begin(kBlocks), std::end(kBlocks), name);
}

void HtmlText::OnToken(const HtmlToken& token) {
  if (token.kind == HtmlToken::Kind::kText) {
    if (dropped == 0) AddText(token.text);
    return;
  }
  if (token.name == "script" || token.name == "style") {
    if (token.kind == HtmlToken::Kind::kStartTag) {
      ++dropped;
    } else if (dropped > 0) {
      --dropped;
    }
  }
  if (IsBlock(token.name)) EndLine();
}

void HtmlText::AddText(std::string_view text) {
  size_t at = 0;
  while (at < text.size()) {
    if (text[at] == '\n') {
      EndLine();
      ++at;
      continue;
    }
    if (IsAsciiSpace(text[at])) {
      space = lineBegun;
      ++at;
      continue;
    }
    size_t end = at;
    while (end < text.size() && !IsAsciiSpace(text[end])) ++end;
    if (space) lines->Append(" ", 1);
    lines->Append(text.data() + at, end - at);
    lineBegun = true;
    space = false;
    at = end;
  }
}

void HtmlText::EndLine() {
  if (lineBegun) lines->EndLine();
  lineBegun = false;
  space = false;
}

void HtmlText::Finish() {
  EndLine();
  dropped = 0;
}
