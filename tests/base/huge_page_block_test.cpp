#include "base/huge_page_block.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

namespace djkivo {
namespace {

struct Mapping {
  std::uintptr_t begin = 0;
  std::uintptr_t end = 0;
};

// The mapping of this process that holds `address`, as the kernel lists it (empty: none).
Mapping MappingAt(const void* address) {
  const auto where = reinterpret_cast<std::uintptr_t>(address);
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line)) {
    Mapping mapping;
    if (std::sscanf(line.c_str(), "%lx-%lx", &mapping.begin, &mapping.end) == 2 &&
        where >= mapping.begin && where < mapping.end)
      return mapping;
  }
  return {};
}

TEST(HugePageBlockTest, ALargeBlockStartsOnAHugePageAndIsZeroedAndWritableToItsLastByte) {
  // The read-ahead ring's size, and one that is not a whole number of huge pages.
  for (const std::size_t size : {std::size_t{6} << 20, (std::size_t{5} << 20) + 12345}) {
    HugePageBlock block(size);
    ASSERT_TRUE(block.mapped());
    EXPECT_EQ(block.size(), size);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block.data()) % HugePageBlock::kHugePageSize, 0u);
    EXPECT_EQ(block.data()[0], 0);
    EXPECT_EQ(block.data()[size - 1], 0);
    std::memset(block.data(), 0x5A, size);
    EXPECT_EQ(block.data()[size - 1], 0x5A);
  }
}

TEST(HugePageBlockTest, TheMappingEndsAtTheBlocksLastPageAndGoesWithIt) {
  const std::size_t size = (std::size_t{4} << 20) + 100;
  const std::uintptr_t last_page_end = ((std::size_t{4} << 20) + 4096);
  const std::uint8_t* data = nullptr;
  {
    HugePageBlock block(size);
    data = block.data();
    // What the alignment reserved past the block was given back (it always leaves a gap there,
    // so the block's mapping cannot have merged with a neighbour).
    EXPECT_EQ(MappingAt(data + size - 1).end,
              reinterpret_cast<std::uintptr_t>(data) + last_page_end);
  }
  EXPECT_EQ(MappingAt(data + size - 1).end, 0u);
}

TEST(HugePageBlockTest, ASmallBlockComesFromTheHeapZeroed) {
  HugePageBlock block(4096);
  EXPECT_FALSE(block.mapped());
  ASSERT_NE(block.data(), nullptr);
  for (std::size_t i = 0; i < block.size(); ++i)
    ASSERT_EQ(block.data()[i], 0) << i;
  HugePageBlock empty(0);
  EXPECT_NE(empty.data(), nullptr);
}

}  // namespace
}  // namespace djkivo
