// Integer PCM samples to floating point, for the spectrum analyser. Tested by
// tests/audio/analysis/spectrum_math_test.cpp.
#pragma once

#include <cstddef>

namespace djkivo {

/// Each routine reads `count` little-endian samples from `source` (no alignment needed) and
/// writes one float per sample, in order, scaled by the exact power of two that maps the
/// sample range onto [-1, 1).

/// Unsigned 8-bit: x / 128 - 1 (byte 128 is 0.0).
void Int8ToFloat(const void* source, float* dest, std::size_t count);
/// Signed 16-bit: x / 32768.
void Int16ToFloat(const void* source, float* dest, std::size_t count);
/// Signed 24-bit: x / 8388608.
void Int24ToFloat(const void* source, float* dest, std::size_t count);
/// Signed 32-bit integer: x / 2147483648.
void Int32ToFloat(const void* source, float* dest, std::size_t count);

}  // namespace djkivo
