#include "audio/analysis/in_place_fft.h"

#include <array>
#include <cmath>
#include <utility>

namespace djkivo {

namespace {

inline void Butterfly(TComplexSingle* x, std::size_t i, std::size_t i1, float u1, float u2) {
  const float t1 = u1 * x[i1].Re - u2 * x[i1].Im;
  const float t2 = u1 * x[i1].Im + u2 * x[i1].Re;
  x[i1].Re = x[i].Re - t1;
  x[i1].Im = x[i].Im - t2;
  x[i].Re += t1;
  x[i].Im += t2;
}

// Runs the butterflies of an n-point transform whose input is already in bit-reversed order.
// `twiddle` receives (when not null) each column's factor in the order they are used.
void Butterflies(TComplexSingle* x, std::size_t n, int direction, float (*twiddle)[2]) {
  std::size_t m = 0;
  while ((std::size_t{2} << m) <= n)
    ++m;
  // The twiddle factor advances by a rotation per column; the rotation halves per stage.
  float c1 = -1.0f;
  float c2 = 0.0f;
  std::size_t l2 = 1;
  for (std::size_t stage = 0; stage < m; ++stage) {
    const std::size_t l1 = l2;
    l2 *= 2;
    float u1 = 1.0f;
    float u2 = 0.0f;
    for (std::size_t col = 0; col < l1; ++col) {
      if (twiddle) {
        (*twiddle)[0] = u1;
        (*twiddle)[1] = u2;
        ++twiddle;
      }
      for (std::size_t i = col; i < n; i += l2)
        Butterfly(x, i, i + l1, u1, u2);
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

// The 15 column factors of the forward 16-point transform (1 + 2 + 4 + 8 columns), taken from
// the very recurrence `InPlaceFFT` runs, so the table gives identical results.
struct Twiddles16 {
  Twiddles16() {
    TComplexSingle scratch[16] = {};
    Butterflies(scratch, 16, 1, factor);
  }
  float factor[15][2];
};

}  // namespace

void InPlaceFFT(TComplexSingle* x, std::size_t n, int direction) {
  if (n < 2)
    return;
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
  Butterflies(x, n, direction, nullptr);
}

void InPlaceFFT16(TComplexSingle* x) {
  static const Twiddles16 kTwiddles;
  constexpr std::array<std::pair<int, int>, 6> kSwaps = {
      {{1, 8}, {2, 4}, {3, 12}, {5, 10}, {7, 14}, {11, 13}}};
  for (const auto& [a, b] : kSwaps)
    std::swap(x[a], x[b]);
  const float(*factor)[2] = kTwiddles.factor;
  for (std::size_t l1 = 1; l1 < 16; l1 *= 2) {
    for (std::size_t col = 0; col < l1; ++col, ++factor)
      for (std::size_t i = col; i < 16; i += 2 * l1)
        Butterfly(x, i, i + l1, (*factor)[0], (*factor)[1]);
  }
}

}  // namespace djkivo
