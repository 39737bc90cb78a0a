// The command line as people expect it on every command: the last of a
// repeated option wins, and a misspelt option or command gets a suggestion.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tilvane_tool {

// Call before any option or subcommand is added: repeated options take the
// last value, and arguments no option takes are left for RefuseLeftovers.
void UseConventions(CLI::App& app);

// Call after the subcommands are added: --help of each ends with the exit statuses.
void AddExitStatusHelp(CLI::App& app);

// After parsing: throws UsageError for a missing or unknown command, or the
// first argument no option took, with the nearest name and where help is.
void RefuseLeftovers(const CLI::App& app);

// Parses the words (the program's name first; "help COMMAND" is taken as
// "COMMAND --help") and refuses leftovers; returns
// the exit status when help or the version was asked for. Before a usage
// error is thrown, `explainFirst` may throw one that explains it better (an
// unknown option may be a control of a plug-in that did not load).
std::optional<int> ParseWords(CLI::App& app, std::vector<std::string> words,
                              const std::function<void()>& explainFirst);

}  // namespace tilvane_tool
