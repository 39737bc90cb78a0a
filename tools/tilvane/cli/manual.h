// The manual page and the bash and zsh completions, written from the command
// line as built: every command and option CLI11 holds, with its help, value
// name and default, and the controls the plug-in registered with their
// choices. An option added to the command line appears in all three.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <string>
#include <vector>

#include "tools/tilvane/job/controls.h"

namespace tilvane_tool {

// The page in roff, for man(1).
std::string ManPage(const CLI::App& app, const std::vector<ControlOption>& controls);

// A script for bash-completion: defines _tilvane and binds it with complete.
std::string BashCompletion(const CLI::App& app, const std::vector<ControlOption>& controls);

// A zsh completion function file, _tilvane.
std::string ZshCompletion(const CLI::App& app, const std::vector<ControlOption>& controls);

// Adds the hidden --man and --completions bash|zsh, which print the page or
// the script once the whole command line is built and end the parse with
// status 0. `requirePlugin` throws when the plug-in did not load: without
// it the controls would be missing.
void AddManualOptions(CLI::App& app, const std::vector<ControlOption>& controls,
                      std::function<void()> requirePlugin);

}  // namespace tilvane_tool
