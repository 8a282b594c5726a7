// The playing-time texts and the title placement of the window's display panel, without Qt.
#pragma once

#include <cstdint>
#include <string>

namespace djkivo::app {

/// "M:SS" for a number of seconds: unpadded minutes (they may exceed 59), two-digit seconds.
/// 5 -> "0:05", 187 -> "3:07", 4500 -> "75:00".
std::string TimeText(std::uint32_t seconds);

/// The elapsed seconds the display shows: `total_time` × `position` div `size`, each a byte or
/// second count of the playing source, the low 32 bits of the quotient taken as unsigned.
/// A source of unknown or zero size (`size` <= 0) has elapsed 0, never a division by zero;
/// the product is formed in 128 bits so a long stream cannot overflow it.
std::uint32_t ElapsedSeconds(std::int64_t total_time, std::int64_t position, std::int64_t size);

/// The two time texts of the display panel, computed together on each analyser tick.
struct TimeTexts {
  std::string elapsed;
  std::string total;
};

/// The texts for a source with `total_time` whole seconds, read `position` of `size` bytes.
/// A source of unknown length (total 0, size -1) shows "0:00" twice.
TimeTexts ComputeTimeTexts(std::int64_t total_time, std::int64_t position, std::int64_t size);

/// Left edge of the title: centred in [left, right), each halving rounding toward zero, but
/// never left of `left`, so a title wider than the panel starts at its edge and is cut at the
/// right.
int TitleLeft(int left, int right, int title_width);

/// Left edge of the total-time text: right-aligned with a 1-pixel margin.
int TotalTimeLeft(int right, int text_width);

/// Vertical offset of the two time texts below the title line, in pixels.
inline constexpr int kTimeLineOffset = 13;

}  // namespace djkivo::app
