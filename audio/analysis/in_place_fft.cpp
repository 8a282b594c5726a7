#include "audio/analysis/in_place_fft.h"

#include <cmath>
#include <utility>

namespace djkivo {

void InPlaceFFT(TComplexSingle* x, std::size_t n, int direction) {
  if (n < 2)
    return;
  std::size_t m = 0;
  while ((std::size_t{2} << m) <= n)
    ++m;

  // Bit-reversal permutation.
  std::size_t j = 0;
  for (std::size_t i = 0; i + 1 < n; ++i) {
    if (i < j)
      std::swap(x[i], x[j]);
    std::size_t k = n / 2;
    while (k <= j) {
      j -= k;
      k /= 2;
    }
    j += k;
  }

  // Butterflies, with the twiddle factor advanced by a rotation per column.
  float c1 = -1.0f;
  float c2 = 0.0f;
  std::size_t l2 = 1;
  for (std::size_t stage = 0; stage < m; ++stage) {
    const std::size_t l1 = l2;
    l2 *= 2;
    float u1 = 1.0f;
    float u2 = 0.0f;
    for (std::size_t col = 0; col < l1; ++col) {
      for (std::size_t i = col; i < n; i += l2) {
        const std::size_t i1 = i + l1;
        const float t1 = u1 * x[i1].Re - u2 * x[i1].Im;
        const float t2 = u1 * x[i1].Im + u2 * x[i1].Re;
        x[i1].Re = x[i].Re - t1;
        x[i1].Im = x[i].Im - t2;
        x[i].Re += t1;
        x[i].Im += t2;
      }
      const float z = u1 * c1 - u2 * c2;
      u2 = u1 * c2 + u2 * c1;
      u1 = z;
    }
    c2 = std::sqrt((1.0f - c1) / 2.0f);
    if (direction == 1)
      c2 = -c2;
    c1 = std::sqrt((1.0f + c1) / 2.0f);
  }
}

}  // namespace djkivo
