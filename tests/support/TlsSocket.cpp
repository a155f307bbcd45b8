#include "tests/support/TlsSocket.h"

#include <openssl/bio.h>
#include <openssl/ssl.h>
#include <sys/socket.h>

#include <cerrno>

namespace {

int sendWithoutSigpipe(BIO* bio, const char* data, int size) {
  int fd = -1;
  BIO_get_fd(bio, &fd);
  errno = 0;
  long sent = send(fd, data, size, MSG_NOSIGNAL);
  BIO_clear_retry_flags(bio);
  if (sent <= 0 && BIO_sock_should_retry(static_cast<int>(sent))) BIO_set_retry_write(bio);
  return static_cast<int>(sent);
}

// The socket method with its write replaced; made once, never freed.
const BIO_METHOD* socketWithoutSigpipe() {
  static const BIO_METHOD* method = [] {
    const BIO_METHOD* base = BIO_s_socket();
    BIO_METHOD* made = BIO_meth_new(BIO_TYPE_SOCKET, "socket without SIGPIPE");
    if (made == nullptr) return static_cast<BIO_METHOD*>(nullptr);
    BIO_meth_set_write(made, sendWithoutSigpipe);
    BIO_meth_set_read(made, BIO_meth_get_read(base));
    BIO_meth_set_puts(made, BIO_meth_get_puts(base));
    BIO_meth_set_ctrl(made, BIO_meth_get_ctrl(base));
    BIO_meth_set_create(made, BIO_meth_get_create(base));
    BIO_meth_set_destroy(made, BIO_meth_get_destroy(base));
    return made;
  }();
  return method;
}

}  // namespace

bool AttachSocket(ssl_st* session, int fd) {
  const BIO_METHOD* method = socketWithoutSigpipe();
  BIO* bio = method != nullptr ? BIO_new(method) : nullptr;
  if (bio == nullptr) return false;
  BIO_set_fd(bio, fd, BIO_NOCLOSE);
  SSL_set_bio(session, bio, bio);  // the session owns bio now
  return true;
}
