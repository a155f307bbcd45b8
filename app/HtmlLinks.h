// HtmlLinks: the links of an HTML page as a browser finds them, from the
// tokens of an HtmlTokenizer, each resolved as a browser resolves it
// (WebUrl) against the page, or against the page's <base href>.
//
// Pages (what a crawl follows): a[href], area[href], frame[src],
// iframe[src], and the URL of meta[http-equiv=refresh]'s content. Files
// (printed or saved, never read for links): img[src], every srcset
// candidate of img and source, source[src], video[src] and [poster],
// audio[src], track[src], embed[src], object[data], script[src] and
// link[href]. In page order, each with its element and attribute.
//
// The first <base href> sets the base for the links after it (a base
// belongs in the head, before any link; a browser would apply it to links
// before it too). An empty value and a link to another scheme than http and
// https are passed over; a value that does not resolve is kept, marked, with
// the text as written, for the crawl to report. At most a given number of
// links is kept, and Cut() says when there were more.
//
// One collector reads one page; not thread-safe.
#ifndef FERRET_APP_HTMLLINKS_H_
#define FERRET_APP_HTMLLINKS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/LinkResolutions.h"
#include "net/WebUrl.h"
#include "text/HtmlTokenizer.h"

struct HtmlLink {
  enum class Kind { kPage, kFile };
  Kind kind = Kind::kPage;
  const char* element = "";    // lower case, as in the lists above
  const char* attribute = "";
  std::string url;   // resolved and normalised; as written when !resolved
  bool resolved = true;
  UrlProblem problem;  // when !resolved
};

// A link's element and attribute as one small number (1 and up; 0 for
// none), for readers that keep links compactly, and back.
uint8_t HtmlLinkSource(const HtmlLink& link);
void HtmlLinkSourceNames(uint8_t source, const char** element, const char** attribute);

// Where a collector's links may go instead of its own list.
class HtmlLinkConsumer {
 public:
  virtual ~HtmlLinkConsumer() = default;
  // Whether a link of kind whose value (references decoded) is value may
  // be wanted at all, asked before it is resolved; pageItself: it is only a
  // fragment, of the page itself (no <base> came before it). A link refused
  // here is not resolved.
  virtual bool MayWant(HtmlLink::Kind kind, std::string_view value, bool pageItself) {
    (void)kind;
    (void)value;
    (void)pageItself;
    return true;
  }
  // Whether link is wanted: only wanted links count against the limit.
  virtual bool Wants(const HtmlLink& link) = 0;
  virtual void Take(const HtmlLink& link) = 0;
};

class HtmlLinkCollector : public HtmlTokenSink {
 public:
  // Links of the page at page, keeping at most limit of them, here or in
  // consumer.
  HtmlLinkCollector(const WebUrl& page, size_t limit, HtmlLinkConsumer* consumer = nullptr);

  void OnToken(const HtmlToken& token) override;

  const std::vector<HtmlLink>& Links() const { return links; }
  bool Cut() const { return cut; }
  // No more links are collected (not a cut: Cut() stays as it is).
  void Stop() { stopped = true; }

  // Whether the collector reads the attributes of an element of that name
  // (a tokenizer may keep only those: HtmlTokenizer::KeepAttributesOf).
  static bool ReadsAttributesOf(std::string_view element);
  // Whether it reads an attribute of that name, of any element (a
  // tokenizer may keep only those: HtmlTokenizer::KeepAttributesNamed).
  static bool ReadsAttribute(std::string_view name);
  // The URLs a srcset value names, in order.
  static std::vector<std::string_view> SrcsetUrls(std::string_view srcset);
  // The URL a refresh's content names ("5; url=next.html"); empty for none.
  static std::string_view RefreshUrl(std::string_view content);

 private:
  void Add(HtmlLink::Kind kind, const char* element, const char* attribute,
           std::string_view value);
  // Keeps link, here or in the consumer, within the limit.
  void Keep(const HtmlLink& link);

  // The resolutions of link texts (up to any fragment) met on the page.
  LinkResolutions resolutions;
  WebUrl base;
  bool baseSet = false;
  const size_t limit;
  HtmlLinkConsumer* const consumer;  // borrowed; null: links are kept here
  size_t taken = 0;  // links kept, here or by the consumer
  bool cut = false;
  bool stopped = false;
  std::vector<HtmlLink> links;
  HtmlLink scratch;  // the link being read
};

#endif  // FERRET_APP_HTMLLINKS_H_
