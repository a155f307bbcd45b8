#include "app/OncePages.h"

std::shared_ptr<OncePages::Page> OncePages::Find(const Url& url) const {
  auto found = pages.find(url.Key());
  return found != pages.end() ? found->second : nullptr;
}

bool OncePages::Meet(const Url& url, const std::shared_ptr<Page>& page,
                     std::vector<std::string>* keys, std::shared_ptr<Page>* prior) {
  std::string key = url.Key();
  auto inserted = pages.emplace(key, page);
  if (!inserted.second) {
    *prior = inserted.first->second;
    return false;
  }
  keys->push_back(std::move(key));
  return true;
}

void OncePages::Assign(const std::vector<std::string>& keys, const std::shared_ptr<Page>& page) {
  for (const std::string& key : keys) pages[key] = page;
}
