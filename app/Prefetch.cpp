#include "app/Prefetch.h"

#include <malloc.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <system_error>

#include "app/Stop.h"
#include "net/Sockets.h"

namespace {

// Wakes a worker out of a blocking network call at the end of a run: its
// calls give up from then on, the other threads' go on.
void OnWake(int) { SocketsAbandonWaitsOnThisThread(); }

void InstallWakeHandler() {
  struct sigaction action {};
  action.sa_handler = OnWake;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: the call in progress returns
  sigaction(kSocketWakeSignal, &action, nullptr);
}

// Room for the links of a page read while pendingAt links wait, as the crawl
// counts it.
size_t RoomAt(size_t pendingAt) {
  size_t left = pendingAt < kMaxPendingLinks ? kMaxPendingLinks - pendingAt : 0;
  return left < kMaxLinksPerPage ? left : kMaxLinksPerPage;
}

}  // namespace

Prefetcher::Prefetcher(int count, Connector connect, FetchPolicy allowed, HostPolicy hosts,
                       const Options& options, const CrawlPlan& plan, CrawlStack stack,
                       ConnectionPool* pool, const CrawlScope* pageLimit)
    : connect(std::move(connect)),
      allowed(std::move(allowed)),
      hosts(std::move(hosts)),
      options(options),
      plan(plan),
      stack(std::move(stack)),
      pool(pool),
      pageLimit(pageLimit),
      cores(std::max(1u, std::thread::hardware_concurrency())),
      listsFirst(options.once || pageLimit != nullptr),
      scanOnly(!options.download && !options.ReadsWhole()),
      memory(std::make_shared<SharedBudget>(kWindowBytes)),
      began(std::chrono::steady_clock::now()),
      waitedBefore(SocketsWaitedOnThisThread()) {
  InstallWakeHandler();
  // The crawl's own requests, slow to come back, call for workers too.
  SocketsOnSlowWait(OnSlowWait, this, static_cast<int>(kSlowFetch.count()));
  // The workers share a heap per core rather than one each (the C
  // library's default allows eight per core), so that what a heap keeps
  // free is not multiplied by the number of workers. (Recordings, made on
  // one thread and freed on another, are held in pieces the heaps reuse:
  // net/RecordedExchange.h. Large blocks keep the C library's own, moving
  // threshold for being mapped apart, as without -j: a fixed one would map,
  // fault in and unmap every long line and every long list of links again.)
  mallopt(M_ARENA_MAX, static_cast<int>(cores));
  threads.resize(static_cast<size_t>(count));
  workers.reserve(threads.size());
  fetching.assign(threads.size(), 0);
  fetchBegan.resize(threads.size());
  wakeUp = std::make_unique<std::condition_variable[]>(threads.size());
  called.assign(threads.size(), 0);
}

void Prefetcher::OnSlowWait(void* context) {
  auto* prefetcher = static_cast<Prefetcher*>(context);
  std::lock_guard<std::mutex> lock(prefetcher->mutex);
  if (prefetcher->stopping) return;
  // Remembered: a wait at the start page, where there is nothing yet to
  // fetch ahead, still tells a server worth the workers.
  prefetcher->slowSeen = true;
  prefetcher->MayStartWorker();
}

bool Prefetcher::EveryFetchSlow() const {
  auto now = std::chrono::steady_clock::now();
  for (size_t i = 0; i < workers.size(); ++i) {
    if (!fetching[i] || now - fetchBegan[i] <= kSlowFetch) return false;
  }
  return true;
}

bool Prefetcher::CrawlWaitsMostly() const {
  auto ran = std::chrono::steady_clock::now() - began;
  return ran >= kWarmUp && (SocketsWaitedOnThisThread() - waitedBefore) * 2 >= ran;
}

void Prefetcher::MayStartWorker() {
  if (workers.size() == threads.size() || !idleWorkers.empty()) return;
  if (workers.empty() && !slowSeen && !CrawlWaitsMostly()) return;
  if (!tracking) Track();
  if (workers.size() >= cores && !EveryFetchSlow()) return;
  // A first worker begins the request the crawl comes to next, so it is
  // worth its start only when a second can be fetched beside it: where each
  // page's links must be listed before the next is fetched (-once, a chain
  // of pages), it would only make the crawl's own requests for it.
  if (NextToFetch(workers.empty() ? 1 : 0) == nullptr) return;
  // Stops stay with the crawl's thread, whose waits they must cut short;
  // the wake signal reaches the worker (this may run inside a socket wait,
  // which holds it off).
  sigset_t mask, previous;
  pthread_sigmask(SIG_SETMASK, nullptr, &mask);
  sigaddset(&mask, SIGINT);
  sigaddset(&mask, SIGTERM);
  sigdelset(&mask, kSocketWakeSignal);
  pthread_sigmask(SIG_SETMASK, &mask, &previous);
  size_t index = workers.size();
  try {
    workers.emplace_back([this, index] { Work(index); });
  } catch (const std::system_error&) {
    // No thread to be had: the workers there are, and the crawl, make the
    // requests.
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

void Prefetcher::Track() {
  tracking = true;
  // The deepest page, handled now, ends at the front.
  for (PendingLinks& pending : stack()) QueueFront(std::move(pending.page), pending.left);
}

void Prefetcher::QueueFront(Page page, size_t left) {
  if (left == 0 || !plan.LinksRequest(page.depth)) return;
  auto frame = std::make_shared<Frame>();
  frame->left = left;
  frame->page = std::move(page);
  queue.push_front(Item{nullptr, frame});
}

Prefetcher::~Prefetcher() {
  SocketsOnSlowWait(nullptr, nullptr, 0);
  std::unique_lock<std::mutex> lock(mutex);
  stopping = true;
  for (size_t i = 0; i < threads.size(); ++i) wakeUp[i].notify_one();
  // A worker still fetching is woken out of its wait (again and again, in
  // case it was between two calls), so the run ends without waiting for a
  // silent server; one that is idle has already seen `stopping`.
  while (busy > 0) {
    for (size_t i = 0; i < threads.size(); ++i) {
      if (fetching[i]) pthread_kill(threads[i], kSocketWakeSignal);
    }
    fetched.wait_for(lock, std::chrono::milliseconds(10));
  }
  lock.unlock();
  for (std::thread& worker : workers) worker.join();
}

std::string Prefetcher::KeyOf(const Url& url, Purpose purpose) {
  const CStr& text = url.Text();
  std::string key;
  key.reserve(2 + text.Length());
  key += Scans(purpose) ? "p " : "s ";
  key.append(text, text.Length());
  return key;
}

uint64_t Prefetcher::OnceKeyOf(const Url& url, bool save) {
  Fnv1a64 hash;
  hash.Add(save ? "s " : "p ");
  url.HashKeyInto(&hash);
  return hash.Value();
}

bool Prefetcher::ListsLater(const Entry& entry) const {
  if (!Scans(entry.request.purpose) || entry.expanded) return false;
  return plan.LinksRequest(entry.request.depth);
}

bool Prefetcher::NotePredicted(uint64_t onceKey, int depth, bool* deeper) {
  // try_emplace makes no entry for a key listed before (most links are).
  auto listed = predicted.try_emplace(onceKey, depth);
  *deeper = !listed.second && depth > listed.first->second;
  if (*deeper) listed.first->second = depth;
  return listed.second;
}

bool Prefetcher::Allowed(const Url& url) const {
  // The policy may load a host's robots.txt, under the lock: its waits must
  // not call OnSlowWait, which takes the lock.
  SocketsSlowWaitPause pause;
  return allowed(url);
}

void Prefetcher::List(Queue::iterator position, PlannedRequest request, size_t pendingAt) {
  // The crawl passes over a scan the confinement refuses without asking (and
  // asks for a save, to be refused).
  if (Scans(request.purpose) && !Allowed(request.url)) {
    if (!Saves(request.purpose)) return;
    request = {request.url, Purpose::kSave, -1};
  }
  if (!options.once) return Add(position, request, pendingAt, false);
  // Met before: the crawl makes no request, but expands a page again when it
  // has more depth left than before.
  bool ignored, deeper = false;
  bool save = Saves(request.purpose) && NotePredicted(OnceKeyOf(request.url, true), -1, &ignored);
  bool scan = Scans(request.purpose) &&
              NotePredicted(OnceKeyOf(request.url, false), request.depth, &deeper);
  if (save && scan) return Add(position, request, pendingAt, false);
  if (save) Add(position, {request.url, Purpose::kSave, -1}, 0, false);
  if (scan || deeper) Add(position, {request.url, Purpose::kScan, request.depth}, pendingAt, !scan);
}

void Prefetcher::Add(Queue::iterator position, const PlannedRequest& request, size_t pendingAt,
                     bool expandsAgain) {
  std::string key = KeyOf(request.url, request.purpose);
  auto entry = std::make_shared<Entry>();
  entry->request = request;
  entry->pendingAt = pendingAt;
  entry->key = key;
  entry->expandsAgain = expandsAgain;
  entry->at = queue.insert(position, Item{entry, nullptr});
  // A save and scan is known by its scan: a save of the resource met apart
  // leaves the scan to be asked for.
  if (options.once && !expandsAgain) {
    bySpelling[OnceKeyOf(request.url, !Scans(request.purpose))] = entry;
  }
  entry->queued = true;
  byKey[key].push_back(entry);
}

Prefetcher::Queue::iterator Prefetcher::Unfold(Queue::iterator position) {
  Frame& frame = *position->frame;
  const PageLinks& links = *frame.page.links;
  Queue::iterator first = position;
  bool listed = false;
  while (!listed && frame.left > 0) {
    size_t index = --frame.left;
    // The crawl takes links from the back; when it reads the page a link
    // scans, the links of the frame's page it has taken so far no longer
    // wait, those of the pages taken before them have all been handled.
    size_t taken = links.size() - index;
    size_t before = queue.size();
    PlannedRequest request;
    if (plan.Request(frame.page.url, frame.page.depth, links[index], links.Flags(index),
                     &request)) {
      size_t pendingAt = Scans(request.purpose) ? frame.page.pendingAt + links.size() - taken : 0;
      List(position, std::move(request), pendingAt);
    }
    if (queue.size() != before) {
      listed = true;
      first = std::prev(position, static_cast<long>(queue.size() - before));
    }
  }
  if (frame.left == 0) {
    if (std::shared_ptr<Entry> owner = frame.owner.lock()) owner->frameQueued = false;
    Queue::iterator next = queue.erase(position);
    return listed ? first : next;
  }
  return first;
}

void Prefetcher::Unlist(const std::shared_ptr<Entry>& entry) {
  if (entry->queued) {
    queue.erase(entry->at);
    entry->queued = false;
  }
  auto found = byKey.find(entry->key);
  if (found == byKey.end()) return;
  found->second.remove(entry);
  if (found->second.empty()) byKey.erase(found);
}

void Prefetcher::DropFrame(Entry& entry) {
  if (!entry.frameQueued) return;
  queue.erase(entry.frame);
  entry.frameQueued = false;
}

void Prefetcher::Predict(Page page) {
  Call call(*this);
  std::lock_guard<std::mutex> lock(mutex);
  crawlListsNext = false;
  // Untracked, the page is on the crawl's stack, where Track finds it.
  if (tracking) {
    size_t left = page.links->size();
    QueueFront(std::move(page), left);
  }
  WakeIfWork(&call);
}

void Prefetcher::ListsNothing() {
  // Only the crawl's thread, this one, writes crawlListsNext: it reads it
  // without the lock, which a page that never stopped the fetch ahead then
  // costs nothing.
  if (!crawlListsNext) return;
  Call call(*this);
  std::lock_guard<std::mutex> lock(mutex);
  crawlListsNext = false;
  WakeIfWork(&call);
}

void Prefetcher::ScannedLive(const Url& url, int depth) {
  std::lock_guard<std::mutex> lock(mutex);
  if (options.once) predicted.emplace(OnceKeyOf(url, false), depth);
}

void Prefetcher::Forget(const Url& url, bool save, bool expandsAgain) {
  // A page met again and expanded again from its links (-once) lists them
  // before anything behind it.
  bool listsNext = !save && expandsAgain && listsFirst;
  // Untracked, nothing is listed, and no worker reads crawlListsNext: only
  // the crawl's thread, this one, reads `tracking` and writes them both.
  if (!tracking) {
    if (listsNext) crawlListsNext = true;
    return;
  }
  Call call(*this);
  std::lock_guard<std::mutex> lock(mutex);
  if (listsNext) crawlListsNext = true;
  auto found = byKey.find(KeyOf(url, save ? Purpose::kSave : Purpose::kScan));
  if (found == byKey.end()) return;
  std::shared_ptr<Entry> entry = found->second.front();  // outlives its place in the list
  GiveUp(entry);
  WakeIfWork(&call);  // a place in the window is free
}

void Prefetcher::GiveUp(const std::shared_ptr<Entry>& entry) {
  Unlist(entry);
  DropFrame(*entry);
  entry->taken = entry->forgotten = true;
  Release(*entry);
}

void Prefetcher::Release(Entry& entry) {
  if (entry.readQuota != nullptr) entry.readQuota->Give(entry.readLinks);
  entry.readLinks = 0;
  entry.readQuota = nullptr;
  entry.read.reset();
}

void Prefetcher::TakeSpelling(uint64_t onceKey, bool giveUp, const std::shared_ptr<Entry>& entry,
                              int depth) {
  auto spelled = bySpelling.find(onceKey);
  if (giveUp && spelled != bySpelling.end()) {
    std::shared_ptr<Entry> other = spelled->second.lock();
    if (other != nullptr && other != entry && !other->taken) GiveUp(other);
  }
  // With -once what the crawl asks for is asked for once: a prediction of it
  // listed from now on (a worker's page may still name it) is not made.
  bool deeper;
  NotePredicted(onceKey, depth, &deeper);
}

std::shared_ptr<Prefetcher::Entry> Prefetcher::Listed(const Url& url, Purpose purpose, int depth) {
  std::string key = KeyOf(url, purpose);
  // The crawl asks for the first request of the queue: it is listed before
  // it is looked for.
  while (!queue.empty() && queue.front().frame) Unfold(queue.begin());
  if (!queue.empty() && queue.front().entry->key == key &&
      queue.front().entry->request.depth == depth) {
    return queue.front().entry;
  }
  auto found = byKey.find(key);
  if (found == byKey.end()) return nullptr;
  // Without -once a request stands for one place in the crawl: only one at
  // the same depth is that request (one at another depth is made at its own
  // place later). With -once a URL is asked for once, whatever the depth.
  for (const std::shared_ptr<Entry>& candidate : found->second) {
    if (candidate->request.depth == depth || options.once) return candidate;
  }
  return nullptr;
}

Prefetcher::Fetched Prefetcher::Take(const Url& url, Purpose purpose, int depth) {
  Call call(*this);
  std::unique_lock<std::mutex> lock(mutex);
  // Untracked, nothing is listed.
  std::shared_ptr<Entry> entry = tracking ? Listed(url, purpose, depth) : nullptr;
  if (options.once) {
    // The crawl met this resource by another spelling than the one predicted:
    // that prediction is given up, unfetched if it still can be. A save the
    // crawl makes from a scan's answer gives up one predicted apart.
    if (Scans(purpose)) TakeSpelling(OnceKeyOf(url, false), entry == nullptr, entry, depth);
    if (Saves(purpose)) {
      TakeSpelling(OnceKeyOf(url, true), entry == nullptr || Scans(purpose), entry, -1);
    }
  }
  // A page taken stops the fetch ahead behind it until its links are listed
  // (a page at a depth whose links are not followed lists none).
  if (Scans(purpose) && plan.LinksRequest(depth)) crawlListsNext = listsFirst;
  if (entry == nullptr) {
    WakeIfWork(&call);
    return Fetched();
  }
  Unlist(entry);
  entry->taken = true;
  // One no worker has begun is the crawl's to make, at once: handing it to a
  // worker would only add the wait for one to wake.
  if (entry->state == Entry::State::kWaiting) {
    WakeIfWork(&call);
    return Fetched();
  }
  if (entry->state != Entry::State::kDone) {
    awaited = entry;
    while (!AwaitedReady() && StopReason() == 0) {
      // While more workers may start, the wait looks again soon: a fetch
      // that takes long calls for more of them.
      bool more = workers.size() < threads.size();
      fetched.wait_for(lock, more ? kSlowFetch : std::chrono::milliseconds(100));
      MayStartWorker();
    }
    awaited.reset();
  }
  if (entry->state != Entry::State::kDone) return Fetched();
  // A body to be saved is read whole: a recording that stops short of it (a
  // scan's answer that was no page) is no replay of it.
  if (Saves(purpose) && !entry->whole) {
    Release(*entry);
    DropFrame(*entry);
    WakeIfWork(&call);
    return Fetched();
  }
  Fetched taken;
  taken.read = std::move(entry->read);
  Release(*entry);
  taken.recordings = std::move(entry->recordings);
  taken.expanded = entry->expanded && entry->request.depth == depth;
  if (!taken.expanded) DropFrame(*entry);
  if (Scans(purpose) && taken.expanded) crawlListsNext = false;
  // The window has moved, memory may be free (the recordings the crawl
  // replayed before are gone).
  WakeIfWork(&call);
  return taken;
}

std::shared_ptr<Prefetcher::Entry> Prefetcher::NextToFetch(size_t passing) {
  if (crawlListsNext) return nullptr;
  // Half the memory is left for the recordings in flight to grow into.
  if (memory->Held() >= kWindowBytes / 2) return nullptr;
  size_t seen = 0;
  // With -maxpages: the page requests the crawl has left, less those that
  // stand ahead in the queue (each scan the crawl will make, in its order).
  long pagesLeft = pageLimit != nullptr ? options.maxPages - pageLimit->PagesTaken() : 0;
  for (auto at = queue.begin(); at != queue.end() && seen < kWindow;) {
    if (at->frame) {
      at = Unfold(at);
      continue;
    }
    ++seen;
    const Entry& entry = *at->entry;
    if (pageLimit != nullptr && Scans(entry.request.purpose) && !entry.expandsAgain &&
        --pagesLeft < 0) {
      return nullptr;
    }
    if (entry.state == Entry::State::kWaiting && !entry.expandsAgain && passing-- == 0) {
      return at->entry;
    }
    // With -once, nothing behind a page whose links are not listed yet is
    // fetched ahead: they may name a resource by a spelling the crawl meets
    // before the one listed, and it asks for that one. With -maxpages, how
    // many pages stand ahead of what is behind it is not known yet.
    if (listsFirst && ListsLater(entry)) return nullptr;
    ++at;
  }
  return nullptr;
}

std::shared_ptr<const Recordings> Prefetcher::FetchAhead(const Entry& entry, PageReader& reader,
                                                        std::shared_ptr<const PageReadAhead>* read,
                                                        bool* whole) {
  auto recordings = std::make_shared<Recordings>();
  const PlannedRequest& request = entry.request;
  // With -once the crawl follows a redirect only to a URL not met before,
  // which the fetch ahead cannot know: it stops at the first answer, and the
  // crawl makes any further hop itself.
  bool first = true;
  FetchPolicy policy = [this, &first](const Url& url) {
    bool follow = allowed(url) && (first || !options.once);
    first = false;
    return follow;
  };
  ExchangeRecorder recorder{recordings.get(), kMaxRecording, memory, !options.warc.empty()};
  FetchOutcome outcome = Fetch(request.url, policy, connect, &recorder, pool);
  // The body is recorded to its end when the crawl will read it: to save it,
  // to scan a page, whose links tell what comes next, or whatever it is when
  // the crawl reads every answer whole.
  *whole = !outcome.body || Saves(request.purpose) || outcome.html || options.ReadsWhole();
  if (outcome.body && *whole) {
    if (Scans(request.purpose) && request.depth >= 0 && outcome.html) {
      *read = ReadAhead(entry, outcome, *recordings, reader, whole);
    }
    outcome.body->ReadToEnd();
  }
  outcome.body.reset();
  return recordings;
}

std::shared_ptr<const PageReadAhead> Prefetcher::ReadAhead(const Entry& entry,
                                                           FetchOutcome& outcome,
                                                           const Recordings& recordings,
                                                           PageReader& reader, bool* whole) {
  const size_t limit = RoomAt(entry.pendingAt);
  // A body that follows its head (not one at the stream's end already) and
  // whose reading is sure of room for every link it may keep.
  const bool unrecorded = scanOnly && limit == kMaxLinksPerPage && !outcome.body->Stream().eof() &&
                          unrecordedLinks.Take(limit);
  if (unrecorded) {
    outcome.body->LeaveBodyOut();
    *whole = false;
  }
  auto ahead = std::make_shared<PageReadAhead>();
  PageReader::Page page = reader.Read(
      *outcome.body, outcome.url, limit, !options.keyword.IsEmpty(),
      [&ahead](size_t n) { ahead->bytesRead += n; }, unrecorded ? nullptr : &aheadLinks);
  ahead->arrivedWhole = outcome.body->Complete(&ahead->failure);
  if (unrecorded) {
    unrecordedLinks.Give(limit - page.links.size());
  } else {
    bool replayable = true;  // else the crawl asks again and reads what comes
    for (const RecordedExchange& record : recordings) replayable = replayable && record.usable;
    if (!page.quotaMet || !ahead->arrivedWhole || !replayable) {
      aheadLinks.Give(page.links.size());
      return nullptr;
    }
  }
  ahead->bodyRecorded = !unrecorded;
  ahead->linkLimit = limit;
  ahead->keywordFound = page.keywordFound;
  ahead->shown = std::move(page.shown);
  ahead->linksCut = page.linksCut;
  ahead->patternFailures = std::move(page.patternFailures);
  ahead->page.url = outcome.url;
  ahead->page.depth = entry.request.depth;
  ahead->page.pendingAt = entry.pendingAt;
  ahead->page.links = std::make_shared<const PageLinks>(std::move(page.links));
  return ahead;
}

void Prefetcher::Work(size_t index) {
  SocketsOnSlowWait(OnSlowWait, this, static_cast<int>(kSlowFetch.count()));
  std::unique_lock<std::mutex> lock(mutex);
  threads[index] = pthread_self();
  PageReader reader(options.keyword, options.filespec, options.html, options.text, hosts,
                    options.LinesShown());
  for (;;) {
    if (stopping) return;
    std::shared_ptr<Entry> entry = NextToFetch();
    if (entry == nullptr) {
      idleWorkers.push_back(index);
      wakeUp[index].wait(lock, [&] { return stopping || called[index]; });
      called[index] = false;
      continue;
    }
    entry->state = Entry::State::kFetching;
    fetching[index] = true;
    fetchBegan[index] = std::chrono::steady_clock::now();
    ++busy;
    {
      Call call(*this);
      WakeIfWork(&call);  // the baton: another idle worker fetches what is left
      lock.unlock();
    }

    std::shared_ptr<const PageReadAhead> read;
    bool whole = false;
    std::shared_ptr<const Recordings> recordings = FetchAhead(*entry, reader, &read, &whole);

    lock.lock();
    fetching[index] = false;
    --busy;
    entry->recordings = std::move(recordings);
    entry->whole = whole;
    entry->state = Entry::State::kDone;
    // A reading holds its links against the bound (one that found no room
    // is not made: the crawl reads the page again and tells its links).
    if (read && !entry->forgotten) {
      entry->read = std::move(read);
      entry->readLinks = entry->read->page.links->size();
      entry->readQuota = LinksOf(*entry->read);
    } else if (read) {
      LinksOf(*read)->Give(read->page.links->size());
    }
    // What the page's links ask for stands right behind it while it waits
    // to be taken, first of all once the crawl has it (a save of the page,
    // when its keyword matched, is made from the page's own answer).
    if (entry->read && !options.filespec.IsEmpty()) {
      const PageReadAhead& kept = *entry->read;
      Queue::iterator behind = entry->queued ? std::next(entry->at) : queue.begin();
      if (plan.LinksRequest(kept.page.depth)) {
        auto frame = std::make_shared<Frame>();
        frame->left = kept.page.links->size();
        frame->owner = entry;
        frame->page = kept.page;
        entry->frame = queue.insert(behind, Item{nullptr, frame});
        entry->frameQueued = true;
      }
      entry->expanded = true;
    }
    // The crawl waits only for what it took; shutdown polls. It is woken
    // once the lock is free for it.
    if (awaited != nullptr && AwaitedReady()) {
      lock.unlock();
      fetched.notify_all();
      lock.lock();
    }
  }
}

bool Prefetcher::AwaitedReady() {
  if (awaited->state != Entry::State::kDone) return false;
  size_t seen = 0;
  for (auto at = queue.begin(); at != queue.end() && seen < kAwaitedRun;) {
    if (at->frame) {
      at = Unfold(at);
      continue;
    }
    if (at->entry->state == Entry::State::kFetching) return false;
    ++seen;
    ++at;
  }
  return true;
}

SharedBudget* Prefetcher::LinksOf(const PageReadAhead& read) {
  return read.bodyRecorded ? &aheadLinks : &unrecordedLinks;
}

void Prefetcher::WakeIfWork(Call* call) {
  if (call->worker != Call::kNobody) return;
  if (idleWorkers.empty()) return MayStartWorker();
  if (NextToFetch() == nullptr) return;
  size_t index = idleWorkers.back();
  idleWorkers.pop_back();
  called[index] = true;
  call->worker = index;
}

Prefetcher::Call::~Call() {
  if (worker != kNobody) prefetcher.wakeUp[worker].notify_one();
}
