// What this process holds right now, read from /proc: resident memory, threads, descriptors.
// For tests that check nothing grows over a long run.
#pragma once

namespace djkivo::test {

/// The resident set of this process, in MiB.
double ResidentMib();

/// Threads the program starts itself (page loads, the audio chain, the version check, the demo
/// site's connections): those named with `kThreadNamePrefix` and those still carrying the
/// process's own name. Qt, D-Bus and GLib name their threads, so theirs are not counted.
int OwnThreads();

/// Open file descriptors of this process.
int OpenDescriptors();

}  // namespace djkivo::test
