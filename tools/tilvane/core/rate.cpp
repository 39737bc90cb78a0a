#include "tools/tilvane/core/rate.h"

#include <charconv>
#include <cstdio>
#include <numeric>

#include "tools/tilvane/core/errors.h"
#include "tools/tilvane/core/time_base.h"

namespace tilvane_tool {
namespace {

// The decimals cameras and players show for the NTSC rates.
struct NtscRate {
  const char* decimal;
  int64_t num;
};
constexpr NtscRate kNtscRates[] = {
    {"23.976", 24000}, {"29.97", 30000}, {"47.952", 48000}, {"59.94", 60000}, {"119.88", 120000},
};

std::optional<int64_t> Whole(const std::string& text) {
  int64_t n = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return n;
}

}  // namespace

std::optional<Rate> MakeRate(int64_t num, int64_t den) {
  if (num < 1 || den < 1) return std::nullopt;
  const int64_t g = std::gcd(num, den);
  return Rate{num / g, den / g};
}

std::string Rate::text() const {
  return den == 1 ? std::to_string(num) : std::to_string(num) + "/" + std::to_string(den);
}

std::string Rate::shown() const {
  if (den == 1) return std::to_string(num) + " fps";
  char decimal[64];
  std::snprintf(decimal, sizeof decimal, "%.3f",
                static_cast<double>(num) / static_cast<double>(den));
  return std::string(decimal) + " fps (" + text() + ")";
}

Rate ParseRate(const std::string& option, const std::string& text) {
  // A frame's step and the second's ticks must fit the host's 32-bit time.
  const std::string what =
      "a whole number, a fraction N/D such as 24000/1001, or 23.976, 29.97, "
      "47.952, 59.94 or 119.88";
  for (const NtscRate& r : kNtscRates) {
    if (text == r.decimal) return *MakeRate(r.num, 1001);
  }
  if (text.find('.') != std::string::npos) {
    throw UsageError(option + " '" + text +
                     "' is not valid; give the rate as a fraction N/D (e.g. " +
                     "25/1 or 24000/1001) or a whole number");
  }
  const size_t slash = text.find('/');
  const auto num = Whole(text.substr(0, slash));
  const auto den =
      slash == std::string::npos ? std::optional<int64_t>(1) : Whole(text.substr(slash + 1));
  const auto rate = num && den ? MakeRate(*num, *den) : std::nullopt;
  if (!rate || rate->num > kMaxTime || rate->den > kMaxTime) {
    throw UsageError(option + " '" + text + "' is not valid; give " + what);
  }
  return *rate;
}

}  // namespace tilvane_tool
