#include "app/PageLinks.h"

#include <algorithm>

void PageLinks::Add(const char* link, size_t length, uint8_t linkFlags, uint8_t source) {
  if (source != 0) {
    sources.resize(starts.size(), 0);
    sources.push_back(source);
  }
  starts.push_back(static_cast<uint32_t>(text.size()));
  flags.push_back(linkFlags);
  text.append(link, length);
  text += '\0';
}

void PageLinks::Fit() {
  text.shrink_to_fit();
  starts.shrink_to_fit();
  flags.shrink_to_fit();
  sources.shrink_to_fit();
}

void PageLinks::Clear() {
  std::string().swap(text);
  std::vector<uint32_t>().swap(starts);
  std::vector<uint8_t>().swap(flags);
  std::vector<uint8_t>().swap(sources);
}

PageLinks PageLinks::Prefix(size_t count) const {
  PageLinks prefix;
  if (count >= size()) return *this;
  prefix.starts.assign(starts.begin(), starts.begin() + static_cast<long>(count));
  prefix.flags.assign(flags.begin(), flags.begin() + static_cast<long>(count));
  prefix.sources.assign(sources.begin(),
                        sources.begin() + static_cast<long>(std::min(count, sources.size())));
  prefix.text.assign(text, 0, count == 0 ? 0 : starts[count]);
  return prefix;
}
