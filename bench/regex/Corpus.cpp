#include "Corpus.h"

#include <algorithm>
#include <string>

namespace {

// splitmix64: small, fast and the same everywhere (the standard
// distributions are not).
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}

  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // 0 .. n-1
  size_t Below(size_t n) { return static_cast<size_t>(Next() % n); }
  // lo .. hi
  size_t Between(size_t lo, size_t hi) { return lo + Below(hi - lo + 1); }
  bool Chance(unsigned percent) { return Below(100) < percent; }
  template <size_t N>
  const char* Pick(const char* const (&items)[N]) {
    return items[Below(N)];
  }

 private:
  uint64_t state_;
};

const char* const kWords[] = {"the",
                              "crawler",
                              "page",
                              "links",
                              "index",
                              "download",
                              "server",
                              "network",
                              "archive",
                              "software",
                              "release",
                              "notes",
                              "version",
                              "support",
                              "contact",
                              "about",
                              "news",
                              "products",
                              "services",
                              "documentation",
                              "manual",
                              "guide",
                              "install",
                              "configure",
                              "options",
                              "example",
                              "result",
                              "search",
                              "keyword",
                              "welcome",
                              "home",
                              "site",
                              "map",
                              "update",
                              "security",
                              "report",
                              "file",
                              "directory",
                              "images",
                              "gallery",
                              "photos",
                              "article",
                              "comment",
                              "forum",
                              "thread",
                              "reply",
                              "author",
                              "date",
                              "time",
                              "price",
                              "order",
                              "cart",
                              "and",
                              "of",
                              "to",
                              "in",
                              "for",
                              "with",
                              "on",
                              "is",
                              "by",
                              "a",
                              "this",
                              "from",
                              "Windows",
                              "Linux",
                              "HTTP",
                              "HTML",
                              "TCP/IP",
                              "FAQ",
                              "README",
                              "2024",
                              "caf\xc3\xa9",
                              "na\xc3\xafve",
                              "Gr\xc3\xb6\xc3\x9f"
                              "e",
                              "&amp;",
                              "&nbsp;",
                              "&lt;tag&gt;",
                              "3.14",
                              "(beta)",
                              "\"quoted\"",
                              "it's",
                              "50%",
                              "e-mail"};

const char* const kDirs[] = {"docs",       "img",      "images",  "pub",          "download",
                             "news",       "products", "support", "archive/2023", "cgi-bin",
                             "static/css", "a/b/c",    "~user",   "forum"};
const char* const kFiles[] = {
    "index.html",      "guide.html", "news.htm",  "logo.gif",    "photo.jpg",
    "banner.png",      "setup.exe",  "notes.txt", "page2.html",  "search.cgi?q=ferret&lang=en",
    "default.asp",     "style.css",  "README",    "archive.zip", "view.php?id=1234",
    "faq.html#install"};
const char* const kHosts[] = {
    "www.example.com", "example.org",     "ftp.example.net", "news.site.co.uk",
    "localhost",       "intranet",        "WWW.EXAMPLE.COM", "mirror-3.example.edu",
    "10.0.0.7",        "shop.example.com"};
const char* const kAttrs[] = {
    "class=\"nav\"",  "id=\"main\"",    "style=\"color: #333\"", "align=center",
    "width=\"100%\"", "border=0",       "title=\"Home page\"",   "onclick=\"return go(this);\"",
    "lang=en",        "valign=\"top\"", "bgcolor=#FFFFFF"};
const char* const kBlockTags[] = {"div", "td",   "li",     "span",       "p",   "TD",
                                  "TR",  "font", "center", "blockquote", "DIV", "h3"};

std::string Words(Random& r, size_t count) {
  std::string s;
  for (size_t i = 0; i < count; ++i) {
    if (i) s += ' ';
    s += r.Pick(kWords);
  }
  return s;
}

// A link as pages write it: relative, rooted, absolute, with fragments and
// queries, and now and then one the crawler skips or that the default file
// pattern refuses.
std::string Link(Random& r) {
  switch (r.Below(12)) {
    case 0:
    case 1:
    case 2: return r.Pick(kFiles);
    case 3:
    case 4: return std::string(r.Pick(kDirs)) + "/" + r.Pick(kFiles);
    case 5: return std::string("/") + r.Pick(kDirs) + "/" + r.Pick(kFiles);
    case 6: return std::string("../") + r.Pick(kFiles);
    case 7:
      return std::string("http://") + r.Pick(kHosts) + "/" + r.Pick(kDirs) + "/" + r.Pick(kFiles);
    case 8: return std::string("HTTP://") + r.Pick(kHosts) + "/";
    case 9:
      return std::string("http://") + r.Pick(kHosts) + ":" + std::to_string(r.Between(80, 8090)) +
             "/" + r.Pick(kFiles);
    case 10: return r.Chance(50) ? "mailto:webmaster@example.com" : "#top";
    default: return r.Chance(15) ? "" : std::string(r.Pick(kDirs)) + "/";
  }
}

std::string Anchor(Random& r) {
  std::string text = Words(r, r.Between(1, 4));
  switch (r.Below(16)) {
    case 0: return "<A HREF=\"" + Link(r) + "\">" + text + "</A>";
    case 1: return "<a href=" + Link(r) + ">" + text + "</a>";  // unquoted
    case 2: return "<A HREF=" + Link(r) + " TARGET=_top>" + text + "</A>";
    case 3: return "<a href='" + Link(r) + "'>" + text + "</a>";
    case 4:
      // an attribute before href: the crawler does not see this one
      return std::string("<a ") + r.Pick(kAttrs) + " href=\"" + Link(r) + "\">" + text + "</a>";
    case 5:
      return "<a\thref\t=\t\"" + Link(r) + "\" title=\"" + Words(r, 2) + "\">" + text + "</a>";
    case 6: return "<a name=\"" + Words(r, 1) + "\"></a>";
    case 7: return "<a href = \"" + Link(r) + "\" " + r.Pick(kAttrs) + ">" + text + "</a>";
    default: return "<a href=\"" + Link(r) + "\">" + text + "</a>";
  }
}

std::string Image(Random& r) {
  std::string src = std::string(r.Pick(kDirs)) + "/" + r.Pick(kFiles);
  switch (r.Below(8)) {
    case 0:
      return "<IMG SRC=" + src + " BORDER=0 WIDTH=" + std::to_string(r.Between(10, 640)) + ">";
    case 1: return "<img alt=\"" + Words(r, 2) + "\" src=\"" + src + "\">";  // not seen
    case 2: return "<img\tsrc=\"" + src + "\">";
    case 3: return "<img src=\"\" alt=\"\">";
    default:
      return "<img src=\"" + src + "\" alt=\"" + Words(r, r.Between(1, 3)) + "\" width=\"" +
             std::to_string(r.Between(10, 640)) + "\" height=\"" +
             std::to_string(r.Between(10, 480)) + "\">";
  }
}

std::string Inline(Random& r) {
  switch (r.Below(10)) {
    case 0:
    case 1:
    case 2: return Anchor(r);
    case 3: return Image(r);
    case 4: return "<b>" + Words(r, 2) + "</b>";
    case 5: return "<em>" + Words(r, 1) + "</em>";
    case 6: return "<FONT SIZE=-1 FACE=\"Arial\">" + Words(r, 3) + "</FONT>";
    case 7: return "<br>";
    default: return std::string("<span ") + r.Pick(kAttrs) + ">" + Words(r, 2) + "</span>";
  }
}

std::string Paragraph(Random& r, size_t target) {
  std::string s = r.Chance(30) ? "<P>" : "<p>";
  while (s.size() < target) {
    s += Words(r, r.Between(3, 12));
    s += ' ';
    if (r.Chance(35)) {
      s += Inline(r);
      s += ' ';
    }
  }
  if (r.Chance(60)) s += "</p>";
  return s;
}

std::string Indent(Random& r) { return std::string(r.Below(4) * 2, ' '); }

const char* const kScript[] = {
    "var links = document.getElementsByTagName(\"a\");",
    "for (var i = 0; i < links.length && i < 100; i++) {",
    "  if (links[i].href.indexOf(\"http\") == 0 && depth > 0) links[i].target = \"_blank\";",
    "}",
    "document.write('<a href=\"' + base + '/index.html\">' + title + '</a>');",
    "function go(el) { window.location = el.href; return false; }",
    "if (a < b) { x = a > c ? a : c; }",
    "var img = new Image(); img.src = \"images/spacer.gif\";",
    "// <![CDATA[",
    "// ]]>",
};
const char* const kStyle[] = {
    "body { font-family: Arial, Helvetica, sans-serif; margin: 0; }",
    ".nav a:hover { color: #FF0000; text-decoration: underline; }",
    "A:link { color: #0000CC } A:visited { color: #551A8B }",
    "td.content > p { padding: 4px 8px; }",
    "img { border: none; }",
};

// One page of HTML: head with meta, style and script, a body with
// navigation, paragraphs, tables and now and then a minified stretch.
std::string Page(Random& r) {
  const char* eol = r.Chance(30) ? "\r\n" : "\n";
  std::string p;
  auto line = [&](const std::string& s) {
    p += s;
    p += eol;
  };
  line(r.Chance(50) ? "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\">"
                    : "<!doctype html>");
  line(r.Chance(40) ? "<HTML>" : "<html lang=\"en\">");
  line("<head>");
  line("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\">");
  line("<title>" + Words(r, r.Between(2, 6)) + "</title>");
  line("<link rel=\"stylesheet\" type=\"text/css\" href=\"/static/css/style.css\">");
  if (r.Chance(70)) {
    line("<style type=\"text/css\">");
    for (size_t i = r.Between(2, 8); i > 0; --i) line(Indent(r) + r.Pick(kStyle));
    line("</style>");
  }
  if (r.Chance(70)) {
    line("<script type=\"text/javascript\">");
    for (size_t i = r.Between(3, 12); i > 0; --i) line(Indent(r) + r.Pick(kScript));
    line("</script>");
  }
  line("</head>");
  line(r.Chance(50) ? "<BODY BGCOLOR=\"#FFFFFF\" TEXT=\"#000000\">" : "<body>");

  size_t blocks = r.Between(20, 60);
  for (size_t b = 0; b < blocks; ++b) {
    switch (r.Below(12)) {
      case 0:
      case 1: {  // navigation list
        line(Indent(r) + "<ul class=\"nav\">");
        for (size_t i = r.Between(3, 10); i > 0; --i) {
          line(Indent(r) + "  <li>" + Anchor(r) + "</li>");
        }
        line(Indent(r) + "</ul>");
        break;
      }
      case 2: {  // a bar of links on one line
        std::string s = Indent(r) + "<div class=\"bar\">";
        for (size_t i = r.Between(2, 8); i > 0; --i) s += Anchor(r) + " | ";
        line(s + "</div>");
        break;
      }
      case 3: {  // table rows
        line(Indent(r) + "<TABLE BORDER=0 CELLPADDING=2 CELLSPACING=0 WIDTH=\"100%\">");
        for (size_t i = r.Between(2, 8); i > 0; --i) {
          line(Indent(r) + "<tr><td valign=\"top\">" + Image(r) + "</td><td>" +
               Words(r, r.Between(2, 10)) + " " + Anchor(r) + "</td></tr>");
        }
        line(Indent(r) + "</TABLE>");
        break;
      }
      case 4: {  // minified: one long line the crawler reads in pieces
        std::string s;
        size_t target = r.Between(1200, 6000);
        while (s.size() < target) {
          s += std::string("<") + r.Pick(kBlockTags) + " " + r.Pick(kAttrs) + ">" + Inline(r) +
               Words(r, r.Between(0, 6)) + "</div>";
        }
        line(s);
        break;
      }
      case 5: line("<!-- " + Words(r, r.Between(3, 12)) + " -->"); break;
      case 6: line(""); break;
      case 7: {  // a paragraph wrapped over several lines
        line("<p>");
        for (size_t i = r.Between(2, 6); i > 0; --i) {
          line(Words(r, r.Between(6, 14)) + (r.Chance(30) ? " " + Inline(r) : ""));
        }
        line("</p>");
        break;
      }
      case 8:
        line(Indent(r) + "<" + r.Pick(kBlockTags) + " " + r.Pick(kAttrs) + " " + r.Pick(kAttrs) +
             ">");
        break;
      default: line(Indent(r) + Paragraph(r, r.Between(40, 700))); break;
    }
  }
  line("<hr><address>" + Anchor(r) + " " + Words(r, 3) + "</address>");
  line("</body>");
  line("</html>");
  return p;
}

}  // namespace

void Corpus::AddPage(const std::string& page) {
  // Cut at every LF and after every kMaxLineLength characters, as the
  // crawler's line reads do. A CR before the LF stays in the line.
  size_t pos = 0;
  while (pos < page.size()) {
    size_t lf = page.find('\n', pos);
    if (lf == std::string::npos) lf = page.size();
    size_t n = std::min(lf - pos, kMaxLineLength);
    offsets_.push_back(text_.size());
    lengths_.push_back(n);
    text_.append(page, pos, n);
    text_ += '\0';
    bytes_ += n;
    pos += n;
    if (pos == lf) ++pos;  // the LF is consumed, not stored
  }
}

Corpus Corpus::Generate(uint64_t seed, size_t bytes) {
  Random r(seed);
  Corpus c;
  while (c.bytes_ < bytes) c.AddPage(Page(r));
  return c;
}

std::string WithSplitSlash(std::string url) {
  size_t last = url.rfind('/');
  if (last == std::string::npos || last == 0 || url[last - 1] == '/') url += '/';
  return url;
}

std::vector<std::string> GenerateUrls(uint64_t seed, size_t count) {
  Random r(seed ^ 0x5DEECE66Dull);
  std::vector<std::string> urls;
  urls.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    std::string host = r.Pick(kHosts);
    std::string url;
    switch (r.Below(10)) {
      case 0: url = "http://" + host; break;
      case 1: url = "http://" + host + "/"; break;
      case 2:
      case 3: url = "http://" + host + "/" + r.Pick(kDirs) + "/" + r.Pick(kFiles); break;
      case 4:
        url =
            "HTTP://" + host + ":" + std::to_string(r.Between(0, 9000)) + "/" + r.Pick(kDirs) + "/";
        break;
      case 5:
      case 6:  // what the resolver builds for relative links
        url = host + ":" + std::to_string(r.Between(80, 8080)) + "/" + r.Pick(kDirs) + "/" +
              r.Pick(kFiles);
        break;
      case 7: url = host + ":80/" + r.Pick(kDirs) + "/../" + r.Pick(kDirs) + "/#top"; break;
      case 8: url = "https://" + host + "/" + r.Pick(kFiles); break;
      default: url = host; break;
    }
    urls.push_back(WithSplitSlash(url));
  }
  return urls;
}
