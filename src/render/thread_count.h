// The threads a render may use, as a user writes them in TILVANE_THREADS: one
// rule, read by the plug-in and by the tilvane tool alike. The standard
// library alone, so that both may include it.
#pragma once

#include <optional>
#include <string_view>

namespace tilvane {

// The most the threads of one render may number.
inline constexpr int kMaxRenderThreads = 64;

// A whole number in decimal digits, nothing else: 0 means one thread per
// core, as "use them all" usually reads, and any count above
// kMaxRenderThreads means kMaxRenderThreads. Returns the count (0: one per
// core), or nothing for any other text: empty, signed, spaced, fractional or
// a word.
constexpr std::optional<int> ParseThreadCount(std::string_view text) {
  if (text.empty()) return std::nullopt;
  int count = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    count = count * 10 + (c - '0');
    if (count > kMaxRenderThreads) count = kMaxRenderThreads + 1;  // no overflow, however long
  }
  return count > kMaxRenderThreads ? kMaxRenderThreads : count;
}

}  // namespace tilvane
