#include "app/PageReader.h"

#include <cstring>

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
  page.links.Fit();
  return page;
}
