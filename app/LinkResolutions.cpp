#include "app/LinkResolutions.h"

#include <cstring>

uint64_t LinkResolutions::Hash(std::string_view text) {
  // FNV-1a: texts are short paths, and the table only needs a spread.
  uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : text) hash = (hash ^ c) * 1099511628211ull;
  return hash;
}

size_t LinkResolutions::SlotOf(std::string_view text, uint64_t hash) const {
  const size_t mask = slots.size() - 1;
  size_t at = static_cast<size_t>(hash) & mask;
  while (slots[at].used && !(slots[at].hash == hash && slots[at].text == text)) {
    at = (at + 1) & mask;
  }
  return at;
}

const LinkResolutions::Known* LinkResolutions::Find(std::string_view text) const {
  if (count == 0) return nullptr;
  const Slot& slot = slots[SlotOf(text, Hash(text))];
  return slot.used ? &slot.known : nullptr;
}

void LinkResolutions::Add(std::string_view text, bool otherScheme, std::string_view url) {
  if (Find(text) != nullptr) return;
  if (count == kMaxTexts) Clear();
  if ((count + 1) * 2 > slots.size()) Grow();
  const uint64_t hash = Hash(text);
  Slot& slot = slots[SlotOf(text, hash)];
  slot.used = true;
  slot.hash = hash;
  slot.text = Copy(text);
  slot.known.otherScheme = otherScheme;
  slot.known.url = Copy(url);
  ++count;
}

void LinkResolutions::Clear() {
  for (Slot& slot : slots) slot.used = false;
  count = 0;
  // The first block stays for the texts to come; the others go.
  if (blocks.size() > 1) blocks.resize(1);
  blockUsed = blocks.empty() ? kBlock : 0;
}

void LinkResolutions::Grow() {
  std::vector<Slot> old = std::move(slots);
  slots.assign(old.empty() ? 64 : old.size() * 2, Slot());
  for (const Slot& slot : old) {
    if (slot.used) slots[SlotOf(slot.text, slot.hash)] = slot;
  }
}

std::string_view LinkResolutions::Copy(std::string_view bytes) {
  if (bytes.empty()) return std::string_view();
  if (bytes.size() > kBlock) {
    // A text longer than a block gets one of its own, before the last
    // block so that the last keeps its room.
    auto own = std::make_unique<char[]>(bytes.size());
    std::memcpy(own.get(), bytes.data(), bytes.size());
    std::string_view view(own.get(), bytes.size());
    blocks.insert(blocks.end() - (blocks.empty() ? 0 : 1), std::move(own));
    return view;
  }
  if (kBlock - blockUsed < bytes.size()) {
    blocks.push_back(std::make_unique<char[]>(kBlock));
    blockUsed = 0;
  }
  char* at = blocks.back().get() + blockUsed;
  std::memcpy(at, bytes.data(), bytes.size());
  blockUsed += bytes.size();
  return std::string_view(at, bytes.size());
}
