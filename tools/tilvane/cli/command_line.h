// The command line as people expect it on every command: the last of a
// repeated option wins, and a misspelt option or command gets a suggestion.
#pragma once

#include <CLI/CLI.hpp>
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

}  // namespace tilvane_tool
