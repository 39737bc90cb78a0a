#include "tools/tilvane/command_line.h"

#include <algorithm>

#include "tools/tilvane/errors.h"

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

// Every name an option answers to, with its dashes.
std::vector<std::string> OptionNames(const CLI::App& app) {
  std::vector<std::string> names;
  for (const CLI::Option* option : app.get_options()) {
    for (const std::string& n : option->get_lnames()) names.push_back("--" + n);
    for (const std::string& n : option->get_snames()) names.push_back("-" + n);
  }
  return names;
}

std::string HelpHint(const CLI::App& app) {
  std::string command = app.get_parent() ? "tilvane " + app.get_name() : "tilvane";
  return " see '" + command + " --help'";
}

}  // namespace

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

void UseConventions(CLI::App& app) {
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app.allow_extras();
  app.require_subcommand(0, 1);
}

void AddExitStatusHelp(CLI::App& app) {
  const std::string footer = std::string(kExitStatusHelp) + "\n";
  app.footer(footer);
  for (CLI::App* sub : app.get_subcommands({})) {
    sub->footer(footer);
    sub->allow_extras();
  }
}

void RefuseLeftovers(const CLI::App& app) {
  const std::vector<CLI::App*> parsed = app.get_subcommands();
  if (parsed.empty()) {
    std::vector<std::string> commands;
    for (const CLI::App* sub : app.get_subcommands({})) commands.push_back(sub->get_name());
    const std::vector<std::string> rest = app.remaining();
    std::string list;
    for (size_t i = 0; i < commands.size(); ++i) {
      list += (i == 0 ? "" : i + 1 == commands.size() ? " or " : ", ") + commands[i];
    }
    if (rest.empty() || rest[0].rfind('-', 0) == 0) {
      throw UsageError("give a command: " + list + ";" + HelpHint(app));
    }
    throw UsageError("unknown command " + Quoted(rest[0]) + DidYouMean(rest[0], commands) + ";" +
                     HelpHint(app));
  }
  const CLI::App& command = *parsed.front();
  std::vector<std::string> rest = command.remaining();
  const std::vector<std::string> above = app.remaining();
  rest.insert(rest.end(), above.begin(), above.end());
  if (rest.empty()) return;
  const std::string word = rest[0].substr(0, rest[0].find('='));
  if (word.size() > 1 && word[0] == '-') {
    std::vector<std::string> names = OptionNames(command);
    const std::vector<std::string> common = OptionNames(app);
    names.insert(names.end(), common.begin(), common.end());
    throw UsageError("unknown option " + Quoted(word) + DidYouMean(word, names) + ";" +
                     HelpHint(command));
  }
  throw UsageError("unexpected argument " + Quoted(rest[0]) +
                   "; options take the form --name VALUE," + HelpHint(command));
}

}  // namespace tilvane_tool
