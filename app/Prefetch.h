// Prefetcher: fetches ahead, on worker threads, the requests the depth-first
// crawl will make next, so that -j N keeps up to N requests in flight while
// the crawl itself still runs on one thread, in its own order.
//
// What is fetched ahead comes from the crawl's own plan (CrawlPlan), applied
// to the crawl's own pages and, below them, to pages the workers fetched
// ahead and read with the same reader and the same link limits the crawl
// will use, so a worker only asks for what the crawl will ask for: without
// -once the same requests, with -once the same URLs. The crawl later takes
// the recording of each request (Take) and replays it through the HTTP code
// (net/RecordedExchange.h): every line printed, every counter and every file
// saved come from the crawl's own thread, in the order -j 1 gives. A worker
// only records; it never prints, counts or saves. A request no worker has
// begun when the crawl comes to it, the crawl makes itself.
//
// The predictions are kept lazily: a page's links stand in the queue as one
// frame that yields its requests as the window reaches them, in the crawl's
// order (the last link first), so the queue never holds a request per link.
// A page fetched ahead becomes such a frame right behind its own request.
// Nothing is predicted until the first worker may start: till then the
// crawl makes every request itself and the queue is empty, so a crawl that
// never calls for workers plans each link once, as -j 1 does. The queue is
// then made from the crawl's stack as it stands (CrawlStack), and follows
// the crawl from there.
//
// Bounded, whatever the site: workers fetch only among the first kWindow
// requests of the queue, and start none while the recordings (in flight,
// held, replayed) hold half of kWindowBytes (the rest is room for those in
// flight to grow); the recordings keep at most kWindowBytes in memory between
// them and kMaxRecording each, the rest of an answer in an unnamed temporary
// file; the readings of pages fetched ahead keep at most kMaxAheadLinks links
// between them (past that a page's reading is dropped: the crawl reads the
// page again and tells its links itself; once taken, a page's links are the
// crawl's own, bounded as without -j). Finding a request the crawl takes
// costs a hash lookup.
//
// A page is read once: the crawl takes the reading a worker made of it (the
// links, whether the keyword matched, the lines -show keeps) when it was made
// with the crawl's reader and link limit, from the exchanges the crawl
// replays.
//
// A URL the crawl both saves and scans is one request, whose recording holds
// the whole body, whatever its type: the crawl saves it from the one replay
// it scans (a page saved because its keyword matched asks for nothing more).
// With -once, a URL is fetched ahead once for scanning and once for saving
// (once for both when the crawl will ask for both at once), and a fetch ahead
// stops at the first answer of a redirect chain (the crawl follows a redirect
// only to a URL not met before, which it alone knows).
//
// An idle worker is woken one at a time, the last to go idle first, and
// only when there is a request for it: each that begins one wakes the next
// if another is open, so a change of the queue costs no more wake-ups than
// it opens requests. Worker threads start as requests find none idle. The
// first starts only when the crawl waits for its servers: once a request
// has been slow to come back (kSlowFetch), or once the crawl, kWarmUp or
// more into its run, has spent half of it waiting for them. A worker costs
// a millisecond or two of CPU to start (its thread, its connection, its
// reader's first allocations), and then, on another core, part of the work
// of every page it hands over (planning its links a second time, its
// reading fetched from that core's cache, the wake-ups). A crawl that keeps
// its core busy, of a fast server on the machine or next to it, gains
// little for that (770 pages from nginx on this machine: 17 % less time for
// 12-15 % more CPU), and a short one nothing (15 pages in 25 ms: as long).
// Then up to one per core start, which a server that answers at once keeps
// busy, and more, up to the count asked for, only while every worker's
// fetch is slow to come back: then the workers wait for their servers, not
// for a core, and more requests in flight are what speeds the crawl. One
// slow fetch among busy workers (a server, or the machine, that stalls one
// request) starts none. So a crawl of a fast server, or one with few
// requests open, starts few. The crawl is woken only by the end of a
// request it waits for.
//
// Workers are joined, never detached: destruction wakes them, interrupts a
// wait on a silent server once the run is stopping, and joins them.
// Thread-safe; the crawl's thread calls Predict, Take and Forget.
#ifndef FERRET_APP_PREFETCH_H_
#define FERRET_APP_PREFETCH_H_

#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "app/CrawlPlan.h"
#include "app/CrawlScope.h"
#include "app/Options.h"
#include "app/PageReader.h"
#include "app/ShownLine.h"
#include "net/Failure.h"
#include "net/HttpRequest.h"
#include "net/RecordedExchange.h"
#include "text/CStr.h"

// A page whose links the crawl handles: what the plan reads them from.
struct PlannedPage {
  Url url;               // the URL that answered
  int depth = 0;         // the depth it was scanned at
  size_t pendingAt = 0;  // links waiting in the crawl when it was read
  std::shared_ptr<const PageLinks> links;  // as the crawl keeps them
};

// A page a worker read, with the crawl's reader and, at most, linkLimit
// links (the crawl's limit for the links waiting at pendingAt): the crawl
// takes what it found instead of reading the page again. A reading whose
// body is in its recording arrived whole; one whose body was left out (the
// crawl cannot read that body) is kept whatever came, and says how the body
// ended, as the crawl's own reading would have found.
struct PageReadAhead {
  PlannedPage page;
  size_t linkLimit = 0;
  bool keywordFound = false;
  std::vector<ShownLine> shown;  // with -show
  bool linksCut = false;
  size_t bytesRead = 0;  // as the reader told them
  bool bodyRecorded = true;
  bool arrivedWhole = true;
  Failure failure;  // why the body did not arrive whole, when it did not
  std::vector<PageReader::Page::PatternFailure> patternFailures;
};

// A page on the crawl's stack whose links it is still handling: the first
// `left` of page.links are still to come, taken from the back.
struct PendingLinks {
  PlannedPage page;
  size_t left = 0;
};
// Tells the crawl's stack of such pages, the one handled now last.
using CrawlStack = std::function<std::vector<PendingLinks>()>;

// What Prefetcher::Take hands back.
struct FetchedAhead {
  std::shared_ptr<const Recordings> recordings;  // null: make the request live
  bool expanded = false;  // the page's links were read ahead at the depth asked for
  std::shared_ptr<const PageReadAhead> read;  // the page as read ahead, if it was
};

class Prefetcher {
 public:
  static constexpr size_t kWindow = 64;
  static constexpr size_t kWindowBytes = 4u << 20;
  static constexpr size_t kMaxRecording = 1u << 20;
  static constexpr size_t kMaxAheadLinks = 2 * kMaxLinksPerPage;
  static constexpr size_t kMaxUnrecordedLinks = 8 * kMaxLinksPerPage;
  static constexpr size_t kAwaitedRun = 2;
  static constexpr std::chrono::milliseconds kSlowFetch{5};
  static constexpr std::chrono::milliseconds kWarmUp{50};

  using Page = PlannedPage;
  using Fetched = FetchedAhead;

  // Fetches on up to workers threads through connect (the crawl's; the
  // workers call it at the same time) under allowed (the run's confinement,
  // which hosts says of host names), reading pages as options say and
  // predicting from plan, beginning with what stack tells of the crawl's
  // pages once the first worker may start, over connections kept in pool
  // (when given), and with -maxpages asking for no page past the limit,
  // whose pages taken so far pageLimit counts; all of them must outlive the
  // fetcher. stack is called at most once, on the crawl's thread: from
  // within one of its calls here or from one of its socket waits.
  Prefetcher(int workers, Connector connect, FetchPolicy allowed, HostPolicy hosts,
             const Options& options, const CrawlPlan& plan, CrawlStack stack,
             ConnectionPool* pool = nullptr, const CrawlScope* pageLimit = nullptr);
  ~Prefetcher();
  Prefetcher(const Prefetcher&) = delete;
  Prefetcher& operator=(const Prefetcher&) = delete;

  // The crawl handles page's links next, before anything predicted earlier
  // (for a page whose links were not read ahead).
  void Predict(Page page);

  // The page the crawl took or gave up last lists no links after all (its
  // request failed or was refused, or it was met before and is not expanded
  // again): what stands behind it may be fetched ahead again.
  void ListsNothing();

  // With -once: url is scanned by the crawl itself at depth (the start URL),
  // so it is not to be fetched ahead for a scan.
  void ScannedLive(const Url& url, int depth);

  // The recordings of the request for url (for purpose, a scan at depth)
  // once a worker has made it. No recordings, for the crawl to make the
  // request itself, when no worker began it (it was not predicted, or not
  // started yet), when a save is to read a body the worker did not record
  // whole, or when the run is stopping. The prediction is used up.
  Fetched Take(const Url& url, Purpose purpose, int depth);
  // The crawl will not make the predicted request after all (with -once, the
  // URL was met or saved before): it is dropped, unfetched if it still can be.
  // For a scan, expandsAgain says that the crawl expands the page again from
  // the links it remembers, and tells them next (Predict).
  void Forget(const Url& url, bool save, bool expandsAgain = false);

 private:
  struct Entry;
  struct Frame;
  // One element of the queue, in the crawl's order: a request, or a frame
  // standing for the requests of a page's links not yet listed.
  struct Item {
    std::shared_ptr<Entry> entry;
    std::shared_ptr<Frame> frame;
  };
  using Queue = std::list<Item>;
  struct Frame {
    Page page;
    size_t left = 0;         // links not yet turned into requests, taken from the back
    std::weak_ptr<Entry> owner;  // the request that read it ahead, if any
  };
  struct Entry {
    PlannedRequest request;
    size_t pendingAt = 0;  // for a scan: links waiting in the crawl when it reads the page
    std::string key;       // KeyOf, for Take
    enum class State { kWaiting, kFetching, kDone } state = State::kWaiting;
    std::shared_ptr<const Recordings> recordings;
    bool whole = false;  // once done: the body, if one came, was recorded to its end
    std::shared_ptr<const PageReadAhead> read;  // its page as read, until taken
    size_t readLinks = 0;                       // read's links, taken from readQuota
    SharedBudget* readQuota = nullptr;          // aheadLinks or unrecordedLinks
    bool queued = false;   // at `at` in the queue
    Queue::iterator at;
    bool taken = false;    // the crawl took it (or gave it up)
    bool forgotten = false;  // given up by the crawl
    bool expanded = false; // its links stand in the queue right behind it
    Queue::iterator frame; // with expanded, while the frame is queued
    bool frameQueued = false;
    // With -once: a page met again with more depth left, which the crawl
    // expands again from its links without a request; never fetched ahead
    // unless the crawl asks for it after all.
    bool expandsAgain = false;
  };

  void Work(size_t index);
  // Fetches and records entry's request; for a page to scan, *read is set
  // when the page was read (ReadAhead); *whole says whether a body that came
  // was recorded to its end.
  std::shared_ptr<const Recordings> FetchAhead(const Entry& entry, PageReader& reader,
                                               std::shared_ptr<const PageReadAhead>* read,
                                               bool* whole);
  // Reads the page of entry's scan from outcome's body, the answer recorded
  // last in recordings, as the crawl will read it. Where the crawl would read
  // that body for nothing but the scan (no save, one try) and room for a
  // page's most links is held for it in unrecordedLinks, the body is left
  // out of its recording (*whole false) and the reading kept whatever it
  // finds. Otherwise the reading draws on aheadLinks and is kept (non-null)
  // only when its links found room and the body arrived whole and
  // replayable: else the crawl reads the replay itself.
  std::shared_ptr<const PageReadAhead> ReadAhead(const Entry& entry, FetchOutcome& outcome,
                                                 const Recordings& recordings, PageReader& reader,
                                                 bool* whole);
  // The entry listed for the crawl's request of url for purpose at depth,
  // or null. Holds mutex.
  std::shared_ptr<Entry> Listed(const Url& url, Purpose purpose, int depth);
  // The next entry for a worker, or null; it stays next until a worker
  // begins it. With passing, the one that many further on (whether there
  // is more than one to fetch). Holds mutex.
  std::shared_ptr<Entry> NextToFetch(size_t passing = 0);
  // An idle worker called to a request, woken when the call goes: made
  // before the lock is taken, so that it wakes the worker once the lock is
  // free for it (a worker woken under the lock would only wait for it).
  struct Call {
    static constexpr size_t kNobody = ~size_t{0};
    explicit Call(Prefetcher& prefetcher) : prefetcher(prefetcher) {}
    ~Call();
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;
    Prefetcher& prefetcher;
    size_t worker = kNobody;
  };
  // Calls one idle worker (into *call, which holds at most one) when there
  // is a request for it to make: a change of the queue costs no wake-up that
  // finds nothing to do. With none idle, it may start one (MayStartWorker).
  // Holds mutex.
  void WakeIfWork(Call* call);
  // Starts one more worker when there is a request for it, none is idle and
  // fewer than asked for run: the first once any socket wait has lasted
  // kSlowFetch (slowSeen) or the crawl waits mostly (CrawlWaitsMostly),
  // which is also when the queue is first made (Track);
  // up to one per core at once, and past that only while every worker's
  // fetch has taken longer than kSlowFetch: servers that make all the
  // workers wait, not their own work, are what more of them help with.
  // Holds mutex (the worker begins by taking it).
  void MayStartWorker();
  // A socket wait of the crawl's or a worker's thread has lasted
  // kSlowFetch (SocketsOnSlowWait): the warm-up is over, more workers may
  // start. Takes mutex.
  static void OnSlowWait(void* context);
  // Whether the crawl, kWarmUp or more since the fetcher began, has spent at
  // least half that time waiting for its servers (SocketsWaitedOnThisThread).
  // Called on the crawl's thread, which made the fetcher: while no worker
  // runs, no other thread calls MayStartWorker.
  bool CrawlWaitsMostly() const;
  // Makes the queue from the crawl's stack as it stands and keeps it from
  // then on. Called while no worker runs, so on the crawl's thread (through
  // MayStartWorker). Holds mutex.
  void Track();
  // Lists the first `left` links of page, as a frame at the front of the
  // queue, when links at its depth are followed. Holds mutex.
  void QueueFront(Page page, size_t left);
  // Whether every worker is fetching, and has been for longer than
  // kSlowFetch. Holds mutex.
  bool EveryFetchSlow() const;
  // Turns the next link of the frame at position into its requests, listed
  // before it; drops the frame once it has no links left. Holds mutex.
  Queue::iterator Unfold(Queue::iterator position);
  // entry's page lists requests the window has not seen yet: with -once,
  // which spelling of a resource the crawl asks for first depends on them;
  // with -maxpages, how many pages stand before what is behind it.
  bool ListsLater(const Entry& entry) const;
  // With -once: records that the crawl asks for the resource of onceKey at
  // depth. False when it was asked for before; *deeper then says whether
  // depth is more than any before (the page is expanded again).
  bool NotePredicted(uint64_t onceKey, int depth, bool* deeper);
  // allowed(url), under the lock. Holds mutex.
  bool Allowed(const Url& url) const;
  // Lists request before position, as far as -once did not predict it before
  // (of a save and scan, what is left of it).
  void List(Queue::iterator position, PlannedRequest request, size_t pendingAt);
  // Lists one entry for request before position.
  void Add(Queue::iterator position, const PlannedRequest& request, size_t pendingAt,
           bool expandsAgain);
  // With -once, for Take: the crawl asks for the resource of onceKey at
  // depth (noted), and, with giveUp, a prediction of it listed by another
  // spelling (not entry) is given up. Holds mutex.
  void TakeSpelling(uint64_t onceKey, bool giveUp, const std::shared_ptr<Entry>& entry, int depth);
  // Whether the crawl, waiting for the request awaited, is to go on: that
  // request is done, and none of the next kAwaitedRun of the queue is being
  // fetched (a crawl that has to wait waits for those too, so that requests
  // done one after another cost it one wake-up). Holds mutex.
  bool AwaitedReady();
  // What read's links are drawn from.
  SharedBudget* LinksOf(const PageReadAhead& read);
  // Removes entry from the queue and from the keys. Holds mutex.
  void Unlist(const std::shared_ptr<Entry>& entry);
  // The crawl will not take entry: it leaves the queue, its frame and its
  // bytes with it; a worker fetching it finishes without listing more.
  // Holds mutex.
  void GiveUp(const std::shared_ptr<Entry>& entry);
  // What a done entry holds for the crawl leaves the bounds: its reading's
  // links (its recordings' memory goes with them). Holds mutex.
  void Release(Entry& entry);
  // Drops entry's frame from the queue, if it is there. Holds mutex.
  void DropFrame(Entry& entry);
  // A request's key: whether it scans (a save and scan is a scan) and the
  // URL as written (a replay asks for the same bytes).
  static std::string KeyOf(const Url& url, Purpose purpose);
  // With -once, what tells URLs met before: a hash of whether it is a save's
  // or a scan's, and of Url::Key. Two keys that share a hash (about one
  // chance in 10^9 among 10^5 URLs) only cost a fetch ahead: the crawl makes
  // a request not predicted, and drops one it does not make, itself.
  static uint64_t OnceKeyOf(const Url& url, bool save);

  const Connector connect;
  const FetchPolicy allowed;
  const HostPolicy hosts;
  const Options& options;
  const CrawlPlan& plan;
  const CrawlStack stack;
  ConnectionPool* const pool;  // not owned; may be null
  const CrawlScope* const pageLimit;  // not owned; null: no -maxpages
  const unsigned cores;               // workers that may start at once
  // Nothing behind a page the crawl took is fetched ahead until its links
  // are listed (-once, -maxpages): what comes next depends on them.
  const bool listsFirst;
  // Nothing the crawl does reads a page's body but its scan: no save
  // (-download) and no -tries to read every try whole.
  const bool scanOnly;
  // What the recordings in memory draw on, those in flight and those the
  // crawl replays included.
  const std::shared_ptr<SharedBudget> memory;
  const std::chrono::steady_clock::time_point began;  // for kWarmUp
  const std::chrono::nanoseconds waitedBefore;        // the crawl's socket waits by then
  std::mutex mutex;
  // By worker: where it waits for a request to make, and whether it was
  // called to one.
  std::unique_ptr<std::condition_variable[]> wakeUp;
  std::vector<char> called;
  // Workers waiting, the last to go idle last: it is called first, so that
  // when few requests are open the same few threads (their caches warm)
  // make them.
  std::vector<size_t> idleWorkers;
  std::condition_variable fetched;    // the crawl and shutdown wait here for a worker
  std::shared_ptr<Entry> awaited;     // the request the crawl waits for, while it does
  Queue queue;                                   // the crawl's order
  std::unordered_map<std::string, std::list<std::shared_ptr<Entry>>> byKey;
  // With -once: each OnceKeyOf listed before, with the most depth listed.
  std::unordered_map<uint64_t, int> predicted;
  // With -once: the entry listed for each OnceKeyOf.
  std::unordered_map<uint64_t, std::weak_ptr<Entry>> bySpelling;
  // Links of readings in progress and kept, not yet taken: of those whose
  // body is recorded, and of those whose body was left out (each holding a
  // page's most links while it reads, what it kept once read).
  SharedBudget aheadLinks{kMaxAheadLinks};
  SharedBudget unrecordedLinks{kMaxUnrecordedLinks};
  // With -once: the crawl took or gave up a page whose links it will tell
  // (Predict) before anything behind it is fetched ahead. Written by the
  // crawl's thread alone, under the lock.
  bool crawlListsNext = false;
  // The queue follows the crawl (Predict, Take and Forget list and unlist
  // in it). Before, the crawl makes every request itself and the queue is
  // empty: a crawl that never calls for workers plans its links once, as
  // -j 1 does. Written once, by the crawl's thread (Track), which alone
  // reads it.
  bool tracking = false;
  bool stopping = false;
  bool slowSeen = false;                         // a socket wait has lasted kSlowFetch
  size_t busy = 0;                               // workers fetching now
  std::vector<char> fetching;                    // by worker: fetching now
  std::vector<std::chrono::steady_clock::time_point> fetchBegan;  // by worker: when it began
  std::vector<pthread_t> threads;
  std::vector<std::thread> workers;
};

#endif  // FERRET_APP_PREFETCH_H_
