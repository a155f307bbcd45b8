// HostPacer: politeness towards each host (-perhost, -wait): at most a
// number of exchanges with one host under way at once, and a pause between
// the end of one and the start of the next.
//
// Begin waits until the host has fewer than perHost exchanges under way and
// waitSeconds have passed since the last of its exchanges ended, then
// counts one more and hands back its slot. A host with a pause (waitSeconds,
// or one AtLeast gave it) has one exchange under way at a time, so that
// every start comes the pause after the end before it; the exchange is over when the
// last copy of the slot goes. Exchanges with other hosts are never held up
// by one host's wait. A wait ends early, with no slot, once the run is
// stopping (SocketsStopRequested).
//
// Thread-safe: the crawl and the workers fetching ahead share one pacer,
// which must outlive every slot it handed out.
#ifndef FERRET_NET_HOSTPACER_H_
#define FERRET_NET_HOSTPACER_H_

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "net/Connector.h"

class HostPacer {
 public:
  using Slot = std::shared_ptr<void>;

  HostPacer(int perHost, double waitSeconds);
  HostPacer(const HostPacer&) = delete;
  HostPacer& operator=(const HostPacer&) = delete;

  Slot Begin(const std::string& host);
  // From now on host's pause is at least seconds (a robots.txt Crawl-delay).
  void AtLeast(const std::string& host, double seconds);

 private:
  using Clock = std::chrono::steady_clock;
  struct Host {
    int underWay = 0;
    Clock::time_point lastEnded;  // epoch: none ended yet
    Clock::duration wait{};       // beyond the pacer's own
  };
  void End(const std::string& host);

  const int perHost;
  const Clock::duration wait;
  std::mutex mutex;
  std::condition_variable changed;
  std::map<std::string, Host> hosts;
};

// base, each new connection it makes begun with a slot of pacer for its
// exchange (held on the connection, SocketStreamBuf::exchangeSlot), unless
// the connection holds one already.
Connector PacedConnector(Connector base, HostPacer* pacer);

#endif  // FERRET_NET_HOSTPACER_H_
