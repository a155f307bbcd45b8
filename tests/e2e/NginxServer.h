// NginxServer: a real nginx serving a directory on free loopback ports, for
// end-to-end tests and benchmarks.
//
// nginx runs in the foreground as a child of the test process, with every
// file it writes (configuration, logs, pid, temporary files) kept in a
// temporary directory of the object's own. It listens only on 127.0.0.1:
// plain HTTP on Port(), and, after EnableTls, HTTPS on a second port,
// TlsPort(), serving the same root with a test certificate; after
// EnableIpv6, each also on the same port of ::1. Stop, or destruction, ends
// it and waits for it.
#ifndef FERRET_TESTS_E2E_NGINXSERVER_H_
#define FERRET_TESTS_E2E_NGINXSERVER_H_

#include <sys/types.h>

#include <string>

#include "tests/common/Files.h"
#include "tests/support/TestCertificates.h"

// The installed nginx binary, or "" when there is none.
std::string FindNginx();

class NginxServer {
 public:
  NginxServer() = default;
  ~NginxServer() { Stop(); }
  NginxServer(const NginxServer&) = delete;
  NginxServer& operator=(const NginxServer&) = delete;

  // From the next Start, also serves HTTPS with certificate (TLS 1.2 and
  // 1.3), which must outlive the server; TestPki() members do.
  void EnableTls(const TestCertificate& certificate);
  // From the next Start, also listens on ::1 (which the machine must have:
  // HasIpv6Loopback).
  void EnableIpv6() { ipv6 = true; }
  // From the next Start, a connection serves at most requests requests
  // (nginx's keepalive_requests; its default is 1000) before nginx closes it.
  void SetKeepaliveRequests(int requests) { keepaliveRequests = requests; }
  // From the next Start, text answers (HTML, CSS, plain text, CSV) are sent
  // gzip-encoded to a client that asks for it.
  void EnableGzip() { gzip = true; }

  // Starts binary serving root (index.html as the directory index); true
  // once every port answers. Retries with other ports when one was taken.
  bool Start(const std::string& binary, const std::string& root);
  void Stop();

  int Port() const { return port; }
  int TlsPort() const { return tlsPort; }  // -1 without EnableTls
  // nginx's error log so far, for failure messages.
  std::string Log() const;
  // What the server answered: its access log, one request a line.
  std::string AccessLog() const;
  // nginx logs a request once it has sent the answer, which may be after
  // the client has read it and ended. Returns once every request answered
  // before the call is in the logs: it asks for a marker over plain HTTP,
  // which the one worker handles after them, and waits (boundedly) for its
  // line, which only AccessLog holds.
  void AwaitLogged();
  // Of the HTTPS server's requests, one a line: the connection's number,
  // whether its TLS session was resumed ("r") or not ("."), and the protocol
  // ALPN chose ("" when the client offered none).
  std::string TlsLog() const;
  // Of the HTTP server's requests, one a line: the connection's number and
  // the request's number on it (1 for the first).
  std::string ConnectionLog() const;

 private:
  void writeConfig(const std::string& root);
  bool waitUntilAnswering();

  TempDir scratch{"ferret-nginx"};
  const std::string& dir = scratch.Path();
  const TestCertificate* certificate = nullptr;  // not owned; null: no HTTPS
  bool ipv6 = false;
  int markers = 0;  // AwaitLogged calls so far
  int keepaliveRequests = 0;  // 0: nginx's default
  bool gzip = false;
  pid_t pid = -1;
  int port = -1;
  int tlsPort = -1;
};

#endif  // FERRET_TESTS_E2E_NGINXSERVER_H_
