// ServerStream: the server's end of one accepted test connection, plain TCP
// or TLS over it, so that ScriptedServer's modes read, write and close the
// same way on both.
//
// ServerTls is a server TLS context made from a test certificate. It is
// immutable once made and shared (std::shared_ptr) by every stream that uses
// it, on any thread.
//
// A ServerStream owns its socket (and TLS session) and is used by one thread.
// Every wait is bounded by the timeout passed to the call and ends early once
// the server's `stopping` flag turns true.
#ifndef FERRET_TESTS_SUPPORT_SERVERSTREAM_H_
#define FERRET_TESTS_SUPPORT_SERVERSTREAM_H_

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include "tests/support/TestCertificates.h"

struct ssl_st;
struct ssl_ctx_st;

// Which protocol versions a TLS test server offers. kTls11Only also lowers
// the server's security level to 0, without which OpenSSL refuses TLS 1.1.
enum class TlsVersions { kTls12AndLater, kTls12Only, kTls13Only, kTls11Only };

class ServerTls {
 public:
  // Ends the process if OpenSSL rejects the certificate or key.
  ServerTls(const TestCertificate& certificate, TlsVersions versions);
  ~ServerTls();
  ServerTls(const ServerTls&) = delete;
  ServerTls& operator=(const ServerTls&) = delete;

  ssl_ctx_st* Context() const { return context; }

 private:
  ssl_ctx_st* context;  // owned
};

class ServerStream {
 public:
  // Takes ownership of fd. tls null: plain TCP. stopping must outlive this.
  ServerStream(int fd, std::shared_ptr<const ServerTls> tls, const std::atomic<bool>& stopping);
  // Closes the socket at once if Abort or CloseGracefully has not: no
  // close_notify, no waiting.
  ~ServerStream();
  ServerStream(const ServerStream&) = delete;
  ServerStream& operator=(const ServerStream&) = delete;

  bool IsTls() const { return tls != nullptr; }

  // TLS: the server's side of the handshake. Plain: nothing to do. false
  // with *error set on failure or timeout.
  bool Handshake(int timeoutMs, std::string* error);

  // One read of at most `most` bytes into *chunk ("" at end of stream). With
  // wait it waits up to timeoutMs for data or the end of the stream (false,
  // "nothing arrived", on timeout); without, *chunk is whatever has arrived,
  // possibly "". Over TLS one read returns at most one record's data, and
  // both close_notify and a bare FIN count as the end of the stream.
  bool Read(size_t most, bool wait, int timeoutMs, std::string* chunk, std::string* error);

  // Sends all of bytes (over TLS, one SSL_write: one record per 16 KiB).
  bool WriteAll(const std::string& bytes, int timeoutMs, std::string* error);

  // Ends sending: TLS close_notify (when notify) and then TCP FIN.
  void ShutdownWrite(bool notify);
  // ShutdownWrite(true) unless done before, then waits (bounded) for the
  // peer to close, discarding what it sends, so that unread input does not
  // turn the close into a reset; then closes the socket.
  void CloseGracefully(int timeoutMs);
  // Abortive close (SO_LINGER 0): the peer receives a reset. Over TLS no
  // alert precedes it.
  void Abort();
  // Reads and discards raw TCP bytes (a TLS ClientHello too, unanswered)
  // until the peer closes or timeoutMs passes.
  void DiscardUntilClosed(int timeoutMs);

 private:
  using Clock = std::chrono::steady_clock;
  using Deadline = Clock::time_point;
  static Deadline DeadlineAfter(int milliseconds) {
    return Clock::now() + std::chrono::milliseconds(milliseconds);
  }
  // Waits until the socket has one of events; false at the deadline or on
  // stopping.
  bool waitUntil(short events, Deadline deadline);
  // Runs a TLS call returning > 0 on success until it succeeds, fails, or
  // (only with wait) the deadline passes. Returns its last result; *code is
  // SSL_ERROR_NONE on success, else its SSL_get_error code (a WANT_* code
  // when not waiting, at the deadline or on stopping).
  template <typename Call>
  int retryTls(Call call, bool wait, Deadline deadline, int* code);
  void closeSocket();

  int fd;  // owned; -1 once closed
  std::shared_ptr<const ServerTls> tls;
  ssl_st* session;  // owned; null for plain TCP
  const std::atomic<bool>& stopping;
  bool writeShut;  // ShutdownWrite has run
};

#endif  // FERRET_TESTS_SUPPORT_SERVERSTREAM_H_
