#include "app/PageReader.h"

#include "net/StreamRead.h"

namespace {

// Group 1 is the link: after an optional quote, up to the next quote or '>'.
constexpr char kAnchorPattern[] = "<a[\t ]+href[\t ]*=[\t ]*\"?([^\">]*)\"?.*>";
constexpr char kImagePattern[] = "<img[\t ]+src[\t ]*=[\t ]*\"?([^\">]*)\"?.*>";

}  // namespace

PageReader::PageReader(const CStr& keywordPattern, const CStr& filespec)
    : collect(!filespec.IsEmpty()),
      keyword(keywordPattern, 1),
      file(filespec, 1),
      anchor(kAnchorPattern, 1),
      image(kImagePattern, 1) {}

bool PageReader::CollectLinks(Regexp& tag, const char* text, size_t limit, SharedBudget* quota,
                              Page& page) {
  std::vector<CStr>& links = page.links;
  const char* position = text;
  while (tag.Match(position)) {
    CStr link = tag[1];
    if (!file.Match(link)) return true;
    if (links.size() == limit) return false;
    if (quota != nullptr && !quota->Take(1)) {
      page.quotaMet = false;
      quota->Give(links.size());
      std::vector<CStr>().swap(links);
      return false;
    }
    links.push_back(link);
    position += tag.SubStart(1) + tag.SubLength(1);
  }
  return true;
}

PageReader::Page PageReader::Read(ResponseBody& response, size_t linkLimit, bool testKeyword,
                                  const std::function<void(size_t)>& onBytes,
                                  SharedBudget* quota) {
  Page page;
  std::iostream& body = response.Stream();
  bool collecting = collect;
  if (body.eof()) return page;
  while (response.Connected()) {
    int length = ReadLine(body, line, kLineBufferSize - 1);
    if (onBytes) onBytes(static_cast<size_t>(length) + 1);
    if (testKeyword && !page.keywordFound && keyword.Match(line)) page.keywordFound = true;
    if (collecting && !(CollectLinks(anchor, line, linkLimit, quota, page) &&
                        CollectLinks(image, line, linkLimit, quota, page))) {
      collecting = false;
      page.linksCut = page.quotaMet;
    }
    // A failed stream that is not at its end would deliver empty lines
    // forever.
    if (body.eof() || body.fail()) break;
  }
  return page;
}
