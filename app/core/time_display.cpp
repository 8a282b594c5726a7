#include "app/core/time_display.h"

namespace djkivo::app {

std::string TimeText(std::uint32_t seconds) {
  std::uint32_t minutes = seconds / 60;
  std::uint32_t rest = seconds % 60;
  std::string text = std::to_string(minutes) + ":";
  if (rest < 10)
    text += '0';
  return text + std::to_string(rest);
}

std::uint32_t ElapsedSeconds(std::int64_t total_time, std::int64_t position, std::int64_t size) {
  if (size <= 0)
    return 0;
  __int128 quotient = static_cast<__int128>(total_time) * position / size;
  return static_cast<std::uint32_t>(static_cast<unsigned __int128>(quotient));
}

TimeTexts ComputeTimeTexts(std::int64_t total_time, std::int64_t position, std::int64_t size) {
  return TimeTexts{TimeText(ElapsedSeconds(total_time, position, size)),
                   TimeText(static_cast<std::uint32_t>(total_time))};
}

int TitleLeft(int left, int right, int title_width) {
  int x = left + (right - left) / 2 - title_width / 2;
  return x < left ? left : x;
}

int TotalTimeLeft(int right, int text_width) { return right - text_width - 1; }

}  // namespace djkivo::app
