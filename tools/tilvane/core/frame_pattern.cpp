#include "tools/tilvane/core/frame_pattern.h"

#include <algorithm>
#include <cctype>

namespace tilvane_tool {

std::optional<FramePattern> FramePattern::Find(const std::string& path) {
  const size_t nameStart = path.find_last_of('/') + 1;  // npos + 1 is 0
  const size_t hash = path.find('#', nameStart);
  if (hash != std::string::npos) {
    const size_t end = path.find_first_not_of('#', hash);
    FramePattern p;
    p.prefix = path.substr(0, hash);
    p.width = static_cast<int>((end == std::string::npos ? path.size() : end) - hash);
    p.suffix = end == std::string::npos ? "" : path.substr(end);
    return p;
  }
  for (size_t pc = path.find('%', nameStart); pc != std::string::npos;
       pc = path.find('%', pc + 1)) {
    size_t i = pc + 1;
    int width = 0;
    while (i < path.size() && std::isdigit(static_cast<unsigned char>(path[i]))) {
      width = std::min(width * 10 + (path[i] - '0'), 64);
      ++i;
    }
    if (i < path.size() && path[i] == 'd') {
      FramePattern p;
      p.prefix = path.substr(0, pc);
      p.width = width;
      p.suffix = path.substr(i + 1);
      return p;
    }
  }
  return std::nullopt;
}

std::string FramePattern::name(int64_t frame) const {
  std::string digits = std::to_string(frame < 0 ? -frame : frame);
  if (static_cast<int>(digits.size()) < width) {
    digits.insert(0, static_cast<size_t>(width) - digits.size(), '0');
  }
  return prefix + (frame < 0 ? "-" : "") + digits + suffix;
}

std::optional<int64_t> FramePattern::match(const std::string& path) const {
  if (path.size() <= prefix.size() + suffix.size() || path.compare(0, prefix.size(), prefix) ||
      path.compare(path.size() - suffix.size(), suffix.size(), suffix)) {
    return std::nullopt;
  }
  const std::string digits =
      path.substr(prefix.size(), path.size() - prefix.size() - suffix.size());
  if (digits.size() > 15 || !std::all_of(digits.begin(), digits.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c));
      })) {
    return std::nullopt;
  }
  // Padding as the pattern writes it: exactly width digits, or more without a leading zero.
  const int len = static_cast<int>(digits.size());
  if (len < width || (len > width && len > 1 && digits[0] == '0')) return std::nullopt;
  return std::stoll(digits);
}

std::string NumberRanges(const std::vector<std::pair<int64_t, int64_t>>& ranges) {
  std::string text;
  for (size_t i = 0; i < ranges.size(); ++i) {
    if (i > 0) text += i + 1 == ranges.size() ? " and " : ", ";
    const auto [a, b] = ranges[i];
    text += std::to_string(a) + (a == b ? "" : "-" + std::to_string(b));
  }
  return text;
}

}  // namespace tilvane_tool
