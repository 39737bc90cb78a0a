#include "tools/tilvane/cli/command_line.h"

#include <algorithm>

#include "tools/tilvane/core/errors.h"
#include "tools/tilvane/core/text.h"

namespace tilvane_tool {
namespace {

// Every name an option answers to, with its dashes.
std::vector<std::string> OptionNames(const CLI::App& app) {
  std::vector<std::string> names;
  for (const CLI::Option* option : app.get_options()) {
    for (const std::string& n : option->get_lnames()) names.push_back("--" + n);
    for (const std::string& n : option->get_snames()) names.push_back("-" + n);
  }
  return names;
}

// Options people type from ffmpeg, and what this tool has instead.
constexpr std::pair<const char*, const char*> kHabits[] = {
    {"-y", "outputs are replaced unless -n/--no-overwrite is given"},
    {"-i", "give the layers with --icon and --displacement"},
    {"-r", "give the rate with --rate (frames a second: 25, 24000/1001 or 23.976)"},
    {"-t", "give the frames with --frames A-B or --frame F"},
};

// "tilvane farm submit"
std::string CommandPath(const CLI::App& app) {
  std::string command;
  for (const CLI::App* a = &app; a->get_parent(); a = a->get_parent()) {
    command = " " + a->get_name() + command;
  }
  return "tilvane" + command;
}

std::string HelpHint(const CLI::App& app) { return " see '" + CommandPath(app) + " --help'"; }

// The commands under `app`, at any depth, that take the option `word`.
void CommandsTaking(const CLI::App& app, const std::string& word,
                    std::vector<std::string>& commands) {
  for (const CLI::App* sub : app.get_subcommands({})) {
    const std::vector<std::string> names = OptionNames(*sub);
    if (std::find(names.begin(), names.end(), word) != names.end()) {
      commands.push_back(Quoted(CommandPath(*sub)));
    }
    CommandsTaking(*sub, word, commands);
  }
}

// The words a command and the commands above it left, the command's first:
// a word no option of a command takes falls through to the one above.
std::vector<std::string> Remaining(const CLI::App& command) {
  std::vector<std::string> rest;
  for (const CLI::App* a = &command; a; a = a->get_parent()) {
    const std::vector<std::string> left = a->remaining();
    rest.insert(rest.end(), left.begin(), left.end());
  }
  return rest;
}

}  // namespace

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
    const std::vector<std::string> rest = Remaining(app);
    const std::string list = OrList(commands);
    if (rest.empty() || rest[0].rfind('-', 0) == 0) {
      throw UsageError("give a command: " + list + ";" + HelpHint(app));
    }
    throw UsageError("unknown command " + Quoted(rest[0]) + DidYouMean(rest[0], commands) + ";" +
                     HelpHint(app));
  }
  const CLI::App& command = *parsed.front();
  // A command of commands (farm) answers for its own.
  if (!command.get_subcommands({}).empty()) return RefuseLeftovers(command);
  const std::vector<std::string> rest = Remaining(command);
  if (rest.empty()) return;
  const std::string word = rest[0].substr(0, rest[0].find('='));
  if (word.size() > 1 && word[0] == '-') {
    for (const auto& [habit, ours] : kHabits) {
      if (word == habit) {
        throw UsageError("unknown option " + Quoted(word) + "; " + ours + ";" + HelpHint(command));
      }
    }
    // Another command's option: say whose, rather than guess a near name.
    const CLI::App* root = &app;
    while (root->get_parent()) root = root->get_parent();
    std::vector<std::string> owners;
    CommandsTaking(*root, word, owners);
    if (!owners.empty()) {
      throw UsageError(word + " is for " + OrList(owners) + ", not " +
                       Quoted(CommandPath(command)) + "; leave it out here;" + HelpHint(command));
    }
    std::vector<std::string> names = OptionNames(command);
    const std::vector<std::string> common = OptionNames(app);
    names.insert(names.end(), common.begin(), common.end());
    // Every one-letter option is a letter away from every other: no guess.
    const std::string guess = word.size() == 2 ? "" : DidYouMean(word, names);
    throw UsageError("unknown option " + Quoted(word) + guess + ";" + HelpHint(command));
  }
  throw UsageError("unexpected argument " + Quoted(rest[0]) +
                   "; options take the form --name VALUE," + HelpHint(command));
}

std::optional<int> ParseWords(CLI::App& app, std::vector<std::string> words,
                              const std::function<void()>& explainFirst) {
  // "tilvane help render" is "tilvane render --help".
  if (words.size() > 1 && words[1] == "help") {
    words.erase(words.begin() + 1);
    words.push_back("--help");
  }
  std::vector<char*> pointers;
  for (std::string& w : words) pointers.push_back(w.data());
  try {
    app.parse(static_cast<int>(pointers.size()), pointers.data());
  } catch (const CLI::Success& e) {
    return app.exit(e);  // --help, --help-all, --version
  } catch (const CLI::ParseError& e) {
    explainFirst();
    std::string command = "tilvane";
    for (const CLI::App* sub : app.get_subcommands()) command += " " + sub->get_name();
    throw UsageError(std::string(e.what()) + "; see '" + command + " --help'");
  }
  try {
    RefuseLeftovers(app);
  } catch (const UsageError&) {
    explainFirst();
    throw;
  }
  return std::nullopt;
}

}  // namespace tilvane_tool
