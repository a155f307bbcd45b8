#include "net/HostPacer.h"

#include "net/Sockets.h"

HostPacer::HostPacer(int perHost, double waitSeconds)
    : perHost(perHost > 0 ? perHost : 1),
      wait(std::chrono::duration_cast<Clock::duration>(
          std::chrono::duration<double>(waitSeconds > 0 ? waitSeconds : 0))) {}

HostPacer::Slot HostPacer::Begin(const std::string& host) {
  std::unique_lock<std::mutex> lock(mutex);
  Host& state = hosts[host];
  for (;;) {
    if (SocketsStopRequested()) return nullptr;
    Clock::duration pause = state.wait > wait ? state.wait : wait;
    Clock::time_point ready =
        state.lastEnded == Clock::time_point() ? Clock::time_point() : state.lastEnded + pause;
    // A pause is between one exchange's end and the next one's start: with
    // one, a host has one exchange under way at a time.
    const int most = pause > Clock::duration::zero() ? 1 : perHost;
    Clock::time_point now = Clock::now();
    if (state.underWay < most && now >= ready) break;
    // Woken by an exchange's end; a stop is seen within a tenth of a second.
    Clock::time_point until = now + std::chrono::milliseconds(100);
    if (state.underWay < most && ready < until) until = ready;
    changed.wait_until(lock, until);
  }
  ++state.underWay;
  return Slot(this, [host](HostPacer* pacer) { pacer->End(host); });
}

void HostPacer::AtLeast(const std::string& host, double seconds) {
  std::lock_guard<std::mutex> lock(mutex);
  Clock::duration pause =
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  Host& state = hosts[host];
  if (pause > state.wait) state.wait = pause;
}

void HostPacer::End(const std::string& host) {
  std::lock_guard<std::mutex> lock(mutex);
  Host& state = hosts[host];
  --state.underWay;
  state.lastEnded = Clock::now();
  changed.notify_all();
}

Connector PacedConnector(Connector base, HostPacer* pacer) {
  return [base = std::move(base), pacer](SocketStreamBuf& connection, const Url& url,
                                         Failure* failure) {
    // An exchange paced already (before it looked for a kept connection)
    // holds its slot on the connection.
    HostPacer::Slot slot = connection.exchangeSlot;
    if (!slot) slot = pacer->Begin(static_cast<const char*>(url.Host()));
    bool connected = base(connection, url, failure);
    connection.exchangeSlot = std::move(slot);
    return connected;
  };
}
