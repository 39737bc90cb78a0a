#include "tools/tilvane/cli/manual.h"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string_view>

#include "src/render/render_options.h"
#include "tools/tilvane/cli/options.h"
#include "tools/tilvane/cli/roff.h"
#include "tools/tilvane/core/errors.h"

namespace tilvane_tool {
namespace {

// One option as the page and the scripts show it.
struct Entry {
  std::vector<std::string> names;  // with their dashes, short names first
  std::string value;               // the value's name; empty for a flag
  std::string help;
  std::string byDefault;
  std::vector<std::string> choices;
  enum class Completes { Nothing, Choice, File, Directory } completes = Completes::Nothing;
  bool control = false;
  bool farm = false;  // one of the farm table's, for this farm command
};

struct Command {
  std::string name;
  std::string path;  // "farm submit"
  std::string help{};
  std::vector<Entry> entries{};
  std::vector<Entry> bare{};  // values given without an option name: the job folder
  std::vector<Command> commands{};
  FarmCommandSet farm = 0;  // the farm command this is, if it is one
};

const ControlOption* ControlNamed(const std::vector<ControlOption>& controls,
                                  const std::string& name) {
  for (const ControlOption& c : controls) {
    if (c.flag == name) return &c;
  }
  return nullptr;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t end; (end = text.find(separator, start)) != std::string::npos; start = end + 1) {
    parts.push_back(text.substr(start, end - start));
  }
  parts.push_back(text.substr(start));
  return parts;
}

// A choice a shell can offer as it is: no quoting needed anywhere.
bool PlainWord(const std::string& word) {
  if (word.empty()) return false;
  for (const char c : word) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != '.' &&
        c != '+') {
      return false;
    }
  }
  return true;
}

// How a shell completes a value named `value` with these choices.
Entry::Completes CompletesFor(const std::string& value, const std::vector<std::string>& choices) {
  using C = Entry::Completes;
  return !choices.empty()                          ? C::Choice
         : value.find("DIR") != std::string::npos  ? C::Directory
         : value.find("PATH") != std::string::npos ? C::File
         : value.find("FILE") != std::string::npos ? C::File
                                                   : C::Nothing;
}

// The options of one command (or the common ones), hidden ones left out;
// the help flag only where `withHelp`. `farm`: the farm command it is.
std::vector<Entry> Entries(const CLI::App& app, const std::vector<ControlOption>& controls,
                           bool withHelp, FarmCommandSet farm = 0) {
  std::vector<Entry> entries;
  for (const CLI::Option* option : app.get_options()) {
    if (option->get_group().empty()) continue;
    if (option == app.get_help_ptr() && !withHelp) continue;
    Entry e;
    for (const std::string& n : option->get_snames()) e.names.push_back("-" + n);
    for (const std::string& n : option->get_lnames()) e.names.push_back("--" + n);
    if (e.names.empty()) continue;
    e.help = option->get_description();
    e.farm = farm && FindFarmOption(e.names.back(), farm);
    const ControlOption* control = ControlNamed(controls, e.names.back());
    for (const std::string& n : e.names) {
      if (!control) control = ControlNamed(controls, n);
    }
    e.control = control != nullptr;
    if (option->get_type_size_max() > 0) {
      e.value = option->get_type_name();
      e.byDefault = option->get_default_str();
      const RenderOption* option = e.farm ? nullptr : FindRenderOption(e.names.back().substr(2));
      if (control && control->param.def.param_type == PF_Param_POPUP) {
        e.choices = control->choices();
      } else if (option && option->choices) {
        e.choices = option->choices();
      } else if (e.value.find('|') != std::string::npos) {
        e.choices = Split(e.value, '|');
      }
      std::erase_if(e.choices, [](const std::string& c) { return !PlainWord(c); });
      e.completes = CompletesFor(e.value, e.choices);
    }
    entries.push_back(std::move(e));
  }
  return entries;
}

// The values a command takes without an option name, as "DIR".
std::vector<Entry> BareEntries(const CLI::App& app) {
  std::vector<Entry> entries;
  for (const CLI::Option* option : app.get_options()) {
    if (!option->get_positional() || option->get_group().empty()) continue;
    Entry e;
    e.value = option->get_type_name();
    e.names = {e.value};
    e.help = option->get_description();
    e.completes = CompletesFor(e.value, {});
    entries.push_back(std::move(e));
  }
  return entries;
}

// The commands under `app`, and theirs in turn; `above` is the path to app.
std::vector<Command> Commands(const CLI::App& app, const std::vector<ControlOption>& controls,
                              const std::string& above = "") {
  std::vector<Command> commands;
  for (const CLI::App* sub : app.get_subcommands({})) {
    Command c{.name = sub->get_name(), .path = above + sub->get_name()};
    c.help = sub->get_description();
    if (above == "farm ") {
      for (const FarmCommandName& f : kFarmCommandNames) {
        if (c.name == f.name) c.farm = f.command;
      }
    }
    c.entries = Entries(*sub, controls, false, c.farm);
    c.bare = BareEntries(*sub);
    c.commands = Commands(*sub, controls, c.path + " ");
    commands.push_back(std::move(c));
  }
  return commands;
}

// Text as Markdown shows it literally.
std::string Markdown(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\\' || c == '`' || c == '*' || c == '[' || c == '<') out += '\\';
    out += c;
  }
  return out;
}

std::string Sentence(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  if (!text.empty() && text.back() != '.') text += '.';
  return text;
}

// --- shells ------------------------------------------------------------------------

std::string Join(const std::vector<std::string>& words, const std::string& separator = " ") {
  std::string out;
  for (const std::string& w : words) out += (out.empty() ? "" : separator) + w;
  return out;
}

std::vector<std::string> AllNames(const std::vector<Entry>& entries) {
  std::vector<std::string> names;
  for (const Entry& e : entries) names.insert(names.end(), e.names.begin(), e.names.end());
  return names;
}

// bash: what completes a value.
std::string BashValue(const Entry& e) {
  switch (e.completes) {
    case Entry::Completes::Choice:
      return "COMPREPLY=($(compgen -W '" + Join(e.choices) + "' -- \"$cur\"))";
    case Entry::Completes::File:
      return "_tilvane_files -f";
    case Entry::Completes::Directory:
      return "_tilvane_files -d";
    case Entry::Completes::Nothing:
      break;
  }
  return ":";  // a number or a size: nothing to offer
}

// bash: what follows an option that takes a value, as case branches.
std::string BashValueCases(const std::vector<Entry>& entries, const std::string& indent) {
  std::string out;
  for (const Entry& e : entries) {
    if (!e.value.empty())
      out += indent + Join(e.names, "|") + ") " + BashValue(e) + "; return ;;\n";
  }
  return out;
}

// zsh: one _arguments spec per name of each option, the names excluding
// each other.
std::string ZshQuoted(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out;
}

// The help's first clause, for the one line zsh shows beside a name.
std::string Brief(const std::string& help) {
  std::string text = help.substr(0, help.find_first_of(";(\n"));
  while (!text.empty() && (text.back() == ' ' || text.back() == ',' || text.back() == '.')) {
    text.pop_back();
  }
  std::string out;
  for (const char c : text) {
    if (c == '[' || c == ']' || c == '\\' || c == ':') out += '\\';
    out += c;
  }
  return out;
}

// zsh: what completes a value, after its message: ":N: ", ":DIR:_files -/".
std::string ZshValue(const Entry& e) {
  std::string message = e.value;
  std::erase(message, ':');
  std::string value = ":" + message + ":";
  switch (e.completes) {
    case Entry::Completes::Choice:
      return value + "(" + Join(e.choices) + ")";
    case Entry::Completes::File:
      return value + "_files";
    case Entry::Completes::Directory:
      return value + "_files -/";
    case Entry::Completes::Nothing:
      break;
  }
  return value + " ";
}

std::string ZshSpecs(const std::vector<Entry>& entries, const std::string& indent) {
  std::string out;
  for (const Entry& e : entries) {
    const std::string exclusive = e.names.size() > 1 ? "(" + Join(e.names) + ")" : "";
    const std::string value = e.value.empty() ? "" : ZshValue(e);
    for (const std::string& n : e.names) {
      out += indent + "'" + ZshQuoted(exclusive + n + "[" + Brief(e.help) + "]" + value) + "' \\\n";
    }
  }
  return out;
}

// zsh: the values a command takes bare, in their order.
std::string ZshBare(const std::vector<Entry>& bare, const std::string& indent) {
  std::string out;
  for (const Entry& e : bare) out += indent + "'" + ZshQuoted(ZshValue(e)) + "' \\\n";
  return out;
}

std::string ZshCommandList(const std::vector<Command>& commands, const std::string& indent) {
  std::string out;
  for (const Command& c : commands) {
    out += indent + "'" + ZshQuoted(c.name + ":" + Brief(c.help)) + "'\n";
  }
  return out;
}

constexpr const char* kHelpCommand = "help";
constexpr const char* kHelpCommandHelp = "Print a command's options, as COMMAND --help does";

// --- the reference -----------------------------------------------------------------

// An option as a Markdown list item: "- `-o`, `--output PATH`: help. Default: x."
std::string OptionItems(const std::vector<Entry>& entries) {
  std::string out;
  for (const Entry& e : entries) {
    std::string tag;
    for (size_t k = 0; k < e.names.size(); ++k) {
      // A value given bare is named by its value alone.
      const bool last = k + 1 == e.names.size() && e.names[k] != e.value;
      tag += (k ? ", `" : "`") + e.names[k] + (last && !e.value.empty() ? " " + e.value : "") + "`";
    }
    out += "- " + tag + ": " + Markdown(Sentence(e.help));
    if (!e.value.empty() && !e.byDefault.empty()) out += " Default: `" + e.byDefault + "`.";
    out += "\n";
  }
  return out;
}

// A command's options, then its commands' in turn. A farm command that takes
// the render options says so rather than list them again.
std::string OptionSections(const Command& c) {
  std::vector<Entry> own = c.bare, effect;
  bool render = false;
  for (const Entry& e : c.entries) {
    if (c.farm && !e.farm) {
      render = true;
    } else {
      (e.control ? effect : own).push_back(e);
    }
  }
  std::string out;
  if (!own.empty()) out += "\n### " + c.path + " options\n\n" + OptionItems(own);
  if (render) {
    out += "\n`tilvane " + c.path +
           "` takes every render option and the effect's controls too, as `render` does.\n";
  }
  if (!effect.empty())
    out += "\n### " + c.path + ": the effect's controls\n\n" + OptionItems(effect);
  for (const Command& sub : c.commands) out += OptionSections(sub);
  return out;
}

// The parts of the reference the tool writes, by the name their marker gives.
std::string Written(const std::string& part, const CLI::App& app,
                    const std::vector<ControlOption>& controls) {
  const std::vector<Command> commands = Commands(app, controls);
  std::string out;
  if (part == "commands") {
    for (const Command& c : commands) {
      out += "- `" + c.name + "`: " + Markdown(Sentence(c.help)) + "\n";
      for (const Command& sub : c.commands) {
        out += "- `" + sub.path + "`: " + Markdown(Sentence(sub.help)) + "\n";
      }
    }
    out += std::string("- `") + kHelpCommand + " [command]`: " + Sentence(kHelpCommandHelp) + "\n";
  } else if (part == "options") {
    out += "### Common options\n\n" + OptionItems(Entries(app, controls, true));
    for (const Command& c : commands) out += OptionSections(c);
  } else if (part == "environment") {
    out = "- `TILVANE_THREADS`: the threads each frame renders on, 1 to " +
          std::to_string(tilvane::kMaxRenderThreads) +
          " (0: one per core). Unset, each frame gets the cores shared among the frames "
          "rendered at once (`--threads`). A value the plug-in could not read is refused.\n"
          "- `TILVANE_SIMD`: the vector path the effect renders on: `scalar`, `sse2`, `avx2` or "
          "`avx512`; a path the CPU lacks falls back to the best it has (default: the best). "
          "Every path renders the same frames; `tilvane info` names the one in use.\n"
          "- `OCIO`: the colour configuration `--input-colorspace` and `--output-colorspace` "
          "read, instead of OpenImageIO's built-in one.\n"
          "- `COLUMNS`: the width of the progress bar when the terminal does not say.\n";
  } else if (part == "exit status") {
    out = "- `0`: success.\n- `" + std::to_string(kExitHostError) +
          "`: an error code returned by the effect, reported with its code and name, e.g. "
          "`error 4 (PF_Err_OUT_OF_MEMORY)`.\n- `" +
          std::to_string(kExitUsage) +
          "`: a usage or input error: a missing or unreadable file, a sequence with no frames, "
          "an unknown option or option value, a value outside a control's range, a malformed "
          "size or colour, an output name without a frame pattern for a range, an output "
          "refused before rendering (see Writing outputs), a plug-in that cannot be loaded, a "
          "frame that does not fit in memory.\n- `" +
          std::to_string(kExitWrite) +
          "`: a write error: an output that could not be written completely (nothing incomplete "
          "is left behind), or a stream (`-o -`) whose reader stopped reading.\n- `" +
          std::to_string(128 + SIGINT) + "`, `" + std::to_string(128 + SIGTERM) +
          "`: stopped by SIGINT (Ctrl-C) or SIGTERM, after one line saying which frames are on "
          "disk (the process ends by the signal; these are the statuses a shell reports).\n";
  } else if (part == "files") {
    namespace fs = std::filesystem;
    const std::string plugin = fs::path(TILVANE_BUILT_PLUGIN).filename().string();
    const fs::path installed =
        (fs::path("/usr/bin") / TILVANE_PLUGIN_DIR_FROM_BIN / plugin).lexically_normal();
    out = "- `" + installed.string() + "`: the plug-in loaded unless `--plugin` names another: `" +
          (fs::path(TILVANE_PLUGIN_DIR_FROM_BIN) / plugin).string() +
          "` from the directory of the tool, else `" + plugin + "` beside it.\n";
  } else {
    throw std::logic_error("the reference marks an unknown part: " + part);
  }
  return out;
}

}  // namespace

std::string Reference(const CLI::App& app, const std::vector<ControlOption>& controls) {
  static constexpr std::string_view kOpen = "<!-- written by the tool: ";
  static constexpr std::string_view kEnd = "<!-- end -->";
  const std::string text(ReferenceSource());
  std::string out;
  size_t at = 0;
  for (size_t open; (open = text.find(kOpen, at)) != std::string::npos;) {
    const size_t nameEnd = text.find(" -->", open);
    const size_t end = text.find(kEnd, nameEnd);
    if (nameEnd == std::string::npos || end == std::string::npos) {
      throw std::logic_error("the reference has a marker left open");
    }
    const std::string part = text.substr(open + kOpen.size(), nameEnd - open - kOpen.size());
    out += text.substr(at, nameEnd + 4 - at) + "\n" + Written(part, app, controls);
    at = end;
  }
  return out + text.substr(at);
}

std::string ManPage(const CLI::App& app, const std::vector<ControlOption>& controls) {
  const std::string name = app.get_name();
  const std::vector<Command> commands = Commands(app, controls);
  std::string description = app.get_description();
  while (!description.empty() && description.back() == '.') description.pop_back();

  // The first line asks man(1) for tbl, which lays out the tables.
  std::string page = "'\\\" t\n.TH TILVANE 1 \"\" \"" + name + " " + TILVANE_TOOL_VERSION +
                     "\" \"User Commands\"\n";
  page += ".SH NAME\n" + name + " \\- " + Roff(Lower(description.substr(0, 1))) +
          Roff(description.substr(1)) + "\n";
  page += ".SH SYNOPSIS\n";
  for (const Command& c : commands) {
    std::vector<const Command*> lines = {&c};
    if (!c.commands.empty()) lines.clear();
    for (const Command& sub : c.commands) lines.push_back(&sub);
    for (const Command* l : lines) {
      std::string bare;
      for (const Entry& e : l->bare) bare += " \\fI" + Roff(e.value) + "\\fR";
      page += "\\fB" + name + "\\fR [\\fIcommon options\\fR] \\fB" + Roff(l->path) + "\\fR" + bare +
              " [\\fIoptions\\fR]\n.br\n";
    }
  }
  page += "\\fB" + name + " " + kHelpCommand + "\\fR [\\fIcommand\\fR]\n";
  return page + MarkdownToRoff(Reference(app, controls));
}

std::string BashCompletion(const CLI::App& app, const std::vector<ControlOption>& controls) {
  const std::vector<Command> commands = Commands(app, controls);
  const std::vector<Entry> common = Entries(app, controls, true);
  std::vector<std::string> names;
  for (const Command& c : commands) names.push_back(c.name);
  std::vector<std::string> valued;  // the common options that take a value
  for (const Entry& e : common) {
    if (!e.value.empty()) valued.insert(valued.end(), e.names.begin(), e.names.end());
  }
  const std::string skipValue = valued.empty() ? "" : Join(valued, "|") + ") ((i++)) ;;\n";
  // Every command and every command of a command, by its path.
  std::vector<const Command*> all;
  for (const Command& c : commands) {
    all.push_back(&c);
    for (const Command& sub : c.commands) all.push_back(&sub);
  }
  // A path as a case pattern: "farm submit" quoted.
  const auto pattern = [](const std::string& path) {
    return path.find(' ') == std::string::npos ? path : "'" + path + "'";
  };

  std::string out =
      "# bash completion for tilvane, written by 'tilvane --completions bash'.\n"
      "_tilvane_files() {\n"
      "  compopt -o filenames 2>/dev/null\n"
      "  mapfile -t COMPREPLY < <(compgen \"$1\" -- \"$cur\")\n"
      "}\n\n"
      "_tilvane() {\n"
      "  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]} command= i\n"
      "  COMPREPLY=()\n"
      "  for ((i = 1; i < COMP_CWORD; i++)); do\n"
      "    case ${COMP_WORDS[i]} in\n";
  if (!skipValue.empty()) out += "      " + skipValue;
  out += "      " + Join(names, "|") + "|" + kHelpCommand +
         ") command=${COMP_WORDS[i]}; break ;;\n"
         "    esac\n"
         "  done\n";
  // A command of commands: a later word names one of its own.
  for (const Command& c : commands) {
    if (c.commands.empty()) continue;
    std::vector<std::string> subs;
    for (const Command& sub : c.commands) subs.push_back(sub.name);
    out += "  if [[ $command == " + c.name +
           " ]]; then\n"
           "    for ((i++; i < COMP_CWORD; i++)); do\n"
           "      case ${COMP_WORDS[i]} in\n";
    if (!skipValue.empty()) out += "        " + skipValue;
    out += "        " + Join(subs, "|") +
           ") command+=\" ${COMP_WORDS[i]}\"; break ;;\n"
           "      esac\n"
           "    done\n"
           "  fi\n";
  }
  out += "  case $command in\n";
  for (const Command* c : all) {
    const std::string cases = BashValueCases(c->entries, "        ");
    if (!cases.empty())
      out += "    " + pattern(c->path) + ")\n      case $prev in\n" + cases + "      esac ;;\n";
  }
  out += "  esac\n  case $prev in\n" + BashValueCases(common, "    ") + "  esac\n";
  out += "  local options='" + Join(AllNames(common)) + "'\n  case $command in\n";
  for (const Command* c : all) {
    if (!c->entries.empty())
      out += "    " + pattern(c->path) + ") options+=' " + Join(AllNames(c->entries)) + "' ;;\n";
  }
  out +=
      "  esac\n"
      "  if [[ $cur == -* ]]; then\n"
      "    COMPREPLY=($(compgen -W \"$options\" -- \"$cur\"))\n"
      "  elif [[ -z $command || $prev == " +
      std::string(kHelpCommand) +
      " ]]; then\n"
      "    COMPREPLY=($(compgen -W '" +
      Join(names) + (std::string(" ") + kHelpCommand) +
      "' -- \"$cur\"))\n"
      "  else\n"
      "    case $command in\n";
  // A word that is no option's: a command's command, or a value it takes bare.
  for (const Command* c : all) {
    std::vector<std::string> subs;
    for (const Command& sub : c->commands) subs.push_back(sub.name);
    if (!subs.empty()) {
      out += "      " + pattern(c->path) + ") COMPREPLY=($(compgen -W '" + Join(subs) +
             "' -- \"$cur\")) ;;\n";
    } else if (!c->bare.empty()) {
      out += "      " + pattern(c->path) + ") " + BashValue(c->bare.front()) + " ;;\n";
    }
  }
  out += std::string("      ") + kHelpCommand +
         ") ;;\n"
         "      *) COMPREPLY=($(compgen -W \"$options\" -- \"$cur\")) ;;\n"
         "    esac\n"
         "  fi\n"
         "}\n"
         "complete -F _tilvane tilvane\n";
  return out;
}

// zsh: each command's completion, as branches of a case on its name; a
// command of commands calls its own function.
std::string ZshCommandCases(const std::vector<Command>& commands, const std::vector<Entry>& common,
                            const std::string& indent) {
  std::string out;
  for (const Command& c : commands) {
    if (!c.commands.empty()) {
      out += indent + c.name + ") _tilvane_" + c.name + " && ret=0 ;;\n";
      continue;
    }
    out += indent + c.name + ")\n" + indent + "  _arguments \\\n" +
           ZshBare(c.bare, indent + "    ") + ZshSpecs(c.entries, indent + "    ") +
           ZshSpecs(common, indent + "    ") + indent + "    && ret=0 ;;\n";
  }
  return out;
}

// zsh: the function that completes `name`'s words: its options, then its
// command and that command's words.
std::string ZshFunction(const std::string& function, const std::string& what,
                        const std::vector<Command>& commands, const std::vector<Entry>& own,
                        const std::vector<Entry>& common, const std::string& extra) {
  return function +
         "() {\n"
         "  local curcontext=$curcontext state line ret=1\n"
         "  typeset -A opt_args\n"
         "  local -a commands=(\n" +
         ZshCommandList(commands, "    ") + extra +
         "  )\n"
         "  _arguments -C \\\n" +
         ZshSpecs(own, "    ") + ZshSpecs(common, "    ") +
         "    '1: :->command' \\\n"
         "    '*:: :->arguments' && ret=0\n"
         "  case $state in\n"
         "    command) _describe -t commands '" +
         what +
         "' commands && ret=0 ;;\n"
         "    arguments)\n"
         "      curcontext=${curcontext%:*}-$line[1]:\n"
         "      case $line[1] in\n" +
         ZshCommandCases(commands, common, "        ") +
         (function == "_tilvane" ? std::string("        ") + kHelpCommand +
                                       ") _describe -t commands command commands && ret=0 ;;\n"
                                 : "") +
         "      esac ;;\n"
         "  esac\n"
         "  return ret\n"
         "}\n\n";
}

std::string ZshCompletion(const CLI::App& app, const std::vector<ControlOption>& controls) {
  const std::vector<Command> commands = Commands(app, controls);
  const std::vector<Entry> common = Entries(app, controls, true);
  std::string out =
      "#compdef tilvane\n"
      "# zsh completion for tilvane, written by 'tilvane --completions zsh'.\n\n";
  for (const Command& c : commands) {
    if (!c.commands.empty()) {
      out +=
          ZshFunction("_tilvane_" + c.name, c.name + " command", c.commands, c.entries, common, "");
    }
  }
  out += ZshFunction(
      "_tilvane", "command", commands, {}, common,
      "    '" + ZshQuoted(std::string(kHelpCommand) + ":" + Brief(kHelpCommandHelp)) + "'\n");
  return out + "_tilvane \"$@\"\n";
}

void AddManualOptions(CLI::App& app, const std::vector<ControlOption>& controls,
                      std::function<void()> requirePlugin) {
  const auto print = [](const std::string& text) {
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
    throw CLI::Success();
  };
  app.add_flag_callback(
      "--man",
      [&app, &controls, requirePlugin, print] {
        requirePlugin();
        print(ManPage(app, controls));
      },
      "Print the manual page in roff: 'tilvane --man | man -l -' shows it");
  app.add_flag_callback(
         "--reference",
         [&app, &controls, requirePlugin, print] {
           requirePlugin();
           print(Reference(app, controls));
         },
         "Print the reference in Markdown, as docs/tilvane.md holds it")
      ->group("");
  app.add_option_function<std::string>(
         "--completions",
         [&app, &controls, requirePlugin, print](const std::string& shell) {
           requirePlugin();
           if (shell == "bash") print(BashCompletion(app, controls));
           if (shell == "zsh") print(ZshCompletion(app, controls));
           throw UsageError("--completions " + Quoted(shell) +
                            " is not a shell it writes for; "
                            "give bash or zsh");
         },
         "Print the completion script for bash or zsh, to install as the README says "
         "(the package installs both)")
      ->type_name("bash|zsh");
}

}  // namespace tilvane_tool
