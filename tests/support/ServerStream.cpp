#include "tests/support/ServerStream.h"

#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "net/Sockets.h"  // RetryOnEintr
#include "tests/support/TlsSocket.h"

namespace {

constexpr int kSliceMs = 50;  // how often blocked waits look at `stopping`

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "test server TLS: %s failed\n", what.c_str());
  ERR_print_errors_fp(stderr);
  std::abort();
}

// Why the last TLS call failed, from its SSL_get_error code and the queue.
std::string tlsReason(const char* call, int code) {
  unsigned long queued = ERR_get_error();
  std::string reason = std::string(call) + ": ";
  if (queued != 0) {
    char text[256];
    ERR_error_string_n(queued, text, sizeof(text));
    reason += text;
  } else if (code == SSL_ERROR_SYSCALL) {
    reason += errno != 0 ? std::strerror(errno) : "unexpected end of stream";
  } else {
    reason += "SSL error " + std::to_string(code);
  }
  ERR_clear_error();
  return reason;
}

bool wants(int code) { return code == SSL_ERROR_WANT_READ || code == SSL_ERROR_WANT_WRITE; }

}  // namespace

// ---------------------------------------------------------------- ServerTls

ServerTls::ServerTls(const TestCertificate& certificate, TlsVersions versions)
    : context(SSL_CTX_new(TLS_server_method())) {
  if (context == nullptr) fail("SSL_CTX_new");
  int lowest = versions == TlsVersions::kTls13Only ? TLS1_3_VERSION : TLS1_2_VERSION;
  int highest = versions == TlsVersions::kTls12Only ? TLS1_2_VERSION : TLS1_3_VERSION;
  if (versions == TlsVersions::kTls11Only) {
    lowest = highest = TLS1_1_VERSION;
    SSL_CTX_set_security_level(context, 0);
  }
  if (SSL_CTX_set_min_proto_version(context, lowest) != 1 ||
      SSL_CTX_set_max_proto_version(context, highest) != 1) {
    fail("setting protocol versions");
  }
  if (SSL_CTX_use_certificate_file(context, certificate.certificateFile.c_str(),
                                   SSL_FILETYPE_PEM) != 1 ||
      SSL_CTX_use_PrivateKey_file(context, certificate.keyFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
      SSL_CTX_check_private_key(context) != 1) {
    fail("loading certificate " + certificate.name);
  }
  // No session tickets: after the handshake only the test's own bytes flow.
  SSL_CTX_set_num_tickets(context, 0);
  SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_OFF);
  // A client that ends with a bare FIN has still ended its stream.
  SSL_CTX_set_options(context, SSL_OP_IGNORE_UNEXPECTED_EOF);
}

ServerTls::~ServerTls() { SSL_CTX_free(context); }

// ---------------------------------------------------------------- ServerStream

ServerStream::ServerStream(int socket, std::shared_ptr<const ServerTls> serverTls,
                           const std::atomic<bool>& stop)
    : fd(socket), tls(std::move(serverTls)), session(nullptr), stopping(stop), writeShut(false) {}

ServerStream::~ServerStream() {
  closeSocket();
  // The socket BIO does not own fd, and SSL_free sends nothing.
  SSL_free(session);
}

void ServerStream::closeSocket() {
  if (fd != -1) close(fd);
  fd = -1;
}

bool ServerStream::waitUntil(short events, Deadline deadline) {
  pollfd entry{fd, events, 0};
  while (!stopping && Clock::now() < deadline) {
    int ready = RetryOnEintr([&] { return poll(&entry, 1, kSliceMs); });
    if (ready != 0) return ready > 0;
  }
  return false;
}

template <typename Call>
int ServerStream::retryTls(Call call, bool wait, Deadline deadline, int* code) {
  for (;;) {
    ERR_clear_error();
    errno = 0;
    int result = call();
    *code = result > 0 ? SSL_ERROR_NONE : SSL_get_error(session, result);
    // Readable TCP need not hold a whole record, so a wanting call waits
    // for the socket and runs again.
    if (!wants(*code) || !wait ||
        !waitUntil(*code == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, deadline)) {
      return result;
    }
  }
}

bool ServerStream::Handshake(int timeoutMs, std::string* error) {
  if (tls == nullptr) return true;
  // Non-blocking, so that every TLS call returns to a bounded poll.
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  session = SSL_new(tls->Context());
  if (session == nullptr || !AttachSocket(session, fd)) {
    *error = tlsReason("SSL_new", SSL_ERROR_SSL);
    return false;
  }
  int code;
  retryTls([&] { return SSL_accept(session); }, true, DeadlineAfter(timeoutMs), &code);
  if (code == SSL_ERROR_NONE) return true;
  *error = wants(code) ? "SSL_accept: timed out" : tlsReason("SSL_accept", code);
  return false;
}

bool ServerStream::Read(size_t most, bool wait, int timeoutMs, std::string* chunk,
                        std::string* error) {
  chunk->assign(most, '\0');
  long got;
  int code = SSL_ERROR_NONE;
  if (session != nullptr) {
    auto read = [&] { return SSL_read(session, &(*chunk)[0], static_cast<int>(most)); };
    got = retryTls(read, wait, DeadlineAfter(timeoutMs), &code);
    // close_notify, or a bare FIN (SSL_OP_IGNORE_UNEXPECTED_EOF), ends the
    // stream; nothing yet is "" when not waiting.
    if (code == SSL_ERROR_ZERO_RETURN || (wants(code) && !wait)) got = 0;
  } else if (wait && !waitUntil(POLLIN, DeadlineAfter(timeoutMs))) {
    code = SSL_ERROR_WANT_READ;
    got = -1;
  } else {
    got = RetryOnEintr([&] { return recv(fd, &(*chunk)[0], most, wait ? 0 : MSG_DONTWAIT); });
    if (got == -1 && !wait && (errno == EAGAIN || errno == EWOULDBLOCK)) got = 0;
  }
  if (got >= 0) {
    chunk->resize(got);
    return true;
  }
  if (wants(code)) {
    *error = "nothing arrived";
  } else {
    *error = session != nullptr ? tlsReason("SSL_read", code)
                                : std::string("recv: ") + std::strerror(errno);
  }
  return false;
}

bool ServerStream::WriteAll(const std::string& bytes, int timeoutMs, std::string* error) {
  if (session == nullptr) {
    for (size_t done = 0; done < bytes.size();) {
      long sent = RetryOnEintr(
          [&] { return send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL); });
      if (sent <= 0) {
        *error = std::string("send: ") + std::strerror(errno);
        return false;
      }
      done += sent;
    }
    return true;
  }
  if (bytes.empty()) return true;
  // Without partial writes SSL_write succeeds only once all is sent, and a
  // retry repeats the same arguments, as OpenSSL requires.
  int code;
  auto write = [&] { return SSL_write(session, bytes.data(), static_cast<int>(bytes.size())); };
  retryTls(write, true, DeadlineAfter(timeoutMs), &code);
  if (code == SSL_ERROR_NONE) return true;
  *error = wants(code) ? "SSL_write: timed out" : tlsReason("SSL_write", code);
  return false;
}

void ServerStream::ShutdownWrite(bool notify) {
  if (writeShut || fd == -1) return;
  writeShut = true;
  if (session != nullptr && notify) {
    ERR_clear_error();
    SSL_shutdown(session);  // queues and sends close_notify; no reply awaited
    ERR_clear_error();
  }
  shutdown(fd, SHUT_WR);
}

void ServerStream::CloseGracefully(int timeoutMs) {
  if (fd == -1) return;
  ShutdownWrite(true);
  DiscardUntilClosed(timeoutMs);
  closeSocket();
}

void ServerStream::Abort() {
  if (fd == -1) return;
  linger hard{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof(hard));
  closeSocket();
}

void ServerStream::DiscardUntilClosed(int timeoutMs) {
  Deadline deadline = DeadlineAfter(timeoutMs);
  char sink[4096];
  for (;;) {
    if (!waitUntil(POLLIN, deadline)) return;
    long got = RetryOnEintr([&] { return recv(fd, sink, sizeof(sink), MSG_DONTWAIT); });
    if (got == 0 || (got == -1 && errno != EAGAIN && errno != EWOULDBLOCK)) return;
  }
}
