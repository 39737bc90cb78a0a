// Words as the user types and reads them: option and choice names, and the
// suggestion for a near miss.
#pragma once

#include <string>
#include <vector>

namespace tilvane_tool {

// "Horizontal Units" -> "horizontal-units".
std::string Slug(const std::string& text);

// "a, b or c": a list as messages and help write it.
std::string OrList(const std::vector<std::string>& items);

// " (did you mean --units?)" when one candidate is near enough to word to be
// what was meant (a few letters off, or the only one it begins), else "".
std::string DidYouMean(const std::string& word, const std::vector<std::string>& candidates);

}  // namespace tilvane_tool
