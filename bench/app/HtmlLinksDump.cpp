// html_links FILE...: for each file, the links HtmlLinks finds in it, read as
// the page http://site.test/FILE (the file's path as given), one per line:
// FILE, kind (page or file), element, attribute and URL, tab-separated. Links
// that do not resolve are left out. Exits 1 when a file cannot be read.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "app/HtmlLinks.h"
#include "text/HtmlTokenizer.h"

int main(int argc, char** argv) {
  int status = 0;
  for (int i = 1; i < argc; ++i) {
    std::ifstream in(argv[i], std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "html_links: cannot read %s\n", argv[i]);
      status = 1;
      continue;
    }
    WebUrl page;
    UrlProblem problem;
    if (!page.Parse(CStr((std::string("http://site.test") + argv[i]).c_str()), &problem)) {
      std::fprintf(stderr, "html_links: %s makes no URL\n", argv[i]);
      status = 1;
      continue;
    }
    HtmlLinkCollector collector(page, static_cast<size_t>(-1));
    HtmlTokenizer tokenizer(&collector);
    char buffer[16384];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
      tokenizer.Feed(buffer, static_cast<size_t>(in.gcount()));
    }
    tokenizer.Finish();
    for (const HtmlLink& link : collector.Links()) {
      if (!link.resolved) continue;
      std::printf("%s\t%s\t%s\t%s\t%s\n", argv[i],
                  link.kind == HtmlLink::Kind::kPage ? "page" : "file", link.element,
                  link.attribute, link.url.c_str());
    }
  }
  return status;
}
