// RequestIdentity: who the run says it is to servers (-agent) and the fields
// it adds to requests (-header), put on each connection the run makes.
//
// The User-Agent goes to every server. The added fields carry what a user
// copied from a browser (a cookie, a token), so they go only where they were
// meant for: hosts in the start URL's registrable domain (as -confine reads
// it), and, when the start URL is https, only over https, so that a link
// to http:// never sends them in the clear.
#ifndef FERRET_APP_REQUESTIDENTITY_H_
#define FERRET_APP_REQUESTIDENTITY_H_

#include "app/Options.h"
#include "net/Connector.h"
#include "net/Url.h"

// base, with each connection it makes marked with the identity options ask
// for that URL's server (net/SocketStreamBuf.h, identity); base itself
// when options ask for none.
Connector IdentifyingConnector(Connector base, const Options& options, const Url& start);

#endif  // FERRET_APP_REQUESTIDENTITY_H_
