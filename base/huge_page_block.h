// Memory for a large buffer that lives long and is filled whole (the read-ahead ring): mapped on
// its own, starting on a huge-page boundary and marked for huge pages, so that filling it takes
// a few page faults instead of one per 4 KiB page.
#pragma once

#include <cstddef>
#include <cstdint>

namespace djkivo {

/// A block of at least `size` writable bytes. Blocks of at least `kHugePageSize` are mapped on
/// their own, aligned to it and marked for transparent huge pages; where the kernel does not
/// use them the block works as plain pages. Smaller blocks come from the heap. The contents
/// start as zero bytes. The mapping ends past the last 4 KiB page of `size`, so a size that is
/// not a whole number of huge pages never holds more than it asked for.
class HugePageBlock {
 public:
  /// The huge-page size of x86-64 and of most arm64 kernels.
  static constexpr std::size_t kHugePageSize = std::size_t{2} << 20;

  /// Throws std::bad_alloc when the memory cannot be had.
  explicit HugePageBlock(std::size_t size);
  ~HugePageBlock();
  HugePageBlock(const HugePageBlock&) = delete;
  HugePageBlock& operator=(const HugePageBlock&) = delete;

  std::uint8_t* data() const { return data_; }
  std::size_t size() const { return size_; }
  /// True when the block is a mapping of its own (and so aligned to kHugePageSize).
  bool mapped() const { return mapped_length_ != 0; }

 private:
  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t mapped_length_ = 0;  // 0: the block came from the heap
};

}  // namespace djkivo
