#include "base/huge_page_block.h"

#include <sys/mman.h>
#include <unistd.h>

#include <new>

namespace djkivo {

namespace {

std::size_t RoundUp(std::size_t value, std::size_t step) {
  return (value + step - 1) / step * step;
}

}  // namespace

HugePageBlock::HugePageBlock(std::size_t size) : size_(size) {
  if (size < kHugePageSize) {
    data_ = new std::uint8_t[size == 0 ? 1 : size]();
    return;
  }
  const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  const std::size_t length = RoundUp(size, page);
  // Map a huge page more than needed, then give back the head before the first boundary and
  // whatever lies past the block.
  const std::size_t reserve = length + kHugePageSize;
  void* raw = mmap(nullptr, reserve, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED)
    throw std::bad_alloc();
  const auto start = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t aligned = RoundUp(start, kHugePageSize);
  if (aligned > start)
    munmap(raw, aligned - start);
  const std::uintptr_t end = aligned + length;
  if (start + reserve > end)
    munmap(reinterpret_cast<void*>(end), start + reserve - end);
  data_ = reinterpret_cast<std::uint8_t*>(aligned);
  mapped_length_ = length;
  // Advice only: a kernel without transparent huge pages (or with them switched off) refuses
  // it, and the block is then made of plain pages.
  madvise(data_, mapped_length_, MADV_HUGEPAGE);
}

HugePageBlock::~HugePageBlock() {
  if (mapped_length_ != 0)
    munmap(data_, mapped_length_);
  else
    delete[] data_;
}

}  // namespace djkivo
