// The manual page and the bash and zsh completions, written from the command
// line as built: every command and option CLI11 holds, with its help, value
// name and default, and the controls the plug-in registered with their
// choices. An option added to the command line appears in all three.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/tilvane/job/controls.h"

namespace tilvane_tool {

// The reference as built in, docs/tilvane.md when the tool was built.
std::string_view ReferenceSource();

// The reference as Markdown: the built-in text with the parts the tool
// writes (commands, options, environment, exit status, files) written anew.
// docs/tilvane.md must be this text; scripts/update-reference.sh makes it so.
std::string Reference(const CLI::App& app, const std::vector<ControlOption>& controls);

// The manual page in roff, for man(1): the reference with a name and a synopsis.
std::string ManPage(const CLI::App& app, const std::vector<ControlOption>& controls);

// A script for bash-completion: defines _tilvane and binds it with complete.
std::string BashCompletion(const CLI::App& app, const std::vector<ControlOption>& controls);

// A zsh completion function file, _tilvane.
std::string ZshCompletion(const CLI::App& app, const std::vector<ControlOption>& controls);

// Adds the hidden --man, --reference and --completions bash|zsh, which print
// the page, the reference or the script once the whole command line is built and end the parse with
// status 0. `requirePlugin` throws when the plug-in did not load: without
// it the controls would be missing.
void AddManualOptions(CLI::App& app, const std::vector<ControlOption>& controls,
                      std::function<void()> requirePlugin);

}  // namespace tilvane_tool
