// Reading a file whole and replacing one whole, atomically and durably. Any thread; each call
// stands alone.
#pragma once

#include <string>
#include <string_view>

namespace djkivo::app {

/// Reads the whole file at `path` into `bytes` (appended). Returns 0 or the errno of the
/// failure (ENOENT for a missing file).
int ReadWholeFile(const std::string& path, std::string& bytes);

/// Replaces the file at `path` with `bytes` (creating it when missing) so that a crash or a
/// power cut at any moment leaves either the old content or the new, never a mix or an empty
/// file: the bytes go to a temporary file beside it, which is flushed to disk, renamed over
/// `path`, and the folder flushed so the rename itself is on disk when this returns. A replaced
/// file keeps its permissions (a private file stays private), and a file the user may not
/// write is not replaced behind their back. Returns 0 or the errno of the failure; no
/// temporary file is left on failure.
int ReplaceWholeFile(const std::string& path, std::string_view bytes);

}  // namespace djkivo::app
