#include "app/Request.h"

#include <chrono>
#include <ctime>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>

#include "app/Archive.h"
#include "app/Confine.h"
#include "app/CrawlScope.h"
#include "app/Prefetch.h"
#include "app/RobotsGate.h"
#include "app/Shard.h"
#include "app/Stop.h"
#include "net/RecordedExchange.h"
#include "net/RetryPolicy.h"

namespace {

// The redirect hops of one fetch that its own recordings do not hold (with
// -once a fetch ahead stops at the first answer): each is a request of its
// own for the fetcher ahead, which may have made it already, and the
// recordings of a hop taken so are replayed for the hops after it too, as
// far as they follow the fetch. What else the fetcher ahead did for a hop
// it replays goes to *ahead (when given), as for the request's first
// exchange: its page, when it answers, may have been read ahead, its body
// left out of the recording.
class Hops {
 public:
  Hops(CrawlContext& crawl, Purpose purpose, int depth, FetchedAhead* ahead)
      : crawl(crawl), purpose(purpose), depth(depth), ahead(ahead) {}

  bool Connect(SocketStreamBuf& connection, const Url& url, Failure* failure) {
    if (!following) return Take(connection, url, failure);
    Connector replay = following;  // lives through the call, which may replace it
    return replay(connection, url, failure);
  }

 private:
  bool Take(SocketStreamBuf& connection, const Url& url, Failure* failure) {
    following = nullptr;
    FetchedAhead fetched = crawl.prefetcher->Take(url, purpose, depth);
    // Only a recording of this very hop is replayed; anything else (none, or
    // one that could not be kept whole) is asked for for real.
    const Recordings* recorded = fetched.recordings.get();
    if (recorded == nullptr || recorded->empty() || !recorded->front().usable ||
        !(recorded->front().url == url.Text())) {
      return crawl.connector(connection, url, failure);
    }
    following = ReplayConnector(
        std::move(fetched.recordings),
        [this](SocketStreamBuf& c, const Url& u, Failure* f) { return Take(c, u, f); });
    if (ahead != nullptr) *ahead = std::move(fetched);
    return Connect(connection, url, failure);
  }

  CrawlContext& crawl;
  const Purpose purpose;
  const int depth;
  FetchedAhead* const ahead;
  Connector following;  // replays the recordings of the hop taken last
};

Connector HopConnector(CrawlContext& crawl, Purpose purpose, int depth, FetchedAhead* ahead) {
  auto hops = std::make_shared<Hops>(crawl, purpose, depth, ahead);
  return [hops](SocketStreamBuf& connection, const Url& url, Failure* failure) {
    return hops->Connect(connection, url, failure);
  };
}

// Where a fetch of start the crawl makes itself goes: the first exchange
// for real, each redirect hop after it as a request of its own for the
// fetcher ahead (HopConnector), as after a replayed one, so that with -once
// the fetcher ahead knows every URL the crawl met. The first exchange is
// told by its URL, since a kept connection may have served it without a
// connect (and a kept one that failed asks for it again).
Connector LiveConnector(CrawlContext& crawl, const Url& start, Purpose purpose, int depth,
                        FetchedAhead* ahead) {
  auto first = std::make_shared<bool>(true);
  return [&crawl, start = start.Text(), first, hops = HopConnector(crawl, purpose, depth, ahead)](
             SocketStreamBuf& connection, const Url& url, Failure* failure) {
    if (!*first || !(url.Text() == start)) {
      *first = false;
      return hops(connection, url, failure);
    }
    return crawl.connector(connection, url, failure);
  };
}

// Counts outcome's exchange, and reports its failure unless the stop caused
// it.
void ReportExchange(CrawlContext& crawl, const FetchOutcome& outcome) {
  // A failure caused by the stop is no failure of the site's.
  bool stopped = StopReason() != 0 && outcome.status != FetchStatus::kAnswered;
  crawl.reporter.Exchanged(outcome.headersRead, !stopped && outcome.status == FetchStatus::kAnswered);
  if (!stopped && outcome.status == FetchStatus::kFailed) crawl.reporter.Failed(outcome.failure);
}

// Whether outcome, the made-th try of a request, is a failure to try again
// (-tries), after waiting as the retry policy says (false when the run stops
// meanwhile).
bool RetryAfterFailure(CrawlContext& crawl, const FetchOutcome& outcome, int made) {
  const RetryPolicy* retries = crawl.retries;
  if (retries == nullptr || outcome.status != FetchStatus::kFailed || StopReason() != 0 ||
      !retries->ShouldRetry(made, outcome.failure)) {
    return false;
  }
  std::optional<double> after;
  const CStr& value = outcome.failure.retryAfter;
  if (!value.IsEmpty()) {
    after = RetryAfterSeconds(std::string_view(value, value.Length()), std::time(nullptr));
  }
  auto until = std::chrono::steady_clock::now() +
               std::chrono::duration<double>(retries->DelaySeconds(made, after));
  while (StopReason() == 0 && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return StopReason() == 0;
}

// With -tries above 1 every try is recorded, and its body read to its end,
// before the crawl reads any of it: a body cut short (a reset, a timeout, a
// close before its length) is then asked for again with nothing printed or
// saved from the try that failed, and the crawl reads the try that stands
// from its recording (past kTryMemory bytes, from its temporary file).
constexpr size_t kTryMemory = 1u << 20;

// What a recorded try's outcome is judged on for a retry: its failure as it
// stands, or, for an answer, how its body (read here to its end) arrived.
FetchOutcome Judged(FetchOutcome& tried) {
  FetchOutcome judged;
  judged.status = tried.status;
  judged.failure = tried.failure;
  if (tried.status == FetchStatus::kAnswered) {
    tried.body->ReadToEnd();
    if (!tried.body->Complete(&judged.failure)) judged.status = FetchStatus::kFailed;
    tried.body.reset();
  }
  return judged;
}

}  // namespace

bool RobotsAllow(CrawlContext& crawl, const Url& url) {
  if (crawl.robots == nullptr) return true;
  RobotsGate::FirstAsk first;
  bool allowed = crawl.robots->Allows(url, &first);
  if (!first.notice.IsEmpty()) crawl.reporter.Notice(first.notice);
  if (crawl.archive != nullptr && first.exchanges &&
      !crawl.archive->Add(*first.exchanges, first.truncated)) {
    RequestStop(kStopOutputFailed);
  }
  return allowed;
}

FetchPolicy AheadPolicy(const CrawlContext& crawl) {
  FetchPolicy confined = ConfinementPolicy(crawl);
  RobotsGate* robots = crawl.robots;
  if (robots == nullptr) return confined;
  return [confined = std::move(confined), robots](const Url& target) {
    return confined(target) && robots->Allows(target);
  };
}

bool InScope(const CrawlContext& crawl, const Url& url) {
  const CrawlScope* scope = crawl.scope;
  return scope == nullptr || !scope->Filters() || url.Text() == crawl.startUrl ||
         scope->Allows(url);
}

int ShardOf(const CrawlContext& crawl, const Url& url) {
  return ShardOfHost(url.HostView(), crawl.options.shards);
}

bool InShard(const CrawlContext& crawl, const Url& url) {
  return crawl.options.shards == 0 || ShardOf(crawl, url) == crawl.options.shard;
}

FetchPolicy ConfinementPolicy(const CrawlContext& crawl) {
  HostPolicy hosts = ConfinedHosts(crawl);
  bool scoped = crawl.scope != nullptr && crawl.scope->Filters();
  if (!hosts && !scoped && crawl.options.shards == 0) return [](const Url&) { return true; };
  return [hosts = std::move(hosts), &crawl](const Url& target) {
    return (!hosts || hosts(target.HostView())) && InShard(crawl, target) && InScope(crawl, target);
  };
}

HostPolicy ConfinedHosts(const CrawlContext& crawl) {
  if (!crawl.options.confine) return nullptr;
  return [same = SameDomainAs(std::string_view(crawl.startHost, crawl.startHost.Length()))](
             std::string_view host) { return same(host); };
}

bool ArrivedWhole(CrawlContext& crawl, const ResponseBody& body) {
  Failure failure;
  if (body.Complete(&failure)) return true;
  crawl.reporter.Failed(failure);
  return false;
}

FetchOutcome RequestPage(CrawlContext& crawl, const Url& url, Purpose purpose, int depth,
                         const FetchPolicy& admit, FetchedAhead* ahead) {
  FetchOutcome outcome;
  if (StopReason() != 0) {  // the run is ending: nothing more is asked
    outcome.status = FetchStatus::kRefused;
    return outcome;
  }
  crawl.reporter.RequestStarted(url.Text());
  if (ahead != nullptr) *ahead = FetchedAhead();
  Connector connect = crawl.connector;
  // With a fetcher ahead, a replay takes no kept connection (it must get the
  // exchanges it recorded), and a request made for real takes one for its
  // first exchange only: every redirect hop goes to the fetcher ahead.
  KeptFor keptFor = KeptFor::kEveryExchange;
  if (Prefetcher* prefetcher = crawl.prefetcher) {
    keptFor = KeptFor::kFirstExchange;
    FetchedAhead fetched = prefetcher->Take(url, purpose, depth);
    if (fetched.recordings) {
      connect = ReplayConnector(std::move(fetched.recordings),
                                HopConnector(crawl, purpose, depth, ahead));
      keptFor = KeptFor::kNone;
    } else {
      connect = LiveConnector(crawl, url, purpose, depth, ahead);
    }
    if (ahead != nullptr) *ahead = std::move(fetched);
  }
  // A URL admitted by an earlier try of this request is admitted again, as
  // when the try that stands is replayed (with -once it was met by this very
  // request); within one try, as ever, once.
  std::set<std::string> admittedBefore, admitted, refused;
  // A URL refused is told once, however often the tries meet it.
  auto refuse = [&crawl, &refused](const Url& target, Reporter::Refusal reason) {
    if (refused.insert(target.Key()).second) crawl.reporter.Refused(target.Text(), reason);
    return false;
  };
  // A redirect to another shard's host is handed on as the page it stands
  // for, once however often the tries meet it.
  auto handOn = [&crawl, &refused, &url, depth](const Url& target) {
    if (refused.insert(target.Key()).second)
      crawl.reporter.Outlink(target.Text(), ShardOf(crawl, target), depth, url.Text());
    return false;
  };
  const FetchPolicy policy = [&crawl, &admit, &admittedBefore, &admitted, &refuse, &handOn,
                              hosts = ConfinedHosts(crawl)](const Url& target) {
    if (hosts && !hosts(target.HostView())) return refuse(target, Reporter::Refusal::kConfine);
    if (!InShard(crawl, target)) return handOn(target);
    if (!InScope(crawl, target)) return refuse(target, Reporter::Refusal::kScope);
    if (!RobotsAllow(crawl, target)) return refuse(target, Reporter::Refusal::kRobots);
    if (!admit) return true;
    std::string key = target.Key();
    if (admittedBefore.count(key) != 0) return true;
    if (!admit(target)) return false;
    admitted.insert(std::move(key));
    return true;
  };
  const bool recordTries = crawl.options.ReadsWhole();
  std::shared_ptr<Recordings> recorded;
  for (int made = 1;; ++made) {
    ExchangeRecorder recorder{nullptr, kTryMemory, nullptr, crawl.archive != nullptr};
    if (recordTries) {
      recorded = std::make_shared<Recordings>();
      recorder.into = recorded.get();
    }
    outcome = Fetch(url, policy, connect, recordTries ? &recorder : nullptr, crawl.pool, keptFor);
    const FetchOutcome judged = recordTries ? Judged(outcome) : FetchOutcome();
    if (crawl.archive != nullptr &&
        !crawl.archive->Add(*recorded, outcome.status == FetchStatus::kAnswered
                                           ? CrawlArchive::TruncationOf(judged.failure.kind)
                                           : "")) {
      RequestStop(kStopOutputFailed);
    }
    bool again = RetryAfterFailure(crawl, recordTries ? judged : outcome, made);
    admittedBefore.insert(admitted.begin(), admitted.end());
    admitted.clear();
    if (!again) break;
    // A try again is made for real, whatever the first was.
    if (crawl.prefetcher != nullptr) {
      connect = LiveConnector(crawl, url, purpose, depth, ahead);
      keptFor = KeptFor::kFirstExchange;
    }
  }
  // The answer that stands is read from its recording, its failure (if any)
  // met where the try met it.
  if (recordTries && outcome.status == FetchStatus::kAnswered) {
    outcome = Fetch(url, policy, ReplayConnector(std::move(recorded), crawl.connector), nullptr,
                    nullptr, KeptFor::kNone);
  }
  ReportExchange(crawl, outcome);
  return outcome;
}

void ReportExchangeAgain(CrawlContext& crawl, const FetchOutcome& outcome) {
  if (StopReason() == 0) ReportExchange(crawl, outcome);
}
