// RobotsGate: -robots, the run's obedience to each server's robots.txt.
//
// The first time a URL on a server (scheme, host and port) is asked about,
// the gate fetches that server's /robots.txt (through the run's connector
// and kept connections; at most kMaxRobotsRedirects redirects; the first
// kMaxRobotsBytes of the body read) and keeps the rules for the product
// token "ferret" (net/RobotsTxt.h). What the fetch came to decides: an
// answer is read; a 4xx, too many redirects or a refused redirect allow
// everything; a 5xx or no answer at all (a failed connect, TLS, a timeout)
// disallow everything on that server but /robots.txt. Its Crawl-delay (at
// most kMaxCrawlDelaySeconds) is the least pause between two requests to
// the host, kept by the run's pacer. The fetch counts
// nothing and prints nothing: a server whose robots.txt disallows
// everything for want of an answer is said once, by the crawl's thread,
// when the crawl itself first asks about it (Allows' notice), so that the line
// comes where a run without -j writes it.
//
// Thread-safe: the crawl and the workers fetching ahead ask at once; each
// server's robots.txt is fetched once, by the first to ask, while the others
// asking about that server wait for it.
#ifndef FERRET_APP_ROBOTSGATE_H_
#define FERRET_APP_ROBOTSGATE_H_

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "net/ConnectionPool.h"
#include "net/Connector.h"
#include "net/HostPacer.h"
#include "net/RecordedExchange.h"
#include "net/RobotsTxt.h"
#include "net/Url.h"
#include "text/CStr.h"

constexpr int kMaxRobotsRedirects = 5;

class RobotsGate {
 public:
  // connect, pool and pacer (either may be null) must outlive the gate. A
  // server's Crawl-delay becomes the pause pacer keeps for its host. With
  // keepExchanges (an archive is written), each fetch of robots.txt is
  // recorded for the crawl to archive.
  RobotsGate(Connector connect, ConnectionPool* pool, HostPacer* pacer, bool keepExchanges = false);
  RobotsGate(const RobotsGate&) = delete;
  RobotsGate& operator=(const RobotsGate&) = delete;

  // What the crawl's thread learns the first time it asks about a server:
  // the line saying that the server refuses everything because its
  // robots.txt could not be had (empty: none to say), and, when exchanges
  // are kept, the fetch's exchanges and why its body is not whole (as
  // CrawlArchive::Add takes it).
  struct FirstAsk {
    CStr notice;
    std::shared_ptr<const Recordings> exchanges;
    const char* truncated = "";
  };
  // Whether url's server lets ferret ask for it. With first (the crawl's
  // thread), *first is filled the first time the crawl asks about the
  // server, and left empty after.
  bool Allows(const Url& url, FirstAsk* first = nullptr);

 private:
  struct Server {
    bool ready = false;
    bool unreachable = false;  // no answer, or a 5xx: everything refused
    bool asked = false;        // the crawl's thread has had its FirstAsk
    std::string reason;        // why, for the notice
    std::shared_ptr<const Recordings> exchanges;  // with keepExchanges
    const char* truncated = "";
    RobotsTxt::Rules rules;
  };
  // The server's entry, its robots.txt fetched (by this thread, when first).
  Server& ServerOf(const Url& url);
  // Fetches and reads robots.txt at url's server.
  void Load(const Url& url, Server* into);

  const Connector connect;
  ConnectionPool* const pool;
  HostPacer* const pacer;
  const bool keepExchanges;
  std::mutex mutex;
  std::condition_variable loaded;
  std::map<std::string, std::unique_ptr<Server>> servers;  // by ConnectionPool::KeyOf
};

#endif  // FERRET_APP_ROBOTSGATE_H_
