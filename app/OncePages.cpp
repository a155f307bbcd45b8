#include "app/OncePages.h"

std::shared_ptr<OncePages::Page> OncePages::Load(long long id) const {
  CrawlState::Page kept = state->LoadPage(id);
  auto page = std::make_shared<Page>();
  page->id = id;
  page->depth = kept.depth;
  page->links = std::move(kept.links);
  UrlProblem ignored;
  if (kept.depth >= 0) page->url.Parse(CStr(kept.url.c_str()), &ignored);
  return page;
}

std::shared_ptr<OncePages::Page> OncePages::Find(const Url& url) const {
  if (state != nullptr) {
    long long id = state->PageOfKey(url.Key());
    return id != 0 ? Load(id) : nullptr;
  }
  auto found = pages.find(url.Key());
  return found != pages.end() ? found->second : nullptr;
}

bool OncePages::Meet(const Url& url, const std::shared_ptr<Page>& page,
                     std::vector<std::string>* keys, std::shared_ptr<Page>* prior) {
  std::string key = url.Key();
  if (state != nullptr) {
    if (page->id == 0) page->id = state->NewPage();
    long long priorId = 0;
    if (!state->MeetKey(key, page->id, &priorId)) {
      *prior = Load(priorId);
      return false;
    }
  } else {
    auto inserted = pages.emplace(key, page);
    if (!inserted.second) {
      *prior = inserted.first->second;
      return false;
    }
  }
  keys->push_back(std::move(key));
  return true;
}

void OncePages::Assign(const std::vector<std::string>& keys, const std::shared_ptr<Page>& page) {
  for (const std::string& key : keys) {
    if (state != nullptr) {
      state->AssignKey(key, page->id);
    } else {
      pages[key] = page;
    }
  }
}

void OncePages::Keep(const Page& page) {
  if (state == nullptr || page.id == 0) return;
  CrawlState::Page kept;
  kept.depth = page.depth;
  kept.url = static_cast<const char*>(page.url.Text());
  kept.links = page.links;
  state->StorePage(page.id, kept);
}
