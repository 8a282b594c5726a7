#include "audio/analysis/sample_conversion.h"

#include <cstdint>
#include <cstring>

namespace djkivo {

void Int8ToFloat(const void* source, float* dest, std::size_t count) {
  const auto* in = static_cast<const std::uint8_t*>(source);
  for (std::size_t i = 0; i < count; ++i)
    dest[i] = static_cast<float>(in[i]) * 0.0078125f - 1.0f;
}

void Int16ToFloat(const void* source, float* dest, std::size_t count) {
  const auto* in = static_cast<const std::uint8_t*>(source);
  for (std::size_t i = 0; i < count; ++i) {
    std::int16_t v;
    std::memcpy(&v, in + 2 * i, sizeof v);
    dest[i] = static_cast<float>(v) * 3.0517578125e-05f;
  }
}

void Int24ToFloat(const void* source, float* dest, std::size_t count) {
  const auto* in = static_cast<const std::uint8_t*>(source);
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* s = in + 3 * i;
    // Assemble in the top three bytes, then shift back down to sign-extend.
    const auto v = static_cast<std::int32_t>(static_cast<std::uint32_t>(s[0]) << 8 |
                                             static_cast<std::uint32_t>(s[1]) << 16 |
                                             static_cast<std::uint32_t>(s[2]) << 24) >>
                   8;
    dest[i] = static_cast<float>(v) * 1.1920928955078125e-07f;
  }
}

void Int32ToFloat(const void* source, float* dest, std::size_t count) {
  const auto* in = static_cast<const std::uint8_t*>(source);
  for (std::size_t i = 0; i < count; ++i) {
    std::int32_t v;
    std::memcpy(&v, in + 4 * i, sizeof v);
    dest[i] = static_cast<float>(v) * 4.656612873077393e-10f;
  }
}

}  // namespace djkivo
