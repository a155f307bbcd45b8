// The links a page offers a browser: which elements and attributes, in page
// order, resolved against the page or its <base>; srcset and refresh read as
// a browser reads them.
#include <string>
#include <vector>

#include "tests/app/HtmlLinksFound.h"

namespace {

// "KIND ELEMENT ATTRIBUTE URL" per link; "!" before URL when it did not resolve.
std::vector<std::string> LinksOf(const std::string& html, size_t limit, bool* cut) {
  std::vector<std::string> lines;
  for (const HtmlLink& link : LinksFound(html, limit, cut)) {
    lines.push_back(std::string(link.kind == HtmlLink::Kind::kPage ? "page " : "file ") +
                    link.element + " " + link.attribute + " " + (link.resolved ? "" : "!") +
                    link.url);
  }
  return lines;
}

TEST(HtmlLinks, ElementsAttributesAndResolution) {
  const struct {
    const char* name;
    std::string html;
    std::vector<std::string> links;
  } rows[] = {
      {"any attribute order, quotes and letter case",
       "<a class=x HREF='one.html'>1</a><A rel=next href=two.html class=\"n\">"
       "<a\nhref\n=\n\"three.html\"\n>",
       {"page a href http://site.test/docs/one.html", "page a href http://site.test/docs/two.html",
        "page a href http://site.test/docs/three.html"}},
      {"references decoded, dots removed, fragment dropped",
       "<a href=\"q?a=1&amp;b=2\"><a href='../up/./x.html#part'><a href=\"&#x2F;root\">",
       {"page a href http://site.test/docs/q?a=1&b=2", "page a href http://site.test/up/x.html",
        "page a href http://site.test/root"}},
      {"every element that links",
       "<area href=m.html><frame src=f.html><iframe src=i.html></iframe><img src=p.png>"
       "<source src=s.webm><video src=v.mp4 poster=v.jpg><audio src=a.ogg><track src=t.vtt>"
       "<embed src=e.swf><object data=o.svg><script src=j.js></script><link href=c.css>",
       {"page area href http://site.test/docs/m.html", "page frame src http://site.test/docs/f.html",
        "page iframe src http://site.test/docs/i.html", "file img src http://site.test/docs/p.png",
        "file source src http://site.test/docs/s.webm", "file video src http://site.test/docs/v.mp4",
        "file video poster http://site.test/docs/v.jpg", "file audio src http://site.test/docs/a.ogg",
        "file track src http://site.test/docs/t.vtt", "file embed src http://site.test/docs/e.swf",
        "file object data http://site.test/docs/o.svg", "file script src http://site.test/docs/j.js",
        "file link href http://site.test/docs/c.css"}},
      {"srcset candidates, with and without descriptors; one not understood is dropped",
       "<img srcset=\"a.png 1x, b,c.png 2x,d.png,, e.png (x, y) 3w, f.png 100w 50h, g.png 50h\">",
       {"file img srcset http://site.test/docs/a.png", "file img srcset http://site.test/docs/b,c.png",
        "file img srcset http://site.test/docs/d.png", "file img srcset http://site.test/docs/f.png"}},
      {"a base of another scheme resolves no relative link (kept to be told)",
       "<base href=\"mailto:x@y\"><a href=lost.html><a href=\"https://Site.test/kept\">",
       {"page a href !lost.html", "page a href https://site.test/kept"}},
      {"refresh URLs",
       "<meta http-equiv=Refresh content=\"5; URL='next.html'\">"
       "<meta http-equiv=refresh content=\"0;url=then.html\"><meta http-equiv=refresh content=3>"
       "<meta http-equiv=refresh content=\"2, other.html\"><meta name=refresh content=\"1;no.html\">",
       {"page meta content http://site.test/docs/next.html",
        "page meta content http://site.test/docs/then.html",
        "page meta content http://site.test/docs/other.html"}},
      {"the first base counts, for the links after it (the same text resolves anew)",
       "<a href=same.html#1><a href=same.html><base href=\"http://Other.test:80/b/\">"
       "<base href=/ignored/><a href=same.html#2><a href=same.html>",
       {"page a href http://site.test/docs/same.html", "page a href http://site.test/docs/same.html",
        "page a href http://other.test/b/same.html", "page a href http://other.test/b/same.html"}},
      {"no links in comments, scripts, styles or titles",
       "<!-- <a href=c.html> --><script>var s = '<a href=s.html>';</script>"
       "<style>a{background:url(x.png)}</style><title><a href=t.html></title><textarea>"
       "<img src=x.png></textarea>",
       {}},
      {"other schemes and empty values passed over; a bad one kept to be told",
       "<a href=mailto:x@y><a href=\"javascript:go()\"><a href=\"  \"><a href=\"http://[::1\">",
       {"page a href !http://[::1"}},
  };
  for (const auto& row : rows) {
    bool cut = false;
    EXPECT_EQ(LinksOf(row.html, 100, &cut), row.links) << row.name;
    EXPECT_FALSE(cut) << row.name;
  }
}

TEST(HtmlLinks, TheLimitKeepsTheFirstLinks) {
  bool cut = false;
  std::vector<std::string> links =
      LinksOf("<a href=1><img src=2 srcset=\"3 1x, 4 2x\"><a href=5>", 3, &cut);
  EXPECT_EQ(links, (std::vector<std::string>{"page a href http://site.test/docs/1",
                                             "file img src http://site.test/docs/2",
                                             "file img srcset http://site.test/docs/3"}));
  EXPECT_TRUE(cut);
}

}  // namespace
