#include "tests/support/TlsTestClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tests/support/TlsSocket.h"

namespace {

// OpenSSL's text for the oldest queued error, which it then clears.
std::string queuedError() {
  unsigned long code = ERR_get_error();
  char text[256] = "unknown TLS error";
  if (code != 0) ERR_error_string_n(code, text, sizeof(text));
  ERR_clear_error();
  return text;
}

}  // namespace

TlsTestClient::TlsTestClient(uint32_t address, int port, int timeoutMs)
    : fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)),
      context(nullptr),
      session(nullptr),
      ending(End::kNotYet) {
  timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  sockaddr_in peer;
  std::memset(&peer, 0, sizeof(peer));
  peer.sin_family = AF_INET;
  peer.sin_port = htons(static_cast<uint16_t>(port));
  peer.sin_addr.s_addr = htonl(address);
  if (fd == -1 || setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit)) != 0 ||
      setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof(limit)) != 0 ||
      connect(fd, reinterpret_cast<sockaddr*>(&peer), sizeof(peer)) != 0) {
    error = std::string("connect: ") + std::strerror(errno);
    if (fd != -1) close(fd);
    fd = -1;
  }
}

TlsTestClient::~TlsTestClient() {
  SSL_free(session);
  SSL_CTX_free(context);
  if (fd != -1) close(fd);
}

std::string TlsTestClient::Handshake(const std::string& caFile, const std::string& host) {
  if (fd == -1 || session != nullptr) return error = "not connected, or handshaken before";
  ERR_clear_error();
  context = SSL_CTX_new(TLS_client_method());
  if (context == nullptr || SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION) != 1 ||
      SSL_CTX_load_verify_locations(context, caFile.c_str(), nullptr) != 1) {
    return error = queuedError();
  }
  SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
  session = SSL_new(context);
  if (session == nullptr || !AttachSocket(session, fd)) return error = queuedError();
  X509_VERIFY_PARAM* check = SSL_get0_param(session);
  // set1_ip_asc accepts only an IP literal; anything else is a host name.
  if (X509_VERIFY_PARAM_set1_ip_asc(check, host.c_str()) != 1) {
    ERR_clear_error();
    if (X509_VERIFY_PARAM_set1_host(check, host.c_str(), 0) != 1 ||
        SSL_set_tlsext_host_name(session, host.c_str()) != 1) {
      return error = queuedError();
    }
  }
  errno = 0;
  int result = SSL_connect(session);
  if (result == 1) return error = "";
  int code = SSL_get_error(session, result);
  long verified = SSL_get_verify_result(session);
  if (verified != X509_V_OK) {
    error = X509_verify_cert_error_string(verified);
  } else if (code == SSL_ERROR_WANT_READ || code == SSL_ERROR_WANT_WRITE) {
    error = "timed out";
  } else if (code == SSL_ERROR_SYSCALL && ERR_peek_error() == 0) {
    error = errno != 0 ? std::strerror(errno) : "connection closed";
  } else {
    error = queuedError();
  }
  ERR_clear_error();
  return error;
}

long TlsTestClient::VerifyResult() const {
  return session != nullptr ? SSL_get_verify_result(session) : X509_V_ERR_UNSPECIFIED;
}

std::string TlsTestClient::Protocol() const {
  return session != nullptr ? SSL_get_version(session) : "";
}

bool TlsTestClient::Send(const std::string& bytes) {
  if (session == nullptr) return false;
  ERR_clear_error();
  if (SSL_write(session, bytes.data(), static_cast<int>(bytes.size())) > 0) return true;
  error = queuedError();
  return false;
}

std::string TlsTestClient::ReadAll() {
  std::string all;
  if (session == nullptr) {
    ending = End::kError;
    return all;
  }
  char chunk[4096];
  for (;;) {
    ERR_clear_error();
    errno = 0;
    int got = SSL_read(session, chunk, sizeof(chunk));
    if (got > 0) {
      all.append(chunk, got);
      continue;
    }
    int code = SSL_get_error(session, got);
    unsigned long queued = ERR_peek_error();
    if (code == SSL_ERROR_ZERO_RETURN) {
      ending = End::kCloseNotify;
    } else if (code == SSL_ERROR_SSL &&
               ERR_GET_REASON(queued) == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
      ending = End::kEofWithoutNotify;
    } else if (code == SSL_ERROR_SYSCALL && errno == ECONNRESET) {
      ending = End::kReset;
    } else if (code == SSL_ERROR_WANT_READ || code == SSL_ERROR_WANT_WRITE) {
      ending = End::kTimeout;
    } else {
      ending = End::kError;
      error = queuedError();
    }
    ERR_clear_error();
    return all;
  }
}
