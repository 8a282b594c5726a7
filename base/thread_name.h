// Names for the player's threads, so `top -H`, `perf` and a debugger tell them apart.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace djkivo {

/// The longest name the kernel keeps for a thread (its 16-byte `comm`, less the terminator).
inline constexpr std::size_t kThreadNameLimit = 15;

/// What every name the player gives its threads begins with, so they are told from the threads
/// of Qt, D-Bus, GLib and the sound system.
inline constexpr std::string_view kThreadNamePrefix = "djk-";

/// Names the calling thread `name`, cut to `kThreadNameLimit` bytes. A thread calls it first
/// thing in its body; naming is a help for the people looking at the process, so a failure is
/// ignored.
void NameThisThread(std::string_view name);

/// The calling thread's name as the kernel reports it (empty when it cannot be read).
std::string ThisThreadName();

}  // namespace djkivo
