// TlsSocket: attaching a TCP socket to a test-side TLS session without
// SIGPIPE.
//
// OpenSSL's socket BIO writes with write(2), which raises SIGPIPE when the
// peer has gone. The test process deliberately leaves SIGPIPE at its
// default, so that the network code under test must avoid it itself; the
// test servers and test clients therefore write with send(MSG_NOSIGNAL).
#ifndef FERRET_TESTS_SUPPORT_TLSSOCKET_H_
#define FERRET_TESTS_SUPPORT_TLSSOCKET_H_

struct ssl_st;

// As SSL_set_fd(session, fd): fd is used for both directions and is not
// closed with the session. Writes fail with EPIPE instead of raising
// SIGPIPE. false when OpenSSL fails.
bool AttachSocket(ssl_st* session, int fd);

#endif  // FERRET_TESTS_SUPPORT_TLSSOCKET_H_
