// Counts every heap allocation of the process, so a benchmark can show that a hot path
// allocates nothing. It replaces the global allocation functions: include it in exactly one
// file of a benchmark program.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace djkivo::bench {

inline std::atomic<std::uint64_t> g_allocations{0};

/// Allocations made so far, by any thread.
inline std::uint64_t Allocations() { return g_allocations.load(std::memory_order_relaxed); }

}  // namespace djkivo::bench

// GCC cannot see that these replacements pair with each other.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  djkivo::bench::g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1))
    return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop
