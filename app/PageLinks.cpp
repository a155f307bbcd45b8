#include "app/PageLinks.h"

void PageLinks::Add(const char* link, size_t length, uint8_t linkFlags) {
  starts.push_back(static_cast<uint32_t>(text.size()));
  flags.push_back(linkFlags);
  text.append(link, length);
  text += '\0';
}

void PageLinks::Fit() {
  text.shrink_to_fit();
  starts.shrink_to_fit();
  flags.shrink_to_fit();
}

void PageLinks::Clear() {
  std::string().swap(text);
  std::vector<uint32_t>().swap(starts);
  std::vector<uint8_t>().swap(flags);
}

PageLinks PageLinks::Prefix(size_t count) const {
  PageLinks prefix;
  if (count >= size()) return *this;
  prefix.starts.assign(starts.begin(), starts.begin() + static_cast<long>(count));
  prefix.flags.assign(flags.begin(), flags.begin() + static_cast<long>(count));
  prefix.text.assign(text, 0, count == 0 ? 0 : starts[count]);
  return prefix;
}
