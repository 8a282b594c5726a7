// Permission checks in tests: they do not hold back root, so a test that needs them runs the
// checked part in a child (EXPECT_EXIT) that gives up root first.
#pragma once

#include <unistd.h>

#include <cstdlib>

namespace djkivo::test {

/// The uid and gid a child takes when it gives up root ("nobody").
inline constexpr int kUnprivilegedId = 65534;

/// In a child process: becomes the unprivileged user when running as root (exits with 3 if it
/// cannot); does nothing otherwise.
inline void DropRoot() {
  if (::geteuid() == 0 && (::setgid(kUnprivilegedId) != 0 || ::setuid(kUnprivilegedId) != 0))
    std::_Exit(3);
}

}  // namespace djkivo::test
