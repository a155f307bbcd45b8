// LinkResolutions: what the link texts met on one page resolve to, so that
// a text met again (a type's name at each use, a chapter's sections) is not
// resolved again. A resolution depends on nothing but the text while the
// page's base stays.
//
// Bounded: past kMaxTexts texts the memo starts over. Texts and URLs are
// copied into blocks that never move, and found through an open-addressed
// table over them: remembering a text costs no allocation once the blocks
// and the table have grown to the page's size (an allocation on a worker of
// -j waits for the heap the other threads use). A view Find returns lives
// until the next Add or Clear.
#ifndef FERRET_APP_LINKRESOLUTIONS_H_
#define FERRET_APP_LINKRESOLUTIONS_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

class LinkResolutions {
 public:
  static constexpr size_t kMaxTexts = 4096;

  struct Known {
    bool otherScheme = false;  // the text names a URL of a scheme not crawled
    std::string_view url;      // the URL it resolves to; empty when otherScheme
  };

  // What text resolved to when it was added; null when it was not.
  const Known* Find(std::string_view text) const;
  // Remembers text's resolution (a text already known keeps its first).
  void Add(std::string_view text, bool otherScheme, std::string_view url);
  void Clear();
  size_t size() const { return count; }

 private:
  struct Slot {
    uint64_t hash = 0;
    std::string_view text;
    Known known;
    bool used = false;
  };
  static uint64_t Hash(std::string_view text);
  // The slot of text, or the free one where it would go.
  size_t SlotOf(std::string_view text, uint64_t hash) const;
  void Grow();
  std::string_view Copy(std::string_view bytes);

  static constexpr size_t kBlock = 16 * 1024;
  std::vector<Slot> slots;  // a power of two in size, at most half full
  size_t count = 0;
  std::vector<std::unique_ptr<char[]>> blocks;
  size_t blockUsed = kBlock;  // bytes taken of the last block of kBlock bytes
};

#endif  // FERRET_APP_LINKRESOLUTIONS_H_
