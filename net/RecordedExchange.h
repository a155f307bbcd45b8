// RecordedExchange: what one connection brought, kept so that it can be
// played back later as if the server were answering again.
//
// Fetching ahead records each connection of a fetch (every redirect is a
// connection of its own) through RecordingConnector; the crawl later runs the
// same fetch through ReplayConnector, whose transports play the recordings
// back. The HTTP code reads a replay exactly as it read the server, so it
// reports, counts and saves exactly the same; a connection that was not
// recorded (or not usable) is made for real instead.
//
// A recording connector writes into recordings it does not own, which must
// outlive it and the connections it makes. Each recording is made by one
// thread and read by another only after it is finished.
#ifndef FERRET_NET_RECORDEDEXCHANGE_H_
#define FERRET_NET_RECORDEDEXCHANGE_H_

#include <cstddef>
#include <deque>
#include <memory>
#include <string>

#include "net/Connector.h"
#include "text/CStr.h"

struct RecordedExchange {
  CStr url;                // the URL the connection was made for
  bool connected = false;  // false: the connect failed, as failure says
  ConnectFailure failure;
  std::string received;  // every byte received, in order
  int endError = 0;      // errno of the receive that ended it; 0: orderly end
  // False once the recording was cut at its size cap: a reader could then
  // ask for more than was recorded. (A fetch that stopped reading early, at a
  // redirect or an error status, is still usable: a replay reads the same.)
  bool usable = true;
};

// The recordings of one fetch; a deque, so that a recording stays where it is
// while later ones are added.
using Recordings = std::deque<RecordedExchange>;

// Records each connection into *into (appended in order), none larger than
// cap bytes: past that the recording stops, is marked unusable, and the
// connection fails.
Connector RecordingConnector(Recordings* into, size_t cap);

// Plays back *from in order, while each connection asked for is the next one
// recorded and usable; otherwise (and from then on) connects for real. The
// transports it makes share from, so it lives as long as the last of them.
Connector ReplayConnector(std::shared_ptr<const Recordings> from);

#endif  // FERRET_NET_RECORDEDEXCHANGE_H_
