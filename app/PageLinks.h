// PageLinks: the links read from one page, in page order, held in one
// buffer: a page of many links costs two allocations, not one per link, and
// passes from the thread that read it to the crawl's whole.
//
// Immutable once shared; a link's text stays valid as long as its PageLinks.
#ifndef FERRET_APP_PAGELINKS_H_
#define FERRET_APP_PAGELINKS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class PageLinks {
 public:
  // What a link read by the HTML reading (-html) is; 0 for the design's.
  enum Flag : uint8_t {
    kHtml = 1,      // an absolute, normalised URL, or a link that did not resolve
    kFile = 2,      // a file's link (an image, a script, ...): never scanned
    kWanted = 4,    // the file pattern matched it: file mode prints or saves it
    kBadUrl = 8,    // did not resolve: the text is the link as written
    kTooLong = 16,  // did not resolve: the text is what it would have been, cut
  };

  // Appends a link of length bytes (which holds no NUL); source is where
  // -html read it (HtmlLinkSource, app/HtmlLinks.h), 0 when not told.
  void Add(const char* link, size_t length, uint8_t flags = 0, uint8_t source = 0);
  // Gives back the room grown for links that never came.
  void Fit();
  void Clear();

  size_t size() const { return starts.size(); }
  bool empty() const { return starts.empty(); }
  // The link at index, NUL-terminated.
  const char* operator[](size_t index) const { return text.data() + starts[index]; }
  uint8_t Flags(size_t index) const { return flags[index]; }
  uint8_t Source(size_t index) const { return index < sources.size() ? sources[index] : 0; }
  // The first count links.
  PageLinks Prefix(size_t count) const;

 private:
  std::string text;  // each link, then a NUL
  std::vector<uint32_t> starts;
  std::vector<uint8_t> flags;
  std::vector<uint8_t> sources;  // as far as a link had one; the rest are 0
};

#endif  // FERRET_APP_PAGELINKS_H_
