// Rates and times as exact fractions: frames a second as N/D, so that the
// NTSC rates (24000/1001, ...) and a movie's own time base stay exact.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tilvane_tool {

// Frames a second, num / den, both at least 1 and in lowest terms.
struct Rate {
  int64_t num = 30;
  int64_t den = 1;
  bool operator==(const Rate&) const = default;
  // "25", "24000/1001".
  std::string text() const;
  // "25 fps", "23.976 fps (24000/1001)".
  std::string shown() const;
};

// The fraction in lowest terms; none unless both are at least 1.
std::optional<Rate> MakeRate(int64_t num, int64_t den);

// A rate as the user gives it: a whole number, N/D, or one of the NTSC
// decimals (23.976, 29.97, 47.952, 59.94, 119.88) for its exact fraction.
// Throws UsageError naming the option and the fraction form.
Rate ParseRate(const std::string& option, const std::string& text);

// floor(a / b) for b > 0, toward minus infinity.
inline __int128 FloorDiv(__int128 a, __int128 b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

}  // namespace tilvane_tool
