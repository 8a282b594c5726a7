// Covered by tests/app/soak_test.cpp (the resident set over hundreds of songs).
#include "app/core/heap_policy.h"

#include <malloc.h>

namespace djkivo::app {

void LimitHeapGrowth() {
  // Setting the threshold also turns off glibc's moving of it.
  mallopt(M_MMAP_THRESHOLD, kMappedBufferBytes);
  mallopt(M_ARENA_MAX, kHeapArenas);
}

}  // namespace djkivo::app
