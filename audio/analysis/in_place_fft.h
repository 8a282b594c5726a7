// An in-place radix-2 complex FFT in single precision. Tested by
// tests/audio/analysis/spectrum_math_test.cpp.
#pragma once

#include <cstddef>

namespace djkivo {

/// One complex value: real part, then imaginary part (8 bytes, no padding).
struct TComplexSingle {
  float Re;
  float Im;
};
static_assert(sizeof(TComplexSingle) == 8, "the FFT swaps whole 8-byte elements");

/// Transforms the `n` values of `x` in place; `n` must be a power of two. `direction` 1 is
/// the forward transform X[k] = sum x[j] e^(-2 pi i jk / n); any other value gives the inverse
/// kernel. Neither direction scales by 1/n. Every intermediate is rounded to single precision,
/// and the twiddle factors come from the same single-precision recurrence on every call.
void InPlaceFFT(TComplexSingle* x, std::size_t n, int direction);

/// The forward 16-point transform, bit for bit what `InPlaceFFT(x, 16, 1)` gives (the same
/// operations in the same order, with the twiddle factors of the same recurrence taken from a
/// table), for the spectrum stage's inner loop.
void InPlaceFFT16(TComplexSingle* x);

}  // namespace djkivo
