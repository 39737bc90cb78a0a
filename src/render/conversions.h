// Float-to-integer conversions of the renderer. Where the value is in range
// they truncate toward zero exactly as a cast does; where a cast would be
// undefined they are defined: NaN gives 0 and out-of-range values saturate.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace tilvane {

// Truncates toward zero into a signed 32-bit integer. A float argument
// widens to double exactly, so this serves single precision too.
inline int32_t TruncToInt32(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483648.0) return std::numeric_limits<int32_t>::max();
  // Anything above -2^31 - 1 truncates to -2^31 or more.
  if (value <= -2147483649.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

// floor(value) both as a double and as a signed 32-bit integer, the integer
// defined as TruncToInt32(floor(value)) is: NaN gives 0, out-of-range values
// saturate. Inside the 32-bit range no library floor is needed: truncation
// toward zero, stepped down once for negative values with a fraction.
struct Floor {
  double value;
  int32_t index;
};
inline Floor FloorOf(double value) {
  if (value > -2147483648.0 && value < 2147483648.0) {  // false for NaN
    int32_t index = static_cast<int32_t>(value);
    double whole = static_cast<double>(index);
    if (whole > value) {
      --index;
      whole -= 1.0;
    }
    // -0.0 becomes +0.0 here; value − whole is then −0.0 instead of +0.0,
    // and a fraction of ±0 leaves every interpolation result the same.
    return {whole, index};
  }
  const double whole = std::floor(value);
  return {whole, TruncToInt32(whole)};
}

// Truncates toward zero into an unsigned channel; NaN and negative values
// give 0, values beyond the channel type's largest value give that value.
template <typename Channel>
inline Channel TruncToChannel(double value) {
  constexpr double kLargest = std::numeric_limits<Channel>::max();
  const double clamped = value > 0.0 ? (value < kLargest ? value : kLargest) : 0.0;
  return static_cast<Channel>(clamped);
}

}  // namespace tilvane
