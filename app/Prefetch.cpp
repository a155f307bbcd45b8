#include "app/Prefetch.h"

#include <pthread.h>
#include <signal.h>

#include <chrono>

#include "app/Stop.h"

Prefetcher::Prefetcher(int count, FetchPolicy allowed, const Options& options,
                       const CrawlPlan& plan, bool once)
    : allowed(std::move(allowed)), options(options), plan(plan), once(once) {
  // Signals stay with the crawl's thread, whose waits they must cut short.
  sigset_t blocked, previous;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGINT);
  sigaddset(&blocked, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &blocked, &previous);
  for (int i = 0; i < count; ++i) workers.emplace_back([this] { Work(); });
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

Prefetcher::~Prefetcher() {
  {
    std::lock_guard<std::mutex> lock(mutex);
    stopping = true;
  }
  changed.notify_all();
  // A worker may be waiting on a silent server; a run stopped by a signal
  // ends without it.
  for (std::thread& worker : workers) {
    if (StopSignal() != 0) {
      worker.detach();
    } else {
      worker.join();
    }
  }
}

void Prefetcher::Insert(EntryList::iterator position, const std::vector<Need>& upcoming) {
  EntryList added;
  for (const Need& need : upcoming) {
    if (once) {
      if (!(need.save ? predictedSaves.insert(need.url.Key()).second : FirstScan(need.url))) {
        continue;
      }
    }
    auto entry = std::make_shared<Entry>();
    entry->need = need;
    added.push_back(std::move(entry));
  }
  needs.insert(position, added.begin(), added.end());
}

void Prefetcher::Predict(const std::vector<Need>& upcoming) {
  if (upcoming.empty()) return;
  {
    std::lock_guard<std::mutex> lock(mutex);
    Insert(needs.begin(), upcoming);
  }
  changed.notify_all();
}

void Prefetcher::ScannedLive(const Url& url) {
  std::lock_guard<std::mutex> lock(mutex);
  FirstScan(url);
}

void Prefetcher::Forget(const Url& url) {
  std::lock_guard<std::mutex> lock(mutex);
  for (auto at = needs.begin(); at != needs.end(); ++at) {
    if ((*at)->need.save || !((*at)->need.url.Text() == url.Text())) continue;
    if ((*at)->state == Entry::State::kDone) bytesHeld -= (*at)->bytes;
    (*at)->dropped = true;
    needs.erase(at);
    changed.notify_all();
    return;
  }
}

Prefetcher::Fetched Prefetcher::Take(const Url& url, bool save) {
  std::unique_lock<std::mutex> lock(mutex);
  auto found = needs.begin();
  // A request to save is matched only by a prediction to save, a scan only by
  // a scan: they differ in how much of the body was recorded.
  while (found != needs.end() && !((*found)->need.save == save && (*found)->need.url.Text() == url.Text())) {
    ++found;
  }
  std::shared_ptr<Entry> entry;
  if (found != needs.end()) {
    entry = *found;
    needs.erase(found);
  } else {
    entry = std::make_shared<Entry>();
    entry->need = {url, save, -1};
  }
  if (entry->state == Entry::State::kWaiting) {
    // Next for the first free worker; the entry leaves needs once taken.
    entry->urgent = true;
    needs.push_front(entry);
  }
  changed.notify_all();  // the window has moved
  while (entry->state != Entry::State::kDone && StopSignal() == 0) {
    changed.wait_for(lock, std::chrono::milliseconds(100));
  }
  if (entry->state != Entry::State::kDone) {
    entry->dropped = true;
    return Fetched();
  }
  bytesHeld -= entry->bytes;
  Fetched fetched;
  fetched.recordings = std::move(entry->recordings);
  fetched.expanded = entry->expanded;
  return fetched;
}

std::shared_ptr<Prefetcher::Entry> Prefetcher::NextToFetch() {
  for (const auto& entry : needs) {
    if (entry->urgent && entry->state == Entry::State::kWaiting) return entry;
  }
  if (bytesHeld >= kWindowBytes) return nullptr;
  size_t limit = needs.size() < kWindowPages ? needs.size() : kWindowPages;
  for (size_t i = 0; i < limit; ++i) {
    if (needs[i]->state == Entry::State::kWaiting) return needs[i];
  }
  return nullptr;
}

std::vector<Prefetcher::Need> Prefetcher::FetchAhead(Entry& entry, PageReader& reader,
                                                     std::unique_ptr<Recordings>* recordings) {
  *recordings = std::make_unique<Recordings>();
  const Need& need = entry.need;
  // With -once the crawl follows a redirect only to a URL not met before,
  // which the fetch ahead cannot know: it stops at the first answer, and the
  // crawl makes any further hop itself, so nothing is asked for that the
  // crawl would not ask for.
  bool first = true;
  FetchPolicy policy = [this, &first](const Url& url) {
    bool follow = allowed(url) && (first || !once);
    first = false;
    return follow;
  };
  ExchangeRecorder recorder{recordings->get(), kMaxRecording};
  FetchOutcome outcome = Fetch(need.url, policy, ConnectTo, &recorder);
  std::vector<Need> upcoming;
  if (!outcome.body) return upcoming;
  // The body is recorded to its end when the crawl will read it: to save it,
  // or to scan a page, whose links tell what comes next.
  if (!need.save && !outcome.html) return upcoming;
  if (!need.save && need.depth >= 0 && !options.filespec.IsEmpty()) {
    PageReader::Page page = reader.Read(*outcome.body, kMaxLinksPerPage, false);
    upcoming = plan.Requests(outcome.url, need.depth, page.links);
  }
  std::iostream& body = outcome.body->Stream();
  char sink[4096];
  while (outcome.body->Connected() && body.read(sink, sizeof sink)) {
  }
  return upcoming;
}

void Prefetcher::Work() {
  PageReader reader(options.keyword, options.filespec);
  std::unique_lock<std::mutex> lock(mutex);
  for (;;) {
    std::shared_ptr<Entry> entry;
    changed.wait(lock, [&] { return stopping || (entry = NextToFetch()) != nullptr; });
    if (stopping) return;
    entry->state = Entry::State::kFetching;
    if (entry->urgent) {  // taken already: not to be matched again
      for (auto at = needs.begin(); at != needs.end(); ++at) {
        if (*at == entry) {
          needs.erase(at);
          break;
        }
      }
    }
    lock.unlock();

    std::unique_ptr<Recordings> recordings;
    std::vector<Need> upcoming = FetchAhead(*entry, reader, &recordings);
    size_t bytes = 0;
    for (const RecordedExchange& record : *recordings) bytes += record.Size();

    lock.lock();
    if (!upcoming.empty() && !entry->dropped) {
      // Right behind the page while it waits to be taken; first of all once
      // the crawl has taken it (and is about to scan it).
      auto position = needs.begin();
      while (position != needs.end() && *position != entry) ++position;
      Insert(position == needs.end() ? needs.begin() : position + 1, upcoming);
      entry->expanded = true;
    }
    entry->recordings = std::move(recordings);
    entry->bytes = bytes;
    entry->state = Entry::State::kDone;
    if (!entry->dropped) bytesHeld += bytes;
    changed.notify_all();
  }
}
