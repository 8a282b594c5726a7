#include "app/core/paging.h"

#include <climits>

#include <gtest/gtest.h>

#include "app/core/text.h"

namespace djkivo::app {
namespace {

constexpr auto kFirst = PagingButton::kFirst;
constexpr auto kPrevious = PagingButton::kPrevious;
constexpr auto kNext = PagingButton::kNext;
constexpr auto kGoTo = PagingButton::kGoTo;
constexpr int kNothing = 0;  // no page: the click does nothing

TEST(PagingTest, RuleTable) {
  const struct {
    PagingButton button;
    int category;
    int current;
    const char* box;
    int expected;
  } kCases[] = {
      {kFirst, 1, 7, "x", 1},
      {kFirst, 0, 1, "", 1},
      {kPrevious, 1, 1, "", kNothing},
      {kPrevious, 2, 2, "", 1},
      {kPrevious, 0, 9, "", 8},
      {kPrevious, 10, 0, "", 1},
      {kPrevious, 10, -4, "", 1},
      {kPrevious, 10, INT_MIN, "", 1},
      {kNext, 7, 1, "", 2},
      {kNext, 0, 999, "", 1000},
      {kNext, 8, -3, "", 1},
      {kNext, 8, INT_MAX, "", 1},
      {kGoTo, 4, 1, "12", 12},
      {kGoTo, 4, 3, " $A", 10},
      {kGoTo, 0, 3, "0", 1},
      {kGoTo, 9, 3, "-7", 1},
      // The home picture, the play list and header items: nothing, not even a conversion.
      {kFirst, -1, 3, "", kNothing},
      {kNext, 5, 3, "", kNothing},
      {kGoTo, 5, 3, "bad", kNothing},
      {kGoTo, -1, 3, "bad", kNothing},
      {kNext, 6, 3, "", kNothing},
      {kNext, 12, 3, "", kNothing},
  };
  for (const auto& c : kCases) {
    const std::optional<int> page = PagingTarget(c.button, c.category, c.current, c.box);
    EXPECT_EQ(page.value_or(kNothing), c.expected)
        << static_cast<int>(c.button) << " category " << c.category << " page " << c.current;
  }
}

TEST(PagingTest, GoToWithoutANumberThrowsTheConversionMessage) {
  for (const char* box : {"", "abc", "2\r\n", "3 "}) {
    try {
      PagingTarget(kGoTo, 1, 3, box);
      ADD_FAILURE() << box;
    } catch (const EConvertError& error) {
      EXPECT_EQ(error.what(), "'" + std::string(box) + "' is not a valid integer value");
    }
  }
}

}  // namespace
}  // namespace djkivo::app
