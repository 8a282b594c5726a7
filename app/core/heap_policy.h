// How the player's process asks the C library's allocator to keep its heap from growing over a
// long listening session.
#pragma once

namespace djkivo::app {

/// Buffers of `kMappedBufferBytes` and more (the cache's ring, the decoder's frames, a page
/// body) are mapped on their own and returned to the system when freed, and at most
/// `kHeapArenas` heap arenas serve the threads.
///
/// Without it, glibc raises its mapping threshold each time such a buffer is freed, so from
/// the first songs on every song's big buffers are carved out of the per-thread arenas, which
/// fragment and never shrink: over 300 songs the resident set grew by about 6 % and was still
/// growing. Call once at start-up, before the threads start; the window's tests call it as the
/// program does.
void LimitHeapGrowth();

/// The size from which an allocation is mapped on its own (glibc's default starting value,
/// held fixed).
inline constexpr int kMappedBufferBytes = 128 * 1024;
/// Heap arenas: the output, reader, cache and page-load threads seldom allocate at the same
/// moment, so two arenas serve them.
inline constexpr int kHeapArenas = 2;

}  // namespace djkivo::app
