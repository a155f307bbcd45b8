#include "app/HtmlLinks.h"

#include <cstdlib>
#include <cstring>
#include <iterator>

namespace {

// Which attribute of which element holds a link, and of what kind.
struct LinkAttribute {
  std::string_view element;  // of literals: NUL-terminated too
  std::string_view attribute;
  HtmlLink::Kind kind;
  bool srcset;  // a list of candidates, not one URL
};

constexpr LinkAttribute kLinkAttributes[] = {
    {"a", "href", HtmlLink::Kind::kPage, false},
    {"area", "href", HtmlLink::Kind::kPage, false},
    {"frame", "src", HtmlLink::Kind::kPage, false},
    {"iframe", "src", HtmlLink::Kind::kPage, false},
    {"img", "src", HtmlLink::Kind::kFile, false},
    {"img", "srcset", HtmlLink::Kind::kFile, true},
    {"source", "src", HtmlLink::Kind::kFile, false},
    {"source", "srcset", HtmlLink::Kind::kFile, true},
    {"video", "src", HtmlLink::Kind::kFile, false},
    {"video", "poster", HtmlLink::Kind::kFile, false},
    {"audio", "src", HtmlLink::Kind::kFile, false},
    {"track", "src", HtmlLink::Kind::kFile, false},
    {"embed", "src", HtmlLink::Kind::kFile, false},
    {"object", "data", HtmlLink::Kind::kFile, false},
    {"script", "src", HtmlLink::Kind::kFile, false},
    {"link", "href", HtmlLink::Kind::kFile, false},
};

constexpr size_t kSourceCount = sizeof kLinkAttributes / sizeof kLinkAttributes[0];

}  // namespace

uint8_t HtmlLinkSource(const HtmlLink& link) {
  for (size_t i = 0; i < kSourceCount; ++i) {
    if (kLinkAttributes[i].element == link.element &&
        kLinkAttributes[i].attribute == link.attribute) {
      return static_cast<uint8_t>(i + 1);
    }
  }
  // The one link read elsewhere: meta's refresh.
  return std::string_view(link.element) == "meta" ? static_cast<uint8_t>(kSourceCount + 1) : 0;
}

void HtmlLinkSourceNames(uint8_t source, const char** element, const char** attribute) {
  *element = *attribute = "";
  if (source >= 1 && source <= kSourceCount) {
    *element = kLinkAttributes[source - 1].element.data();
    *attribute = kLinkAttributes[source - 1].attribute.data();
  } else if (source == kSourceCount + 1) {
    *element = "meta";
    *attribute = "content";
  }
}

namespace {

// The elements whose attributes are read: those of kLinkAttributes, base
// and meta. Asked of every start tag of a page, so by length first: most
// names are refused after one comparison or none.
constexpr bool ReadsElement(std::string_view name) {
  switch (name.size()) {
    case 1: return name[0] == 'a';
    case 3: return name == "img";
    case 4: return name == "area" || name == "base" || name == "meta" || name == "link";
    case 5:
      return name == "frame" || name == "video" || name == "audio" || name == "track" ||
             name == "embed";
    case 6: return name == "iframe" || name == "source" || name == "object" || name == "script";
    default: return false;
  }
}

// The attributes read: those of kLinkAttributes, base's href and meta's
// http-equiv and content.
constexpr bool ReadsAttributeNamed(std::string_view name) {
  switch (name.size()) {
    case 3: return name == "src";
    case 4: return name == "href" || name == "data";
    case 6: return name == "srcset" || name == "poster";
    case 7: return name == "content";
    case 10: return name == "http-equiv";
    default: return false;
  }
}

constexpr bool ElementsAreTogether() {
  for (size_t i = 0; i < std::size(kLinkAttributes); ++i) {
    for (size_t j = i + 2; j < std::size(kLinkAttributes); ++j) {
      if (kLinkAttributes[j].element == kLinkAttributes[i].element &&
          kLinkAttributes[j - 1].element != kLinkAttributes[i].element) {
        return false;
      }
    }
  }
  return true;
}
static_assert(ElementsAreTogether(), "an element's entries must be next to each other");

constexpr bool ReadsEveryLinkAttribute() {
  for (const LinkAttribute& known : kLinkAttributes) {
    if (!ReadsElement(known.element) || !ReadsAttributeNamed(known.attribute)) return false;
  }
  return true;
}
static_assert(ReadsEveryLinkAttribute(), "every attribute of a link must be read");

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r'; }

bool EqualsFolded(std::string_view text, const char* lower) {
  size_t n = std::strlen(lower);
  if (text.size() != n) return false;
  for (size_t i = 0; i < n; ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lower[i]) return false;
  }
  return true;
}

const HtmlAttribute* Find(const HtmlAttributes& attributes, std::string_view name) {
  for (const HtmlAttribute& attribute : attributes) {
    if (attribute.name == name) return &attribute;
  }
  return nullptr;
}

bool IsEmptyValue(std::string_view value) {
  for (char c : value) {
    if (!IsSpace(c) && static_cast<unsigned char>(c) > 0x20) return false;
  }
  return true;
}

// value as a string for WebUrl: one past the longest URL at most, so that a
// longer one is told as too long.
CStr UrlText(std::string_view value) {
  size_t n = value.size() < kMaxUrlLength ? value.size() : kMaxUrlLength + 1;
  CStr text;
  if (n > 0) text.Append(value.data(), static_cast<unsigned short>(n));
  return text;
}

// An integer or floating-point number as the HTML standard writes them:
// digits, or with floating true an optional '-', digits and/or a fraction,
// and an exponent.
bool ValidNumber(std::string_view text, bool floating) {
  size_t at = 0, n = text.size();
  auto digits = [&] {
    size_t start = at;
    while (at < n && text[at] >= '0' && text[at] <= '9') ++at;
    return at > start;
  };
  if (!floating) return digits() && at == n;
  if (at < n && text[at] == '-') ++at;
  bool whole = digits();
  bool fraction = false;
  if (at < n && text[at] == '.') {
    ++at;
    fraction = digits();
    if (!fraction) return false;
  }
  if (!whole && !fraction) return false;
  if (at < n && (text[at] == 'e' || text[at] == 'E')) {
    ++at;
    if (at < n && (text[at] == '-' || text[at] == '+')) ++at;
    if (!digits()) return false;
  }
  return at == n;
}

// A srcset candidate's descriptors: at most one width ("100w", above 0) or
// density ("2x", not negative), a height ("50h", above 0) only beside a
// width; anything else drops the candidate.
bool ValidDescriptors(const std::vector<std::string_view>& descriptors) {
  bool width = false, density = false, height = false;
  for (std::string_view d : descriptors) {
    char unit = d.back();
    std::string_view value = d.substr(0, d.size() - 1);
    if (unit == 'w' && !width && !density && ValidNumber(value, false) &&
        std::strtol(std::string(value).c_str(), nullptr, 10) > 0) {
      width = true;
    } else if (unit == 'x' && !width && !density && !height && ValidNumber(value, true) &&
               std::strtod(std::string(value).c_str(), nullptr) >= 0) {
      density = true;
    } else if (unit == 'h' && !height && !density && ValidNumber(value, false) &&
               std::strtol(std::string(value).c_str(), nullptr, 10) > 0) {
      height = true;
    } else {
      return false;
    }
  }
  return !height || width;
}

}  // namespace

HtmlLinkCollector::HtmlLinkCollector(const WebUrl& page, size_t limit,
                                     HtmlLinkConsumer* consumer)
    : base(page), limit(limit), consumer(consumer) {}

std::vector<std::string_view> HtmlLinkCollector::SrcsetUrls(std::string_view srcset) {
  std::vector<std::string_view> urls;
  size_t at = 0;
  const size_t end = srcset.size();
  for (;;) {
    while (at < end && (IsSpace(srcset[at]) || srcset[at] == ',')) ++at;
    if (at == end) return urls;
    size_t start = at;
    while (at < end && !IsSpace(srcset[at])) ++at;
    std::string_view url = srcset.substr(start, at - start);
    std::vector<std::string_view> descriptors;
    if (url.back() == ',') {
      // A URL ended by commas has no descriptors.
      while (!url.empty() && url.back() == ',') url.remove_suffix(1);
    } else {
      // Descriptors are split at white space and run to a comma, neither
      // counting inside parentheses.
      size_t from = at;
      bool inParens = false;
      for (; at <= end; ++at) {
        char c = at < end ? srcset[at] : ',';
        if (inParens) {
          inParens = c != ')';
          continue;
        }
        if (c == '(') inParens = true;
        if (IsSpace(c) || c == ',') {
          if (at > from) descriptors.push_back(srcset.substr(from, at - from));
          from = at + 1;
          if (c == ',') break;
        }
      }
      if (at < end) ++at;
    }
    if (!url.empty() && ValidDescriptors(descriptors)) urls.push_back(url);
  }
}

std::string_view HtmlLinkCollector::RefreshUrl(std::string_view content) {
  size_t at = 0;
  const size_t end = content.size();
  auto skipSpace = [&] {
    while (at < end && IsSpace(content[at])) ++at;
  };
  skipSpace();
  size_t digits = at;
  while (at < end && content[at] >= '0' && content[at] <= '9') ++at;
  if (at == digits && (at == end || content[at] != '.')) return {};
  while (at < end && ((content[at] >= '0' && content[at] <= '9') || content[at] == '.')) ++at;
  if (at == end) return {};
  if (content[at] != ';' && content[at] != ',' && !IsSpace(content[at])) return {};
  skipSpace();
  if (at < end && (content[at] == ';' || content[at] == ',')) ++at;
  skipSpace();
  if (at == end) return {};
  std::string_view url = content.substr(at);
  // "url = 'x'": the name, the '=' and a quote are each optional in turn.
  if (at < end && (content[at] == 'u' || content[at] == 'U')) {
    ++at;
    if (at >= end || (content[at] != 'r' && content[at] != 'R')) return url;
    ++at;
    if (at >= end || (content[at] != 'l' && content[at] != 'L')) return url;
    ++at;
    skipSpace();
    if (at >= end || content[at] != '=') return url;
    ++at;
    skipSpace();
  }
  char quote = at < end && (content[at] == '\'' || content[at] == '"') ? content[at] : 0;
  if (quote != 0) ++at;
  url = content.substr(at);
  if (quote != 0) {
    size_t closing = url.find(quote);
    if (closing != std::string_view::npos) url = url.substr(0, closing);
  }
  return url;
}

void HtmlLinkCollector::Add(HtmlLink::Kind kind, const char* element, const char* attribute,
                            std::string_view value) {
  if (IsEmptyValue(value)) return;
  if (consumer != nullptr && !consumer->MayWant(kind, value, value[0] == '#' && !baseSet)) return;
  // One link at a time is built here, its text's room reused.
  HtmlLink& link = scratch;
  link.kind = kind;
  link.element = element;
  link.attribute = attribute;
  link.resolved = true;
  link.problem.kind = FailureKind::kNone;
  // No fragment is part of the URL a link resolves to. Relative links are
  // the ones that repeat and cost most to resolve; an absolute one (most
  // often to another site, once) is not remembered.
  const std::string_view text = value.substr(0, value.find('#'));
  const bool remember = text.compare(0, 4, "http") != 0;
  if (const LinkResolutions::Known* known = remember ? resolutions.Find(text) : nullptr) {
    if (known->otherScheme) return;
    link.url.assign(known->url.data(), known->url.size());
    Keep(link);
    return;
  }
  // Most links are plain paths, resolved without the full reading.
  if (base.ResolvePlain(value, &link.url)) {
    if (remember) resolutions.Add(text, false, link.url);
    Keep(link);
    return;
  }
  WebUrl target;
  link.problem = UrlProblem();
  switch (base.Resolve(UrlText(value), &target, &link.problem)) {
    case WebUrlOutcome::kOtherScheme:
      if (remember) resolutions.Add(text, true, std::string_view());
      return;
    case WebUrlOutcome::kResolved:
      link.url = target.Text();
      if (remember) resolutions.Add(text, false, link.url);
      break;
    case WebUrlOutcome::kFailed:
      link.resolved = false;
      link.url.assign(value.data(), value.size());
      break;
  }
  Keep(link);
}

void HtmlLinkCollector::Keep(const HtmlLink& link) {
  // What the consumer passes over does not count against the limit.
  if (consumer != nullptr && !consumer->Wants(link)) return;
  if (taken == limit) {
    cut = true;
    return;
  }
  ++taken;
  if (consumer != nullptr) {
    consumer->Take(link);
  } else {
    links.push_back(link);
  }
}

bool HtmlLinkCollector::ReadsAttributesOf(std::string_view element) {
  return ReadsElement(element);
}

bool HtmlLinkCollector::ReadsAttribute(std::string_view name) { return ReadsAttributeNamed(name); }

void HtmlLinkCollector::OnToken(const HtmlToken& token) {
  // A tag without attributes carries no link (nor a base).
  if (token.kind != HtmlToken::Kind::kStartTag || token.attributes.empty() || cut || stopped) {
    return;
  }
  if (token.name == "base") {
    const HtmlAttribute* href = Find(token.attributes, "href");
    if (href == nullptr || baseSet) return;
    baseSet = true;
    resolutions.Clear();  // what came before resolved against the page
    UrlProblem ignored;
    // A base that does not parse leaves the page's; one of another scheme
    // (mailto:, data:) resolves no relative link.
    if (base.Resolve(UrlText(href->value), &base, &ignored) == WebUrlOutcome::kOtherScheme) {
      base = WebUrl();
    }
    return;
  }
  if (token.name == "meta") {
    const HtmlAttribute* equiv = Find(token.attributes, "http-equiv");
    const HtmlAttribute* content = Find(token.attributes, "content");
    if (equiv != nullptr && content != nullptr && EqualsFolded(equiv->value, "refresh")) {
      Add(HtmlLink::Kind::kPage, "meta", "content", RefreshUrl(content->value));
    }
    return;
  }
  // An element's entries are next to each other in kLinkAttributes.
  bool seen = false;
  for (const LinkAttribute& known : kLinkAttributes) {
    if (token.name.size() != known.element.size() || token.name[0] != known.element[0] ||
        token.name != known.element) {
      if (seen) return;
      continue;
    }
    seen = true;
    const HtmlAttribute* value = Find(token.attributes, known.attribute);
    if (value == nullptr) continue;
    if (!known.srcset) {
      Add(known.kind, known.element.data(), known.attribute.data(), value->value);
      continue;
    }
    for (std::string_view url : SrcsetUrls(value->value)) {
      Add(known.kind, known.element.data(), known.attribute.data(), url);
    }
  }
}
