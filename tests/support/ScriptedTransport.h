// ScriptedTransport: a Transport test double that plays a fixed script of
// receives and records what is sent, for faults a real socket cannot be made
// to show on cue (a stream that fails without ending, sends that go out a few
// bytes at a time).
//
// Receives take the scripted chunks in order (a chunk larger than the read
// asked for is split across reads); after the last chunk they return 0 (end
// of stream), or fail with the error given to FailAfter, every time. Each
// send takes at most the send limit. The log is shared, so a test can read it
// after the stream buffer that owns the transport has been destroyed.
#ifndef FERRET_TESTS_SUPPORT_SCRIPTEDTRANSPORT_H_
#define FERRET_TESTS_SUPPORT_SCRIPTEDTRANSPORT_H_

#include <deque>
#include <memory>
#include <string>

#include "net/Transport.h"

struct TransportLog {
  std::string sent;
  int receives = 0;  // Receive calls, failed ones included
};

class ScriptedTransport : public Transport {
 public:
  explicit ScriptedTransport(std::shared_ptr<TransportLog> log) : log(std::move(log)) {}

  ScriptedTransport& Deliver(std::string chunk);
  // Once the chunks are used up, every Receive fails with error (errno).
  ScriptedTransport& FailAfter(int error);
  // Each Send takes at most limit bytes.
  ScriptedTransport& SendLimit(size_t limit);

  long Send(const char* data, size_t length) override;
  long Receive(char* data, size_t length) override;

 private:
  std::shared_ptr<TransportLog> log;
  std::deque<std::string> chunks;
  int failure = 0;  // errno for receives past the last chunk; 0: end of stream
  size_t sendLimit = static_cast<size_t>(-1);
};

#endif  // FERRET_TESTS_SUPPORT_SCRIPTEDTRANSPORT_H_
