// The socket BIO. Covered by every TLS test (tests/net/https_client_test.cpp and the demo
// site's tests/demo/demo_site_tls_test.cpp).
#include "net/tls_socket_bio.h"

#include <openssl/bio.h>
#include <sys/socket.h>
#include <cerrno>

namespace djkivo::net {

namespace {

struct SocketState {
  int fd = -1;
  bool eof = false;
};

SocketState* State(BIO* bio) { return static_cast<SocketState*>(BIO_get_data(bio)); }

bool Retryable(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }

int Write(BIO* bio, const char* data, size_t size, size_t* written) {
  BIO_clear_retry_flags(bio);
  const ssize_t sent = ::send(State(bio)->fd, data, size, MSG_NOSIGNAL);
  if (sent >= 0) {
    *written = static_cast<size_t>(sent);
    return 1;
  }
  if (Retryable(errno))
    BIO_set_retry_write(bio);
  return 0;
}

int Read(BIO* bio, char* data, size_t size, size_t* read) {
  BIO_clear_retry_flags(bio);
  const ssize_t received = ::recv(State(bio)->fd, data, size, 0);
  if (received > 0) {
    *read = static_cast<size_t>(received);
    return 1;
  }
  if (received == 0)
    State(bio)->eof = true;
  else if (Retryable(errno))
    BIO_set_retry_read(bio);
  return 0;
}

long Control(BIO* bio, int command, long, void*) {
  switch (command) {
    case BIO_CTRL_FLUSH:
      return 1;
    case BIO_CTRL_EOF:
      return State(bio)->eof ? 1 : 0;
    default:
      return 0;
  }
}

int Create(BIO* bio) {
  BIO_set_data(bio, new SocketState);
  BIO_set_init(bio, 1);
  return 1;
}

int Destroy(BIO* bio) {
  delete State(bio);
  BIO_set_data(bio, nullptr);
  return 1;
}

// One method table for the process, made on first use.
const BIO_METHOD* Method() {
  static BIO_METHOD* method = [] {
    BIO_METHOD* made =
        BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK | BIO_TYPE_DESCRIPTOR, "socket");
    if (made) {
      BIO_meth_set_write_ex(made, Write);
      BIO_meth_set_read_ex(made, Read);
      BIO_meth_set_ctrl(made, Control);
      BIO_meth_set_create(made, Create);
      BIO_meth_set_destroy(made, Destroy);
    }
    return made;
  }();
  return method;
}

}  // namespace

bio_st* NewSocketBio(int fd) {
  const BIO_METHOD* method = Method();
  if (!method)
    return nullptr;
  BIO* bio = BIO_new(method);
  if (bio)
    State(bio)->fd = fd;
  return bio;
}

}  // namespace djkivo::net
