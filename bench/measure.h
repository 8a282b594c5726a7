// What every benchmark shares: the `measure:` line that scripts/bench collects, and the median.
#pragma once

#include <algorithm>
#include <cstdio>
#include <vector>

namespace djkivo::bench {

/// Prints `measure: NAME ours=X anchor=Y ratio=R target=T unit=U` (ratio = ours / anchor). An
/// anchor of 0 or less means the measure has none: `anchor=-` and `ratio=-`.
inline void PrintMeasure(const char* name, double ours, double anchor, const char* target,
                         const char* unit) {
  if (anchor > 0)
    std::printf("measure: %s ours=%.6g anchor=%.6g ratio=%.3f target=%s unit=%s\n", name, ours,
                anchor, ours / anchor, target, unit);
  else
    std::printf("measure: %s ours=%.6g anchor=- ratio=- target=%s unit=%s\n", name, ours, target,
                unit);
}

/// The middle value (the upper one of an even count); 0 for none.
inline double Median(std::vector<double> values) {
  if (values.empty())
    return 0;
  auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  return *middle;
}

}  // namespace djkivo::bench
