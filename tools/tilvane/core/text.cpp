#include "tools/tilvane/core/text.h"

#include <algorithm>
#include <cctype>

namespace tilvane_tool {
namespace {

size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

}  // namespace

std::string Slug(const std::string& text) {
  std::string out;
  bool gap = false;
  for (char c : text) {
    if (std::isalnum(static_cast<unsigned char>(c))) {
      if (gap && !out.empty()) out += '-';
      out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      gap = false;
    } else {
      gap = true;
    }
  }
  return out;
}

std::string OrList(const std::vector<std::string>& items) {
  std::string list;
  for (size_t i = 0; i < items.size(); ++i) {
    list += (i == 0 ? "" : i + 1 == items.size() ? " or " : ", ") + items[i];
  }
  return list;
}

std::string DidYouMean(const std::string& word, const std::vector<std::string>& candidates) {
  const std::string* best = nullptr;
  size_t bestDistance = std::max<size_t>(1, word.size() / 3) + 1;
  const std::string* startedBy = nullptr;
  int starts = 0;
  const size_t letters = word.find_first_not_of('-');
  for (const std::string& c : candidates) {
    const size_t d = EditDistance(word, c);
    if (d < bestDistance) bestDistance = d, best = &c;
    if (letters != std::string::npos && word.size() - letters >= 3 && c.size() > word.size() &&
        c.compare(0, word.size(), word) == 0) {
      startedBy = &c;
      ++starts;
    }
  }
  if (starts == 1) best = startedBy;  // "--rotation" is --rotation-offset, not --duration
  return best ? " (did you mean " + *best + "?)" : "";
}

}  // namespace tilvane_tool
