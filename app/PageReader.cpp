#include "app/PageReader.h"

#include <cstring>
#include <istream>

#include "app/HtmlLinks.h"
#include "app/HtmlText.h"
#include "app/KeywordLines.h"
#include "net/StreamRead.h"
#include "net/WebUrl.h"
#include "text/HtmlTokenizer.h"

namespace {

// Group 1 is the link: after an optional quote, up to the next quote or '>'.
constexpr char kAnchorPattern[] = "<a[\t ]+href[\t ]*=[\t ]*\"?([^\">]*)\"?.*>";
constexpr char kImagePattern[] = "<img[\t ]+src[\t ]*=[\t ]*\"?([^\">]*)\"?.*>";

}  // namespace

// The HTML reading of one page at a time: the tokenizer hands its tokens to
// the link collector and, with -text, to the text's lines; the links go to
// the page as the crawl wants them.
class PageReader::HtmlReading : public HtmlTokenSink, public HtmlLinkConsumer {
 public:
  HtmlReading(Regexp* keyword, Regexp* file, bool anyLink, bool fileMode, HostPolicy hosts,
              size_t show)
      : file(file),
        anyLink(anyLink),
        fileMode(fileMode),
        hosts(std::move(hosts)),
        lines(keyword, show),
        text(&lines),
        tokenizer(this) {}

  // Makes ready for the page at url, read into *page.
  void Begin(const Url& url, size_t linkLimit, bool collect, bool testText, SharedBudget* quota,
             Page* into) {
    WebUrl base;
    UrlProblem ignored;
    base.Parse(url.Text(), &ignored);
    pageText = base.Text();
    size_t authority = pageText.find("://");
    size_t path = authority == std::string::npos ? 0 : pageText.find('/', authority + 3);
    pagePrefix.assign(pageText, 0, path == std::string::npos ? 0 : path + 1);
    links = std::make_unique<HtmlLinkCollector>(base, linkLimit, this);
    if (!collect) links->Stop();
    this->testText = testText;
    // Only the text's lines read text and every tag: without them the
    // tokenizer hands over only the tags whose links are read, and faster.
    tokenizer.SkipText(!testText);
    tokenizer.KeepAttributesOf(&HtmlLinkCollector::ReadsAttributesOf);
    tokenizer.HandOverKeptTagsOnly(!testText);
    tokenizer.KeepAttributesNamed(testText ? nullptr : &HtmlLinkCollector::ReadsAttribute);
    this->quota = quota;
    page = into;
  }
  // Source bytes: for the tokenizer, and with testSource for the lines.
  void Feed(const char* data, size_t length, bool testSource) {
    if (testSource) lines.Feed(data, length);
    tokenizer.Feed(data, length);
  }
  // Ends the page: whether a line matched, the lines kept to be shown, and
  // whether links were cut.
  bool Finish(std::vector<ShownLine>* shown, bool* cut) {
    tokenizer.Finish();
    text.Finish();
    *cut = links->Cut();
    links.reset();
    return lines.Finish(shown);
  }

  void OnToken(const HtmlToken& token) override {
    links->OnToken(token);
    if (testText && !lines.Done()) text.OnToken(token);
  }

  bool MayWant(HtmlLink::Kind kind, std::string_view value, bool pageItself) override {
    // What Wants would refuse once resolved: a place in the page itself, in
    // keyword mode a file, and a page on a host the crawl refuses when the
    // link names it as its resolution will (and cannot grow too long to
    // resolve, which would be reported).
    if (pageItself || (!fileMode && kind != HtmlLink::Kind::kPage)) return false;
    if (fileMode || !hosts || value.size() > kMaxUrlLength / 3) return true;
    return PlainHostAllowed(value);
  }

  bool Wants(const HtmlLink& link) override {
    // A link to a place in the page itself names no other resource; on a
    // long page there are thousands, which would crowd out the others.
    if (link.resolved && link.url == pageText) return false;
    matched = anyLink || file->Match(link.url.c_str());
    if (link.kind == HtmlLink::Kind::kFile) return fileMode && matched;
    if (fileMode) return true;
    return matched && (!hosts || !link.resolved || Followed(link.url));
  }

  void Take(const HtmlLink& link) override {
    if (quota != nullptr && !quota->Take(1)) {
      page->quotaMet = false;
      quota->Give(page->links.size());
      page->links.Clear();
      links->Stop();
      return;
    }
    uint8_t flags = PageLinks::kHtml;
    if (link.kind == HtmlLink::Kind::kFile) flags |= PageLinks::kFile;
    if (matched) flags |= PageLinks::kWanted;
    const std::string* shown = &link.url;
    if (!link.resolved) {
      bool tooLong = link.problem.kind == FailureKind::kUrlTooLong;
      flags |= tooLong ? PageLinks::kTooLong : PageLinks::kBadUrl;
      if (tooLong) {
        problemText.assign(link.problem.url, link.problem.url.Length());
        shown = &problemText;
      }
    }
    // A link as written may be as long as an attribute; what an error line
    // shows of it is bounded as a URL is.
    size_t length = shown->size() < kMaxUrlLength ? shown->size() : kMaxUrlLength;
    page->links.Add(shown->data(), length, flags, HtmlLinkSource(link));
  }

 private:
  // Whether hosts lets the crawl ask for the resolved url: on the page's
  // own host, or on a plain one hosts allows; any other (a port, an
  // address) is left to the crawl.
  bool Followed(const std::string& url) const {
    const size_t known = pagePrefix.size();
    if (known != 0 && url.size() >= known && std::memcmp(url.data(), pagePrefix.data(), known) == 0) {
      return true;
    }
    return PlainHostAllowed(url);
  }
  // Whether link's plain host (WebUrl::PlainHostOf), if it has one, is one
  // hosts allows; a link without is left to the crawl.
  bool PlainHostAllowed(std::string_view link) const {
    std::string_view host = WebUrl::PlainHostOf(link);
    return host.empty() || hosts(host);
  }

  Regexp* const file;
  const bool anyLink;  // the file pattern is ".": every link (never empty) matches
  const bool fileMode;
  const HostPolicy hosts;  // -confine's; null without
  KeywordLines lines;
  HtmlText text;
  HtmlTokenizer tokenizer;
  std::unique_ptr<HtmlLinkCollector> links;
  bool testText = false;
  SharedBudget* quota = nullptr;
  Page* page = nullptr;
  bool matched = false;     // the file pattern matched the link Wants saw last
  std::string problemText;  // reused
  std::string pageText;     // the page's URL, normalised
  std::string pagePrefix;   // its "scheme://authority/"; empty if none
};

PageReader::PageReader(const CStr& keywordPattern, const CStr& filespec, bool htmlReading,
                       bool textReading, HostPolicy hosts, size_t show)
    : collect(!filespec.IsEmpty()),
      fileMode(keywordPattern.IsEmpty()),
      text(textReading),
      shown(show),
      keyword(keywordPattern, 1),
      file(filespec, 1),
      anchor(kAnchorPattern, 1),
      image(kImagePattern, 1),
      keywordText(keywordPattern),
      fileText(filespec) {
  if (htmlReading || textReading) {
    html = std::make_unique<HtmlReading>(&keyword, &file, filespec == ".", fileMode,
                                         std::move(hosts), show);
  }
}

PageReader::~PageReader() = default;

PageReader::Page PageReader::ReadHtml(ResponseBody& response, const Url& url, size_t linkLimit,
                                      bool testKeyword,
                                      const std::function<void(size_t)>& onBytes,
                                      SharedBudget* quota, const PieceSink& copy) {
  Page page;
  std::iostream& body = response.Stream();
  if (body.eof()) return page;
  html->Begin(url, linkLimit, collect, testKeyword && text, quota, &page);
  // The tokenizer and the lines take the body in pieces as it arrives,
  // straight from the body's own buffer.
  while (response.Connected()) {
    std::string_view piece = response.NextPiece();
    if (piece.empty()) break;
    if (onBytes) onBytes(piece.size());
    html->Feed(piece.data(), piece.size(), testKeyword && !text);
    if (copy) copy(piece);
    response.ConsumePiece(piece.size());
  }
  bool cut = false;
  page.keywordFound = html->Finish(&page.shown, &cut) && testKeyword;
  page.linksCut = cut && page.quotaMet;
  page.links.Fit();
  NameFailedPatterns(page);
  return page;
}

bool PageReader::CollectLinks(Regexp& tag, const char* text, size_t limit, SharedBudget* quota,
                              Page& page) {
  PageLinks& links = page.links;
  const char* position = text;
  while (tag.Match(position)) {
    // The link is tested where it is copied, for a NUL of its own.
    const size_t length = static_cast<size_t>(tag.SubLength(1));
    std::memcpy(link, position + tag.SubStart(1), length);
    link[length] = '\0';
    if (!file.Match(link)) return true;
    if (links.size() == limit) return false;
    if (quota != nullptr && !quota->Take(1)) {
      page.quotaMet = false;
      quota->Give(links.size());
      links.Clear();
      return false;
    }
    links.Add(link, length);
    position += tag.SubStart(1) + length;
  }
  return true;
}

PageReader::Page PageReader::Read(ResponseBody& response, const Url& url, size_t linkLimit,
                                  bool testKeyword, const std::function<void(size_t)>& onBytes,
                                  SharedBudget* quota, const PieceSink& copy) {
  if (html) return ReadHtml(response, url, linkLimit, testKeyword, onBytes, quota, copy);
  Page page;
  if (response.Stream().eof()) return page;
  // Lines are read from the body's own pieces, which copy hears as they come.
  PieceStream pieces(response, copy);
  std::istream body(&pieces);
  bool collecting = collect;
  size_t column = 0;  // of the piece read in its source line
  while (response.Connected()) {
    int length = ReadLine(body, line, kLineBufferSize - 1);
    if (onBytes) onBytes(static_cast<size_t>(length) + 1);
    // A piece as long as the buffer allows leaves the rest of its line for
    // the next.
    const bool ends = length < kLineBufferSize - 2;
    if (testKeyword && (!page.keywordFound || shown.Wants()) && keyword.Match(line)) {
      page.keywordFound = true;
      // The empty piece read at the end of the body is no line of the page.
      if (shown.Wants() && !(length == 0 && body.eof())) {
        KeepPiece(static_cast<size_t>(length), column, ends);
      }
    }
    column = ends ? 0 : column + static_cast<size_t>(length);
    if (ends) shown.EndLine();
    if (collecting && !(CollectLinks(anchor, line, linkLimit, quota, page) &&
                        CollectLinks(image, line, linkLimit, quota, page))) {
      collecting = false;
      page.linksCut = page.quotaMet;
    }
    // A failed stream that is not at its end would deliver empty lines
    // forever.
    if (body.eof() || body.fail()) break;
  }
  page.shown = shown.Take();
  page.links.Fit();
  NameFailedPatterns(page);
  return page;
}

void PageReader::NameFailedPatterns(Page& page) {
  const Regexp* const patterns[] = {&keyword, &file, &anchor, &image};
  const char* const texts[] = {keywordText, fileText, kAnchorPattern, kImagePattern};
  for (int i = 0; i < 4; ++i) {
    if (named[i]) continue;
    CStr reason = patterns[i]->SearchFailure();
    if (reason.IsEmpty()) continue;
    named[i] = true;
    page.patternFailures.push_back({CStr(texts[i]), reason});
  }
}

void PageReader::KeepPiece(size_t length, size_t column, bool ends) {
  if (ends && length > 0 && line[length - 1] == '\r') --length;
  const auto start = static_cast<size_t>(keyword.SubStart(0));
  const auto matched = static_cast<size_t>(keyword.SubLength(0));
  shown.Keep(line, length, column, start < length ? start : length, matched, !ends);
}
