// TlsTestClient: a small blocking TLS client for loopback tests of the test
// servers themselves (ScriptedServer over TLS, nginx over HTTPS), written
// straight on OpenSSL so that those checks do not depend on the network code
// the servers are used to test.
//
// It trusts only the CA file given to Handshake, requires TLS 1.2 or later,
// and checks the peer's certificate against the expected host: an IP literal
// against the certificate's IP subjectAltNames, anything else as a DNS name
// (which is also sent as SNI). Every wait is bounded by the timeout given at
// construction (SO_RCVTIMEO / SO_SNDTIMEO). One thread uses an object.
#ifndef FERRET_TESTS_SUPPORT_TLSTESTCLIENT_H_
#define FERRET_TESTS_SUPPORT_TLSTESTCLIENT_H_

#include <cstdint>
#include <string>

struct ssl_st;
struct ssl_ctx_st;

class TlsTestClient {
 public:
  // How ReadAll's stream ended.
  enum class End {
    kNotYet,            // ReadAll has not ended a stream
    kCloseNotify,       // the peer's close_notify: an orderly TLS close
    kEofWithoutNotify,  // TCP FIN with no close_notify before it
    kReset,             // ECONNRESET
    kTimeout,           // nothing for the timeout
    kError              // anything else; see Error()
  };

  // Connects over TCP to address (host byte order) and port; Connected()
  // tells whether that worked.
  TlsTestClient(uint32_t address, int port, int timeoutMs = 10000);
  ~TlsTestClient();
  TlsTestClient(const TlsTestClient&) = delete;
  TlsTestClient& operator=(const TlsTestClient&) = delete;

  bool Connected() const { return fd != -1; }

  // The client's handshake. "" on success; otherwise why it failed: the
  // verifier's text (e.g. "certificate has expired"), "timed out", or
  // OpenSSL's error text.
  std::string Handshake(const std::string& caFile, const std::string& host);
  // The certificate verification result of the last handshake: X509_V_OK or
  // an X509_V_ERR_* code.
  long VerifyResult() const;

  // Sends all of bytes as application data; false on failure.
  bool Send(const std::string& bytes);
  // The negotiated protocol after a handshake: "TLSv1.2", "TLSv1.3".
  std::string Protocol() const;

  // Reads application data until the stream ends, and returns it all;
  // Ending() then tells how it ended.
  std::string ReadAll();
  End Ending() const { return ending; }
  const std::string& Error() const { return error; }

 private:
  int fd;               // owned; -1 when the connect failed
  ssl_ctx_st* context;  // owned; null before Handshake
  ssl_st* session;      // owned; null before Handshake
  End ending;
  std::string error;  // the reason of the last failure
};

#endif  // FERRET_TESTS_SUPPORT_TLSTESTCLIENT_H_
