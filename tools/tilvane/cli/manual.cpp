#include "tools/tilvane/cli/manual.h"

#include <csignal>
#include <cstdio>
#include <filesystem>

#include "src/render/render_options.h"
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
};

struct Command {
  std::string name;
  std::string help;
  std::vector<Entry> entries;
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

// The options of one command (or the common ones), hidden ones left out;
// the help flag only where `withHelp`.
std::vector<Entry> Entries(const CLI::App& app, const std::vector<ControlOption>& controls,
                           bool withHelp) {
  std::vector<Entry> entries;
  for (const CLI::Option* option : app.get_options()) {
    if (option->get_group().empty()) continue;
    if (option == app.get_help_ptr() && !withHelp) continue;
    Entry e;
    for (const std::string& n : option->get_snames()) e.names.push_back("-" + n);
    for (const std::string& n : option->get_lnames()) e.names.push_back("--" + n);
    if (e.names.empty()) continue;
    e.help = option->get_description();
    const ControlOption* control = ControlNamed(controls, e.names.back());
    for (const std::string& n : e.names) {
      if (!control) control = ControlNamed(controls, n);
    }
    e.control = control != nullptr;
    if (option->get_type_size_max() > 0) {
      e.value = option->get_type_name();
      e.byDefault = option->get_default_str();
      if (control && control->param.def.param_type == PF_Param_POPUP) {
        e.choices = control->choices();
      } else if (e.value.find('|') != std::string::npos) {
        e.choices = Split(e.value, '|');
      }
      std::erase_if(e.choices, [](const std::string& c) { return !PlainWord(c); });
      using C = Entry::Completes;
      e.completes = !e.choices.empty()                          ? C::Choice
                    : e.value.find("DIR") != std::string::npos  ? C::Directory
                    : e.value.find("PATH") != std::string::npos ? C::File
                    : e.value.find("FILE") != std::string::npos ? C::File
                                                                : C::Nothing;
    }
    entries.push_back(std::move(e));
  }
  return entries;
}

std::vector<Command> Commands(const CLI::App& app, const std::vector<ControlOption>& controls) {
  std::vector<Command> commands;
  for (const CLI::App* sub : app.get_subcommands({})) {
    commands.push_back({sub->get_name(), sub->get_description(), Entries(*sub, controls, false)});
  }
  return commands;
}

std::string Sentence(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  if (!text.empty() && text.back() != '.') text += '.';
  return text;
}

// --- roff ----------------------------------------------------------------------

// Text for a roff text line: backslashes and option dashes escaped, other
// characters than ASCII as groff's \[uXXXX], and a leading '.' or '\'' kept
// from reading as a request.
std::string Roff(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-' && (i == 0 || !std::isalnum(static_cast<unsigned char>(text[i - 1])))) {
      out += "\\-";
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      const int length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
      uint32_t code = length == 1 ? c : c & (0x7F >> length);
      for (int k = 1; k < length && i + 1 < text.size(); ++k) {
        code = (code << 6) | (static_cast<unsigned char>(text[++i]) & 0x3F);
      }
      char escape[16];
      std::snprintf(escape, sizeof escape, "\\[u%04X]", code);
      out += escape;
    }
  }
  if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out.insert(0, "\\&");
  return out;
}

std::string Bold(const std::string& text) { return "\\fB" + Roff(text) + "\\fR"; }
std::string Italic(const std::string& text) { return "\\fI" + Roff(text) + "\\fR"; }

std::string OptionTag(const Entry& e) {
  std::string tag;
  for (const std::string& n : e.names) tag += (tag.empty() ? "" : ", ") + Bold(n);
  if (!e.value.empty()) tag += " " + Italic(e.value);
  return tag;
}

std::string OptionItems(const std::vector<Entry>& entries) {
  std::string out;
  for (const Entry& e : entries) {
    out += ".TP\n" + OptionTag(e) + "\n" + Roff(Sentence(e.help));
    if (!e.value.empty() && !e.byDefault.empty()) out += " Default: " + Bold(e.byDefault) + ".";
    out += "\n";
  }
  return out;
}

struct Example {
  const char* what;
  const char* command;
};

constexpr Example kExamples[] = {
    {"One frame at 16 bits, its size from the displacement layer:",
     "tilvane render --icon logo.png --displacement clouds.png --depth 16 -o mosaic.png"},
    {"Frames 0 to 99 of an animated icon sequence, columns out of step, with a border:",
     "tilvane render --icon spin.####.png --displacement map.exr --units 20 \\\n"
     "    --time-mapping horizontal-units --time-offset 35 --border --border-color 202020 \\\n"
     "    --frames 0-99 -o out/mosaic.####.png"},
    {"Colour between two colours by brightness, dark cells faded, as linear EXR:",
     "tilvane render --icon dot.png --displacement face.jpg --size 1920x1080 \\\n"
     "    --color-mapping displacement --color-a ffd166 --color-b 3a86ff \\\n"
     "    --transparency-mapping displacement -o mosaic.exr"},
    {"A camera movie as the displacement, resized to cover the output, with a short animated "
     "icon repeating:",
     "tilvane render --icon spin.gif --loop-icon --displacement clip.mp4 --fit-displacement fill "
     "\\\n    --size 1920x1080 --units 24 --frames 0-239 -o out/clip.####.png"},
    {"A look saved, then rendered again on other layers:",
     "tilvane render --icon a.png --displacement b.png -o a.png --save-settings look.json\n"
     "tilvane render --settings look.json --icon c.png -o c.png"},
    {"What the plug-in declares, and the colour spaces it converts:", "tilvane info"},
};

// The page's literal lines: each line of the command, escaped, in a
// no-fill block.
std::string Literal(const std::string& text) {
  std::string out = ".PP\n.nf\n.RS 4\n";
  for (const std::string& line : Split(text, '\n')) out += Roff(line) + "\n";
  return out + ".RE\n.fi\n";
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

// bash: what follows an option that takes a value, as case branches.
std::string BashValueCases(const std::vector<Entry>& entries, const std::string& indent) {
  std::string out;
  for (const Entry& e : entries) {
    if (e.value.empty()) continue;
    out += indent + Join(e.names, "|") + ") ";
    switch (e.completes) {
      case Entry::Completes::Choice:
        out += "COMPREPLY=($(compgen -W '" + Join(e.choices) + "' -- \"$cur\"))";
        break;
      case Entry::Completes::File:
        out += "_tilvane_files -f";
        break;
      case Entry::Completes::Directory:
        out += "_tilvane_files -d";
        break;
      case Entry::Completes::Nothing:
        out += ":";  // a number or a size: nothing to offer
        break;
    }
    out += "; return ;;\n";
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

std::string ZshSpecs(const std::vector<Entry>& entries, const std::string& indent) {
  std::string out;
  for (const Entry& e : entries) {
    const std::string exclusive = e.names.size() > 1 ? "(" + Join(e.names) + ")" : "";
    std::string value;
    if (!e.value.empty()) {
      std::string message = e.value;
      std::erase(message, ':');
      value = ":" + message + ":";
      switch (e.completes) {
        case Entry::Completes::Choice:
          value += "(" + Join(e.choices) + ")";
          break;
        case Entry::Completes::File:
          value += "_files";
          break;
        case Entry::Completes::Directory:
          value += "_files -/";
          break;
        case Entry::Completes::Nothing:
          value += " ";
          break;
      }
    }
    for (const std::string& n : e.names) {
      out += indent + "'" + ZshQuoted(exclusive + n + "[" + Brief(e.help) + "]" + value) + "' \\\n";
    }
  }
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

}  // namespace

std::string ManPage(const CLI::App& app, const std::vector<ControlOption>& controls) {
  const std::string name = app.get_name();
  const std::vector<Command> commands = Commands(app, controls);
  const std::vector<Entry> common = Entries(app, controls, true);
  std::string description = app.get_description();
  while (!description.empty() && description.back() == '.') description.pop_back();

  std::string page =
      ".TH TILVANE 1 \"\" \"" + name + " " + TILVANE_TOOL_VERSION + "\" \"User Commands\"\n";
  page += ".SH NAME\n" + name + " \\- " + Roff(Lower(description.substr(0, 1))) +
          Roff(description.substr(1)) + "\n";

  page += ".SH SYNOPSIS\n";
  for (const Command& c : commands) {
    page += Bold(name) + " [" + Italic("common options") + "] " + Bold(c.name) + " [" +
            Italic("options") + "]\n.br\n";
  }
  page += Bold(name) + " " + Bold(kHelpCommand) + " [" + Italic("command") + "]\n";

  page += ".SH DESCRIPTION\n" + Roff(Sentence(app.get_description())) + "\n";
  page += Roff(
              "It loads the effect's plug-in and drives it as a host would: parameter set-up, "
              "then one render call per frame, so what it writes is what the plug-in renders. "
              "Layers are stills, numbered sequences (name.####.png) or movies; the output is an "
              "image, a numbered sequence or a movie.") +
          "\n.PP\n" +
          Roff(
              "The effect's controls are options of the render command, read from the plug-in "
              "the tool loaded; 'tilvane info' prints them as the plug-in registered them. The "
              "common options are taken before or after the command.") +
          "\n";

  page += ".SH COMMANDS\n";
  for (const Command& c : commands)
    page += ".TP\n" + Bold(c.name) + "\n" + Roff(Sentence(c.help)) + "\n";
  page += ".TP\n" + Bold(kHelpCommand) + " [" + Italic("command") + "]\n" +
          Roff(Sentence(kHelpCommandHelp)) + "\n";

  page += ".SH OPTIONS\n.SS Common options\n" + OptionItems(common);
  for (const Command& c : commands) {
    std::vector<Entry> own, effect;
    for (const Entry& e : c.entries) (e.control ? effect : own).push_back(e);
    if (!own.empty()) page += ".SS \"" + c.name + " options\"\n" + OptionItems(own);
    if (!effect.empty()) {
      page += ".SS \"" + c.name + ": the effect's controls\"\n" + OptionItems(effect);
    }
  }

  page +=
      ".SH ENVIRONMENT\n.TP\n" + Bold("TILVANE_THREADS") + "\n" +
      Roff("The threads each frame renders on, 1 to " + std::to_string(tilvane::kMaxRenderThreads) +
           " (0: one per core). Unset, each frame gets the cores shared among the frames "
           "rendered at once (--threads).") +
      "\n.TP\n" + Bold("TILVANE_SIMD") + "\n" +
      Roff(
          "The vector path the effect renders on: scalar, sse2, avx2 or avx512; a path the "
          "CPU lacks falls back to the best it has (default: the best). Every path renders "
          "the same frames; 'tilvane info' names the one in use.") +
      "\n.TP\n" + Bold("COLUMNS") + "\n" +
      Roff("The width of the progress bar when the terminal does not say.") + "\n";

  page += ".SH \"EXIT STATUS\"\n.TP\n0\n" + Roff("Success.") + "\n.TP\n" +
          std::to_string(kExitHostError) + "\n" +
          Roff("The effect returned an error; the message names its code.") + "\n.TP\n" +
          std::to_string(kExitUsage) + "\n" +
          Roff(
              "A usage or input error: an option, a file, or memory a frame needs; the message "
              "names the input and what to do.") +
          "\n.TP\n" + std::to_string(kExitWrite) + "\n" +
          Roff("An output could not be written completely; nothing incomplete is left behind.") +
          "\n.TP\n" + std::to_string(128 + SIGINT) + ", " + std::to_string(128 + SIGTERM) + "\n" +
          Roff("Stopped by SIGINT (Ctrl-C) or SIGTERM, after saying which frames are on disk.") +
          "\n";

  namespace fs = std::filesystem;
  const std::string plugin = fs::path(TILVANE_BUILT_PLUGIN).filename().string();
  const fs::path installed =
      (fs::path("/usr/bin") / TILVANE_PLUGIN_DIR_FROM_BIN / plugin).lexically_normal();
  page += ".SH FILES\n.TP\n" + Italic(installed.string()) + "\n" +
          Roff("The plug-in loaded unless --plugin names another: " +
               (fs::path(TILVANE_PLUGIN_DIR_FROM_BIN) / plugin).string() +
               " from the directory of the tool, else " + plugin + " beside it.") +
          "\n";

  page += ".SH EXAMPLES\n";
  for (const Example& e : kExamples) page += Roff(e.what) + "\n" + Literal(e.command) + ".PP\n";

  page += ".SH \"SEE ALSO\"\n" + Bold("ffmpeg") + "(1), " + Bold("oiiotool") + "(1)\n";
  return page;
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
  if (!valued.empty()) out += "      " + Join(valued, "|") + ") ((i++)) ;;\n";
  out += "      " + Join(names, "|") + "|" + kHelpCommand +
         ") command=${COMP_WORDS[i]}; break ;;\n"
         "    esac\n"
         "  done\n"
         "  case $command in\n";
  for (const Command& c : commands) {
    const std::string cases = BashValueCases(c.entries, "        ");
    if (!cases.empty())
      out += "    " + c.name + ")\n      case $prev in\n" + cases + "      esac ;;\n";
  }
  out += "  esac\n  case $prev in\n" + BashValueCases(common, "    ") + "  esac\n";
  out += "  local options='" + Join(AllNames(common)) + "'\n  case $command in\n";
  for (const Command& c : commands) {
    out += "    " + c.name + ") options+=' " + Join(AllNames(c.entries)) + "' ;;\n";
  }
  out +=
      "  esac\n"
      "  if [[ $cur == -* || ( -n $command && $command != " +
      std::string(kHelpCommand) +
      " ) ]]; then\n"
      "    COMPREPLY=($(compgen -W \"$options\" -- \"$cur\"))\n"
      "  elif [[ -z $command || $prev == " +
      kHelpCommand +
      " ]]; then\n"
      "    COMPREPLY=($(compgen -W '" +
      Join(names) + (std::string(" ") + kHelpCommand) +
      "' -- \"$cur\"))\n"
      "  fi\n"
      "}\n"
      "complete -F _tilvane tilvane\n";
  return out;
}

std::string ZshCompletion(const CLI::App& app, const std::vector<ControlOption>& controls) {
  const std::vector<Command> commands = Commands(app, controls);
  const std::vector<Entry> common = Entries(app, controls, true);
  std::string out =
      "#compdef tilvane\n"
      "# zsh completion for tilvane, written by 'tilvane --completions zsh'.\n\n"
      "_tilvane() {\n"
      "  local curcontext=$curcontext state line ret=1\n"
      "  typeset -A opt_args\n"
      "  local -a commands=(\n" +
      ZshCommandList(commands, "    ") + "    '" +
      ZshQuoted(std::string(kHelpCommand) + ":" + Brief(kHelpCommandHelp)) +
      "'\n  )\n"
      "  _arguments -C \\\n" +
      ZshSpecs(common, "    ") +
      "    '1: :->command' \\\n"
      "    '*:: :->arguments' && ret=0\n"
      "  case $state in\n"
      "    command) _describe -t commands command commands && ret=0 ;;\n"
      "    arguments)\n"
      "      curcontext=${curcontext%:*}-$line[1]:\n"
      "      case $line[1] in\n";
  for (const Command& c : commands) {
    out += "        " + c.name + ")\n          _arguments \\\n" +
           ZshSpecs(c.entries, "            ") + ZshSpecs(common, "            ") +
           "            && ret=0 ;;\n";
  }
  out += std::string("        ") + kHelpCommand +
         ") _describe -t commands command commands && ret=0 ;;\n"
         "      esac ;;\n"
         "  esac\n"
         "  return ret\n"
         "}\n\n"
         "_tilvane \"$@\"\n";
  return out;
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
         "Print the manual page in roff")
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
         "Print the completion script for bash or zsh")
      ->group("");
}

}  // namespace tilvane_tool
