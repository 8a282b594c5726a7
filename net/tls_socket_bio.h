// The OpenSSL BIO that every TLS session of the program (the client's, the demo site's, the
// tests' peers) runs over.
#pragma once

struct bio_st;

namespace djkivo::net {

/// A new BIO over the socket `fd`, for `SSL_set_bio`. Reads and writes never block (they ask
/// to be retried, as OpenSSL expects of a non-blocking socket) and a write to a peer that has
/// gone never raises SIGPIPE: OpenSSL's own socket BIO writes with write(2), whose signal
/// would end the whole program. A read of 0 bytes marks the end of the input (`BIO_eof`), so
/// OpenSSL tells a close without close_notify from a proper one. The BIO does not own `fd`.
/// Any thread; the BIO belongs to one session. Returns nullptr when OpenSSL is out of memory.
bio_st* NewSocketBio(int fd);

}  // namespace djkivo::net
