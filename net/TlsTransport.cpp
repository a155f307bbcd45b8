#include "net/TlsTransport.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <unordered_map>

#include "net/Url.h"
// What a session's BIO reads and writes: the transport below, and whether it
// has ended its stream (OpenSSL asks, to tell a close from a failure).
struct TransportChannel {
  std::unique_ptr<Transport> below;
  bool ended = false;
  std::string peer;  // "host:port": the session cache's key for this server
};

namespace {

// Sessions to resume, by "host:port": a new connection to a server offers
// the last session it gave (a TLS 1.3 ticket, or a TLS 1.2 session), and a
// server that takes it skips the full handshake. The session was made with
// the server's certificate verified for that very name. Shared by every
// thread; bounded (past kMaxSessions servers the oldest are forgotten).
class SessionCache {
 public:
  static SessionCache& Shared() {
    static SessionCache* cache = new SessionCache;  // never freed: sessions outlive threads
    return *cache;
  }
  // A reference to the session for peer, for the caller to free; null for none.
  SSL_SESSION* Find(const std::string& peer) {
    std::lock_guard<std::mutex> lock(mutex);
    auto found = sessions.find(peer);
    if (found == sessions.end()) return nullptr;
    SSL_SESSION_up_ref(found->second);
    return found->second;
  }
  // Keeps session (its reference taken) as peer's, in place of any before.
  void Keep(const std::string& peer, SSL_SESSION* session) {
    std::lock_guard<std::mutex> lock(mutex);
    auto found = sessions.find(peer);
    if (found != sessions.end()) {
      SSL_SESSION_free(found->second);
      found->second = session;
      return;
    }
    if (sessions.size() == kMaxSessions) {
      SSL_SESSION_free(sessions.find(order.front())->second);
      sessions.erase(order.front());
      order.pop_front();
    }
    sessions.emplace(peer, session);
    order.push_back(peer);
  }

 private:
  static constexpr size_t kMaxSessions = 256;
  std::mutex mutex;
  std::unordered_map<std::string, SSL_SESSION*> sessions;  // each holds a reference
  std::deque<std::string> order;                           // keys, oldest first
};

// Where a session keeps its channel, for the new-session callback.
int ChannelIndex() {
  static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  return index;
}

// OpenSSL hands over each new session of a connection (in TLS 1.3, as the
// tickets arrive with the first reads): a copy is kept for the next
// connection. A copy, because OpenSSL marks the connection's own session
// not resumable when the connection ends without TLS's farewell, as an
// HTTP/1.0 body that ends at the close does.
int KeepNewSession(SSL* ssl, SSL_SESSION* session) {
  auto* channel = static_cast<TransportChannel*>(SSL_get_ex_data(ssl, ChannelIndex()));
  if (channel == nullptr || channel->peer.empty()) return 0;
  if (SSL_SESSION* copy = SSL_SESSION_dup(session)) SessionCache::Shared().Keep(channel->peer, copy);
  return 0;  // the connection keeps its own reference
}

// The client context shared by every connection; made on first use, never
// freed. Null when OpenSSL could not make it (then *problem says why).
SSL_CTX* ClientContext(const char** problem) {
  static SSL_CTX* context = nullptr;
  static const char* failure = nullptr;
  static std::once_flag once;
  std::call_once(once, [] {
    SSL_CTX* made = SSL_CTX_new(TLS_client_method());
    if (made == nullptr) {
      failure = "cannot make a TLS context";
      return;
    }
    SSL_CTX_set_min_proto_version(made, TLS1_2_VERSION);
    SSL_CTX_set_verify(made, SSL_VERIFY_PEER, nullptr);
    // HTTP/1.0 ends a body by closing; many servers close without the TLS
    // farewell. A body cut short is caught by its Content-Length instead.
    SSL_CTX_set_options(made, SSL_OP_IGNORE_UNEXPECTED_EOF);
    SSL_CTX_set_mode(made, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_AUTO_RETRY);
    // Sessions are kept by SessionCache, by server, not by OpenSSL.
    SSL_CTX_set_session_cache_mode(made, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_sess_set_new_cb(made, KeepNewSession);
    if (SSL_CTX_set_default_verify_paths(made) != 1) {
      failure = "cannot load the trusted certificates";
      SSL_CTX_free(made);
      return;
    }
    context = made;
  });
  *problem = failure;
  return context;
}

// A BIO over a Transport: the session's bytes go through the transport below
// it. A failure keeps the transport's errno and asks for no retry, so a
// timeout ends the TLS call at once.
int BioWrite(BIO* bio, const char* data, int length) {
  auto* channel = static_cast<TransportChannel*>(BIO_get_data(bio));
  return static_cast<int>(channel->below->Send(data, static_cast<size_t>(length)));
}

int BioRead(BIO* bio, char* data, int length) {
  auto* channel = static_cast<TransportChannel*>(BIO_get_data(bio));
  long received = channel->below->Receive(data, static_cast<size_t>(length));
  if (received == 0) channel->ended = true;
  return static_cast<int>(received);
}

long BioControl(BIO* bio, int command, long, void*) {
  if (command == BIO_CTRL_FLUSH) return 1;
  if (command == BIO_CTRL_EOF) return static_cast<TransportChannel*>(BIO_get_data(bio))->ended;
  return 0;
}

int BioCreate(BIO* bio) {
  BIO_set_init(bio, 1);
  return 1;
}

BIO_METHOD* TransportBioMethod() {
  static BIO_METHOD* method = [] {
    BIO_METHOD* made = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "transport");
    if (made != nullptr) {
      BIO_meth_set_write(made, BioWrite);
      BIO_meth_set_read(made, BioRead);
      BIO_meth_set_ctrl(made, BioControl);
      BIO_meth_set_create(made, BioCreate);
    }
    return made;
  }();
  return method;
}

// Names the host the certificate must be for, and the name sent for SNI.
bool SetPeerName(SSL* session, const CStr& host) {
  if (Url::IsIpAddress(host)) {
    return X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(session), host) == 1;
  }
  return SSL_set_tlsext_host_name(session, static_cast<const char*>(host)) == 1 &&
         SSL_set1_host(session, host) == 1;
}

// Why a handshake failed, in words for the user.
CStr HandshakeFailure(SSL* session, int result, int savedErrno) {
  long verified = SSL_get_verify_result(session);
  if (verified != X509_V_OK) return X509_verify_cert_error_string(verified);
  unsigned long queued = ERR_peek_last_error();
  if (queued != 0) {
    const char* text = ERR_reason_error_string(queued);
    return text != nullptr ? text : "handshake failed";
  }
  if (SSL_get_error(session, result) == SSL_ERROR_SYSCALL) {
    if (savedErrno == EAGAIN || savedErrno == EWOULDBLOCK) return "handshake timed out";
    if (savedErrno != 0) return std::strerror(savedErrno);
    return "connection closed during the handshake";
  }
  return "handshake failed";
}

}  // namespace

std::unique_ptr<TlsTransport> TlsTransport::Open(std::unique_ptr<Transport> below, const CStr& host,
                                                 int port, CStr* reason) {
  const char* problem = nullptr;
  SSL_CTX* context = ClientContext(&problem);
  if (context == nullptr) {
    *reason = problem;
    return nullptr;
  }
  ERR_clear_error();
  SSL* session = SSL_new(context);
  BIO* bio = TransportBioMethod() != nullptr ? BIO_new(TransportBioMethod()) : nullptr;
  if (session == nullptr || bio == nullptr || !SetPeerName(session, host)) {
    *reason = "cannot set up the TLS session";
    BIO_free(bio);
    SSL_free(session);
    return nullptr;
  }
  auto channel = std::make_unique<TransportChannel>();
  channel->below = std::move(below);
  channel->peer = std::string(static_cast<const char*>(host)) + ":" + std::to_string(port);
  BIO_set_data(bio, channel.get());
  SSL_set_bio(session, bio, bio);  // the session owns the BIO from here
  SSL_set_ex_data(session, ChannelIndex(), channel.get());
  // The one protocol spoken over the connection; a server that speaks
  // another (h2 only) fails the handshake rather than be misread.
  static const unsigned char kAlpn[] = "\x08http/1.1";
  if (SSL_set_alpn_protos(session, kAlpn, sizeof kAlpn - 1) != 0) {
    *reason = "cannot set up the TLS session";
    SSL_free(session);
    return nullptr;
  }
  if (SSL_SESSION* earlier = SessionCache::Shared().Find(channel->peer)) {
    SSL_set_session(session, earlier);  // offered; the server may refuse it
    SSL_SESSION_free(earlier);
  }
  errno = 0;
  int result = SSL_connect(session);
  if (result != 1) {
    *reason = HandshakeFailure(session, result, errno);
    ERR_clear_error();
    SSL_free(session);
    return nullptr;
  }
  return std::unique_ptr<TlsTransport>(new TlsTransport(std::move(channel), session));
}

TlsTransport::TlsTransport(std::unique_ptr<TransportChannel> channel, ssl_st* session)
    : channel(std::move(channel)), session(session) {}

TlsTransport::~TlsTransport() { SSL_free(session); }

long TlsTransport::Failure(int result) {
  int saved = errno;
  int error = SSL_get_error(session, result);
  ERR_clear_error();
  if (error == SSL_ERROR_ZERO_RETURN) return 0;
  if (error == SSL_ERROR_SYSCALL && saved != 0) {
    errno = saved;
  } else {
    errno = ECONNABORTED;  // a TLS protocol failure: the stream cannot go on
  }
  return -1;
}

void TlsTransport::Restart() { channel->below->Restart(); }

long TlsTransport::Send(const char* data, size_t length) {
  int count = length > INT_MAX ? INT_MAX : static_cast<int>(length);
  errno = 0;
  int sent = SSL_write(session, data, count);
  return sent > 0 ? sent : Failure(sent);
}

long TlsTransport::Receive(char* data, size_t length) {
  int count = length > INT_MAX ? INT_MAX : static_cast<int>(length);
  errno = 0;
  int received = SSL_read(session, data, count);
  return received > 0 ? received : Failure(received);
}
