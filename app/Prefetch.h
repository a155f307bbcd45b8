// Prefetcher: fetches ahead, on worker threads, the pages the depth-first
// crawl will ask for next, so that -j N keeps N requests in flight while the
// crawl itself still runs on one thread, in its own order.
//
// The crawl tells what it will ask for (Predict, most urgent first) and later
// takes the recordings of each fetch (Take) and replays them through the
// HTTP code (net/RecordedExchange.h): every line printed, every counter and
// every file saved come from the crawl's own thread, in the order -j 1 gives,
// however the fetches ahead arrive. A worker only records; it never prints,
// counts or saves. A worker that fetched a page to be scanned also reads its
// links (through the crawl's expander, which has no side effects) and
// predicts what the scan will ask for next, right behind the page, so that
// the fetches ahead reach more than one level below the crawl.
//
// With -once, a URL is predicted (so fetched ahead) once for scanning and
// once for saving.
//
// Bounded: workers fetch only within the first kWindowPages predictions, and
// stop while the recordings held reach kWindowBytes; one recording is cut at
// kMaxRecording bytes (a large file is then fetched live, streaming to disk).
//
// Thread-safe; the crawl's thread calls Predict and Take.
#ifndef FERRET_APP_PREFETCH_H_
#define FERRET_APP_PREFETCH_H_

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "app/CrawlPlan.h"
#include "app/PageReader.h"
#include "app/Options.h"
#include "net/HttpRequest.h"
#include "net/RecordedExchange.h"
#include "text/CStr.h"

class Prefetcher {
 public:
  static constexpr size_t kWindowPages = 64;
  static constexpr size_t kWindowBytes = 64u << 20;
  static constexpr size_t kMaxRecording = 4u << 20;

  using Need = PlannedRequest;

  // What Take hands back.
  struct Fetched {
    std::unique_ptr<Recordings> recordings;  // null: make the request live
    bool expanded = false;                   // what the page's scan asks for next is predicted
  };

  // Starts workers threads fetching under allowed (the run's confinement),
  // reading pages as options say and predicting from plan; both must outlive
  // the fetcher.
  // They make every request of the crawl but the rare one it makes itself (a
  // redirect it follows with -once, an answer too large to record), so about
  // workers requests are in flight at a time.
  Prefetcher(int workers, FetchPolicy allowed, const Options& options, const CrawlPlan& plan,
             bool once);
  // Stops the workers; joins them unless the run is being stopped by a signal.
  ~Prefetcher();
  Prefetcher(const Prefetcher&) = delete;
  Prefetcher& operator=(const Prefetcher&) = delete;

  // The crawl will make these requests next, in this order, before anything
  // predicted earlier.
  void Predict(const std::vector<Need>& upcoming);

  // With -once: url is scanned by the crawl itself (the start URL), so it is
  // not to be fetched ahead for a scan.
  void ScannedLive(const Url& url);

  // The recordings of the first (most urgent) prediction of url for the same
  // purpose (saving or scanning), once a
  // worker has fetched it; one not predicted (or not started yet) is fetched
  // first of all, as a request to save when save is set. No recordings when
  // the run is stopping. The prediction is used up.
  Fetched Take(const Url& url, bool save);
  // The first prediction of a scan of url is not needed after all (with
  // -once, the crawl met the URL before): it is dropped, unfetched if it still can be.
  void Forget(const Url& url);

 private:
  struct Entry {
    Need need;
    enum class State { kWaiting, kFetching, kDone } state = State::kWaiting;
    std::unique_ptr<Recordings> recordings;
    size_t bytes = 0;
    bool dropped = false;   // given up by Take while a worker fetched it
    bool urgent = false;    // the crawl waits for it: fetched whatever the window
    bool expanded = false;  // its scan's needs were predicted by a worker
  };
  using EntryList = std::deque<std::shared_ptr<Entry>>;

  void Work();
  // Fetches and records entry's request; returns what its scan asks for.
  std::vector<Need> FetchAhead(Entry& entry, PageReader& reader,
                               std::unique_ptr<Recordings>* recordings);
  // The first waiting entry within the window, or null. Holds mutex.
  std::shared_ptr<Entry> NextToFetch();
  // Puts upcoming in needs at position (most urgent first), leaving out with
  // -once what was predicted before. Holds mutex.
  void Insert(EntryList::iterator position, const std::vector<Need>& upcoming);
  // With -once, true when the scan of url was not predicted before (and now
  // is). Holds mutex.
  bool FirstScan(const Url& url) { return predictedScans.insert(url.Key()).second; }

  const FetchPolicy allowed;
  const Options& options;
  const CrawlPlan& plan;
  const bool once;
  std::mutex mutex;
  std::condition_variable changed;
  EntryList needs;                                                 // most urgent first
  std::unordered_set<std::string> predictedScans, predictedSaves;  // with once
  size_t bytesHeld = 0;                                            // of done entries in needs
  bool stopping = false;
  std::vector<std::thread> workers;
};

#endif  // FERRET_APP_PREFETCH_H_
