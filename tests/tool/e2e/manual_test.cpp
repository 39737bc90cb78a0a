// The manual page and the shell completions the tool writes, against the
// option table and the controls the built plug-in registers: every one is
// in all three, the page renders cleanly, and bash completes real words.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>

#include "tests/tool/tool_support.h"
#include "tools/tilvane/cli/options.h"
#include "tools/tilvane/job/controls.h"
#include "tools/tilvane/job/render_job.h"

namespace tilvane_test {
namespace {

using tilvane_tool::ControlOption;
using tilvane_tool::FarmOption;
using tilvane_tool::kFarmCommandNames;

// A shell command's standard output (and error, when it says 2>&1) and status.
RunResult Capture(const std::string& command) {
  RunResult result;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return result;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) result.out.append(buffer, n);
  result.status = WEXITSTATUS(pclose(pipe));
  return result;
}

// Runs of spaces and line breaks as one space.
std::string Collapsed(const std::string& text) {
  std::string out;
  for (const char c : text) {
    const bool space = c == ' ' || c == '\n' || c == '\t';
    if (space && (out.empty() || out.back() == ' ')) continue;
    out += space ? ' ' : c;
  }
  return out;
}

// `word` stands whole in `text`: "--frame" is not found in "--frames".
bool HasWord(const std::string& text, const std::string& word) {
  const auto part = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '-'; };
  for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
    const size_t end = at + word.size();
    if ((at == 0 || !part(text[at - 1])) && (end == text.size() || !part(text[end]))) return true;
  }
  return false;
}

struct Named {
  std::string name;
  std::string help;
  std::vector<std::string> choices;
};

class Manual : public ToolTest {
 protected:
  static void SetUpTestSuite() {
    plugin_ = new standin::PluginLibrary(TILVANE_PLUGIN_PATH);
    host_ = tilvane_tool::SetUpHost(*plugin_).release();
  }
  static void TearDownTestSuite() {
    delete host_;
    delete plugin_;
  }

  // Every name of every render option and control, with its help text.
  static std::vector<Named> TableNames() {
    std::vector<Named> all;
    for (const tilvane_tool::RenderOption& o : tilvane_tool::RenderOptions()) {
      std::stringstream names(o.names);
      std::vector<std::string> choices = o.choices ? o.choices() : std::vector<std::string>{};
      // A name a shell would need quoted is left to the user to type.
      std::erase_if(choices, [](const std::string& c) { return c.find(' ') != c.npos; });
      for (std::string n; std::getline(names, n, ',');) all.push_back({n, o.help, choices});
    }
    for (const ControlOption& c : tilvane_tool::ControlOptions(host_->registered())) {
      const bool popup = c.param.def.param_type == PF_Param_POPUP;
      all.push_back({c.flag, c.help(), popup ? c.choices() : std::vector<std::string>{}});
      if (c.param.def.param_type == PF_Param_CHECKBOX) {
        all.push_back({"--no-" + c.flag.substr(2), c.help(), {}});
      }
    }
    return all;
  }

  std::string write(const std::vector<std::string>& args, const std::string& name) const {
    const RunResult r = run(args);
    EXPECT_EQ(r.status, 0) << r.err;
    std::ofstream(path(name)) << r.out;
    return r.out;
  }

  // The page as plain text, without line breaks or hyphenation inside a paragraph.
  std::string rendered() const {
    write({"--man"}, "tilvane.1");
    const RunResult r =
        Capture("groff -t -man -Tascii -P-cbou -rLL=3000n -rHY=0 '" + path("tilvane.1") + "'");
    EXPECT_EQ(r.status, 0);
    return r.out;
  }

  // What bash's completion offers for these words (the last being typed),
  // sorted, among a file logo.png and a job folder jobs.farm.
  std::vector<std::string> complete(const std::vector<std::string>& typed) const {
    std::ofstream(path("logo.png")) << "";
    std::filesystem::create_directories(path("jobs.farm"));
    std::string words;
    for (const std::string& w : typed) words += " '" + w + "'";
    const RunResult r = Capture("cd '" + dir_.string() +
                                "' && bash -c 'source ./tilvane.bash; COMP_WORDS=(\"$@\"); "
                                "COMP_CWORD=$(($# - 1)); _tilvane; "
                                "printf \"%s\\n\" \"${COMPREPLY[@]}\"' bash" +
                                words + " 2>&1");
    EXPECT_EQ(r.status, 0) << r.out;
    std::vector<std::string> offered;
    std::stringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
      if (!line.empty()) offered.push_back(line);
    }
    std::sort(offered.begin(), offered.end());
    return offered;
  }

  // Whether `command` (one farm command) takes an option named as `o`: its
  // own, or for submit the render option of that name.
  static bool Takes(const tilvane_tool::FarmCommandName& command, const FarmOption& o) {
    return (o.commands & command.command) ||
           (command.command == tilvane_tool::kFarmSubmit &&
            tilvane_tool::FindRenderOption(std::string(o.names).substr(2)));
  }

  static standin::PluginLibrary* plugin_;
  static standin::Host* host_;
};
standin::PluginLibrary* Manual::plugin_ = nullptr;
standin::Host* Manual::host_ = nullptr;

TEST_F(Manual, EveryOptionAndControlIsInThePageAndBothCompletions) {
  const std::string page = Collapsed(rendered());
  const std::string bash = write({"--completions", "bash"}, "tilvane.bash");
  const std::string zsh = write({"--completions", "zsh"}, "_tilvane");
  const std::vector<Named> all = TableNames();
  ASSERT_GT(all.size(), tilvane_tool::RenderOptions().size());  // the controls too
  for (const Named& n : all) {
    EXPECT_TRUE(HasWord(page, n.name)) << n.name << " is not on the page";
    EXPECT_NE(page.find(Collapsed(n.help)), std::string::npos) << n.name << "'s help";
    EXPECT_TRUE(HasWord(bash, n.name)) << n.name << " is not completed by bash";
    EXPECT_NE(zsh.find(n.name + "["), std::string::npos) << n.name << " is not completed by zsh";
    for (const std::string& choice : n.choices) {
      EXPECT_TRUE(HasWord(bash, choice)) << n.name << " " << choice << " in bash";
      EXPECT_TRUE(HasWord(zsh, choice)) << n.name << " " << choice << " in zsh";
    }
  }
}

// zsh reads the render command's specs one option each: _arguments stands
// in for the real one, and the first call puts the completion in "render".
TEST_F(Manual, ZshReadsEachRenderOptionAsOneSpec) {
  if (Capture("command -v zsh").status != 0) GTEST_SKIP() << "no zsh (scripts/deps.sh installs it)";
  write({"--completions", "zsh"}, "_tilvane");
  const RunResult r = Capture(
      "zsh -f -c '_describe() { :; }; integer calls=0; _arguments() { (( ++calls > 1 )) && "
      "print -rl -- \"$@\" || { state=arguments; line=(render); return 1; }; }; "
      "source \"$0\"' '" +
      path("_tilvane") + "' 2>&1");
  ASSERT_EQ(r.status, 0) << r.out;
  const std::regex spec(R"(^(\([^)]*\))?(-[-a-z0-9]+)\[[^\]]*\](:.*)?$)");
  std::set<std::string> specified;
  std::stringstream lines(r.out);
  for (std::string line; std::getline(lines, line);) {
    std::smatch m;
    if (line == "&&") continue;
    EXPECT_TRUE(std::regex_match(line, m, spec)) << "not one option's spec: " << line;
    if (!m.empty()) specified.insert(m[2]);
  }
  for (const Named& n : TableNames()) EXPECT_TRUE(specified.count(n.name)) << n.name;
}

TEST_F(Manual, ThePageRendersCleanlyAndItsExamplesUseRealOptions) {
  write({"--man"}, "tilvane.1");
  const RunResult warnings = Capture("groff -t -ww -man -z '" + path("tilvane.1") + "' 2>&1");
  EXPECT_EQ(warnings.status, 0);
  EXPECT_EQ(warnings.out, "");

  const std::string page = rendered();
  size_t at = 0;
  for (const char* section : {"NAME", "SYNOPSIS", "DESCRIPTION", "COMMANDS", "OPTIONS",
                              "ENVIRONMENT", "EXIT STATUS", "FILES", "EXAMPLES", "SEE ALSO"}) {
    const size_t found = page.find("\n" + std::string(section) + "\n", at);
    ASSERT_NE(found, std::string::npos) << section << " missing or out of order";
    at = found;
  }
  EXPECT_NE(page.find("tilvane - renders the Tilvane mosaic effect"), std::string::npos);

  const size_t examples = page.find("\nEXAMPLES\n");
  std::stringstream words(page.substr(examples, page.find("\nSEE ALSO\n") - examples));
  std::vector<std::string> known = {"-o"};
  for (const Named& n : TableNames()) known.push_back(n.name);
  for (const FarmOption& o : tilvane_tool::FarmOptions()) known.push_back(o.names);
  int options = 0;
  for (std::string w; words >> w;) {
    if (w.rfind("--", 0) != 0) continue;
    ++options;
    EXPECT_NE(std::find(known.begin(), known.end(), w), known.end()) << w << " in EXAMPLES";
  }
  EXPECT_GT(options, 10);
}

// A terminal outside a UTF-8 locale has no glyph for \[uXXXX]: man shows the
// page there too, without a warning or a hole.
TEST_F(Manual, ThePageShowsInAnyLocale) {
  write({"--man"}, "tilvane.1");
  for (const char* device : {"ascii", "latin1", "utf8"}) {
    const RunResult warnings = Capture(std::string("LANG=C LC_ALL=C groff -t -ww -man -T") +
                                       device + " '" + path("tilvane.1") + "' 2>&1 >/dev/null");
    EXPECT_EQ(warnings.status, 0) << device;
    EXPECT_EQ(warnings.out, "") << device;
  }
}

struct Completion {
  std::vector<std::string> words;  // the last is the one being completed
  std::vector<std::string> offered;
};

void PrintTo(const Completion& c, std::ostream* os) {
  for (const std::string& w : c.words) *os << " '" << w << "'";
}

class BashCompletes : public Manual, public ::testing::WithParamInterface<Completion> {};

TEST_P(BashCompletes, TheWordBeingTyped) {
  write({"--completions", "bash"}, "tilvane.bash");
  EXPECT_EQ(complete(GetParam().words), GetParam().offered);
}

INSTANTIATE_TEST_SUITE_P(
    Words, BashCompletes,
    ::testing::Values(
        Completion{{"tilvane", "render", "--ic"}, {"--icon", "--icon-rate"}},
        Completion{{"tilvane", "he"}, {"help"}}, Completion{{"tilvane", "help", "ren"}, {"render"}},
        Completion{{"tilvane", "--plugin", "demo", "render", "--fr"}, {"--frame", "--frames"}},
        Completion{{"tilvane", "demo", "--thr"}, {"--threads"}},
        Completion{{"tilvane", "render", "--fit-displacement", "st"}, {"stretch"}},
        Completion{{"tilvane", "render", "--time-mapping", "horizontal-"}, {"horizontal-units"}},
        Completion{{"tilvane", "render", "--png-filter", "a"}, {"adaptive", "average"}},
        Completion{{"tilvane", "render", "--codec", "pro"}, {"prores-422", "prores-4444"}},
        Completion{{"tilvane", "render", "--exr-compression", "dw"}, {"dwaa", "dwab"}},
        Completion{{"tilvane", "render", "--output-colorspace", "ra"}, {"raw"}},
        Completion{{"tilvane", "render", "--no-bor"}, {"--no-border"}},
        Completion{{"tilvane", "render", "--displacement", "lo"}, {"logo.png"}},
        Completion{{"tilvane", "render", "--size", ""}, {}}));

// A value named FILE is a file name, as PATH is.
INSTANTIATE_TEST_SUITE_P(
    FileValues, BashCompletes,
    ::testing::Values(Completion{{"tilvane", "render", "--settings", "lo"}, {"logo.png"}},
                      Completion{{"tilvane", "render", "--save-settings", "lo"}, {"logo.png"}}));

// A command's commands: farm's, and the options of each, the render options
// and their values included, at depth two.
INSTANTIATE_TEST_SUITE_P(
    FarmWords, BashCompletes,
    ::testing::Values(
        Completion{{"tilvane", "farm", ""}, {"join", "resume", "status", "submit", "task", "wait"}},
        Completion{{"tilvane", "farm", "st"}, {"status"}},
        Completion{{"tilvane", "help", "fa"}, {"farm"}},
        Completion{{"tilvane", "--plugin", "x.so", "farm", "submit", "--max"}, {"--max-running"}},
        Completion{{"tilvane", "farm", "submit", "--ic"}, {"--icon", "--icon-rate"}},
        Completion{{"tilvane", "farm", "submit", "--fit-displacement", "st"}, {"stretch"}},
        Completion{{"tilvane", "farm", "submit", "--displacement", "lo"}, {"logo.png"}},
        Completion{{"tilvane", "farm", "submit", "--job-dir", "jo"}, {"jobs.farm"}},
        Completion{{"tilvane", "farm", "submit", "--chunk", ""}, {}},
        Completion{{"tilvane", "farm", "wait", "jo"}, {"jobs.farm"}},
        Completion{{"tilvane", "farm", "wait", "jobs.farm", "--interval", ""}, {}}));

// Every farm option, from the farm's table: under each command that takes
// it in --help, on the page and in the reference, and completed by both
// shells there and only there.
TEST_F(Manual, EveryFarmOptionIsInTheHelpThePageTheReferenceAndBothCompletions) {
  const std::string page = Collapsed(rendered());
  const std::string reference = run({"--reference"}).out;
  const std::string bash = write({"--completions", "bash"}, "tilvane.bash");
  const std::string zsh = write({"--completions", "zsh"}, "_tilvane");
  const RunResult farmHelp = run({"farm", "--help"});
  ASSERT_EQ(farmHelp.status, 0) << farmHelp.err;
  ASSERT_FALSE(tilvane_tool::FarmOptions().empty());
  for (const FarmOption& o : tilvane_tool::FarmOptions()) {
    const std::string shown = o.shown();
    EXPECT_NE(farmHelp.out.find(o.help), std::string::npos) << shown << " in farm --help";
    EXPECT_TRUE(HasWord(page, shown)) << shown << " is not on the page";
    EXPECT_NE(page.find(Collapsed(o.help)), std::string::npos) << shown << "'s help on the page";
    if (o.bare()) {
      EXPECT_NE(zsh.find("':" + o.typeName + ":_files -/'"), std::string::npos) << shown;
    } else {
      EXPECT_TRUE(HasWord(bash, o.names)) << o.names << " is not completed by bash";
      EXPECT_NE(zsh.find(std::string(o.names) + "["), std::string::npos) << o.names << " in zsh";
    }
    for (const tilvane_tool::FarmCommandName& c : kFarmCommandNames) {
      const std::string name = std::string("farm ") + c.name;
      const RunResult help = run({"farm", c.name, "--help"});
      const size_t at = reference.find("### " + name + " options\n");
      const std::string section =
          at == std::string::npos ? "" : reference.substr(at, reference.find("\n#", at + 4) - at);
      const bool own = o.commands & c.command;
      if (!o.bare()) {
        EXPECT_EQ(HasWord(help.out, o.names), own || Takes(c, o)) << o.names << " in " << name;
      }
      EXPECT_EQ(section.find("- `" + shown) != std::string::npos, own)
          << shown << " under " << name;
      if (own) {
        EXPECT_NE(help.out.find(o.help), std::string::npos) << shown << " in " << name << " --help";
      }
    }
  }
}

// bash completes each farm command's options from the table, and no other
// command's.
TEST_F(Manual, BashCompletesEachFarmCommandsOwnOptions) {
  write({"--completions", "bash"}, "tilvane.bash");
  for (const tilvane_tool::FarmCommandName& c : kFarmCommandNames) {
    for (const FarmOption& o : tilvane_tool::FarmOptions()) {
      if (o.bare()) {
        const std::vector<std::string> folders = complete({"tilvane", "farm", c.name, "jo"});
        EXPECT_EQ(!folders.empty(), bool(o.commands & c.command)) << c.name << " " << o.shown();
        continue;
      }
      const std::vector<std::string> offered = complete({"tilvane", "farm", c.name, o.names});
      EXPECT_EQ(std::count(offered.begin(), offered.end(), o.names), Takes(c, o) ? 1 : 0)
          << c.name << " " << o.names;
    }
  }
}

// zsh reads each farm command's specs: the stand-in _arguments puts the
// completion in "farm", then in the command, then prints its specs.
TEST_F(Manual, ZshReadsEachFarmCommandsOptionsAsSpecs) {
  if (Capture("command -v zsh").status != 0) GTEST_SKIP() << "no zsh (scripts/deps.sh installs it)";
  write({"--completions", "zsh"}, "_tilvane");
  for (const tilvane_tool::FarmCommandName& c : kFarmCommandNames) {
    const RunResult r =
        Capture(std::string("zsh -f -c '_describe() { :; }; integer calls=0; _arguments() { "
                            "(( ++calls > 2 )) && print -rl -- \"$@\" || { state=arguments; "
                            "(( calls == 1 )) && line=(farm) || line=(") +
                c.name + "); return 1; }; }; source \"$0\"' '" + path("_tilvane") + "' 2>&1");
    ASSERT_EQ(r.status, 0) << r.out;
    std::set<std::string> specified;
    std::stringstream lines(r.out);
    const std::regex spec(R"(^(\([^)]*\))?(-[-a-z0-9]+)\[[^\]]*\](:.*)?$)");
    for (std::string line; std::getline(lines, line);) {
      std::smatch m;
      if (std::regex_match(line, m, spec)) {
        specified.insert(m[2]);
      } else {
        specified.insert(line);  // a bare value: ":DIR:_files -/"
      }
    }
    for (const FarmOption& o : tilvane_tool::FarmOptions()) {
      const std::string key = o.bare() ? ":" + o.typeName + ":_files -/" : o.names;
      EXPECT_EQ(specified.count(key), (o.bare() ? bool(o.commands & c.command) : Takes(c, o)))
          << c.name << " " << key;
    }
  }
}

// docs/tilvane.md is the reference the page is made from; the parts the
// tool writes from its option table must be current there too.
TEST_F(Manual, TheReferenceInTheRepositoryIsTheOneTheToolWrites) {
  std::ifstream file(TILVANE_REFERENCE_PATH);
  ASSERT_TRUE(file) << TILVANE_REFERENCE_PATH;
  const std::string checkedIn{std::istreambuf_iterator<char>(file), {}};
  const RunResult r = run({"--reference"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.out == checkedIn)
      << "docs/tilvane.md is not what the tool writes: run scripts/update-reference.sh";
  for (const Named& n : TableNames()) EXPECT_TRUE(HasWord(r.out, n.name)) << n.name;
}

// Every section and table of the reference reaches the page: each heading
// as a section, each table row as a row, no Markdown left showing.
TEST_F(Manual, ThePageShowsEveryPartOfTheReference) {
  const std::string reference = run({"--reference"}).out;
  const std::string page = rendered();
  std::stringstream lines(reference);
  int headings = 0, rows = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("## ", 0) == 0) {
      std::string title = line.substr(3);
      std::transform(title.begin(), title.end(), title.begin(), ::toupper);
      EXPECT_NE(page.find("\n" + title + "\n"), std::string::npos) << title;
      ++headings;
    } else if (line.rfind("### ", 0) == 0) {
      EXPECT_NE(page.find(line.substr(4)), std::string::npos) << line;
    } else if (line.rfind("| ", 0) == 0 && line.find("---") == std::string::npos) {
      const std::string first = line.substr(2, line.find(" |", 2) - 2);
      if (first.find_first_of("`*[") == std::string::npos) {
        EXPECT_NE(page.find(first), std::string::npos) << "table row " << line;
      }
      ++rows;
    }
  }
  EXPECT_GT(headings, 10);
  EXPECT_GT(rows, 30);
  for (const char* markup : {"**", "](", "```", "<!--", "\n|", "T{", ".TS"}) {
    EXPECT_EQ(page.find(markup), std::string::npos) << markup << " shows on the page";
  }
}

TEST_F(Manual, NeitherIsWrittenWithoutThePluginsControls) {
  const RunResult shell = run({"--completions", "fish"});
  EXPECT_TRUE(OneLineError(shell));
  EXPECT_NE(shell.err.find("give bash or zsh"), std::string::npos) << shell.err;
  for (const char* what : {"--man", "--completions"}) {
    std::vector<std::string> args = {"--plugin", path("missing.so"), what};
    if (std::string(what) == "--completions") args.push_back("bash");
    const RunResult r = run(args);
    EXPECT_TRUE(OneLineError(r)) << what;
    EXPECT_EQ(r.out, "") << what;
  }
}

}  // namespace
}  // namespace tilvane_test
