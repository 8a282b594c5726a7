// OpenSSL's own words for what went wrong, for the messages of TLS failures.
#pragma once

#include <string>

namespace djkivo::net {

/// The reason of the first error OpenSSL queued on this thread ("wrong version number"), with
/// its reason code in `code` when given; "unknown error" (code 0) when none is queued. Clears
/// the thread's queue.
std::string TakeOpenSslReason(int* code = nullptr);

}  // namespace djkivo::net
