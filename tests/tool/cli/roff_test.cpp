// The reference's Markdown as man(7) roff: what each form becomes, and
// what groff then shows of it, read back as plain text.
#include "tools/tilvane/cli/roff.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "tests/tool/tool_support.h"

namespace tilvane_test {
namespace {

using tilvane_tool::MarkdownToRoff;
using tilvane_tool::RoffInline;

struct Form {
  const char* name;
  const char* markdown;
  const char* roff;  // found in what MarkdownToRoff gives
};

void PrintTo(const Form& f, std::ostream* os) { *os << f.name; }

class Forms : public ::testing::TestWithParam<Form> {};

TEST_P(Forms, BecomeTheirRequests) {
  const std::string roff = MarkdownToRoff(GetParam().markdown);
  EXPECT_NE(roff.find(GetParam().roff), std::string::npos) << roff;
}

INSTANTIATE_TEST_SUITE_P(
    Markdown, Forms,
    ::testing::Values(
        Form{"Section", "## Exit status\n", ".SH \"EXIT STATUS\"\n"},
        Form{"Subsection", "### Movie output\n", ".SS \"Movie output\"\n"},
        Form{"ParagraphJoinsItsLines", "one\ntwo\n", ".PP\none two\n"},
        Form{"OptionItemIsTagged", "- `-o`, `--output PATH`: the image.\n",
             ".TP\n\\fB\\-o\\fR, \\fB\\-\\-output PATH\\fR\nthe image.\n"},
        Form{"OtherItemIsABullet", "- **Movies** show\n  their frames\n",
             ".IP \\(bu 2\n\\fBMovies\\fR show their frames\n"},
        Form{"CodeBlockKeepsItsLines", "```sh\n.hidden --x\n  indented\n```\n",
             ".nf\n.RS 4\n\\&.hidden \\-\\-x\n  indented\n.RE\n.fi\n"},
        Form{"IndentedCode", "text\n\n    c' = (c × a)\n", ".nf\n.RS 4\nc' = (c \\(mu a)\n"},
        Form{"Table", "| a | b |\n|---|---|\n| `x` | y \\| z |\n",
             ".na\n.TS\nlb lb\nl lx.\nT{\na\nT}\tT{\nb\nT}\nT{\n\\fBx\\fR\nT}\tT{\ny | "
             "z\nT}\n.TE\n.ad\n"},
        Form{"TableUnderAnItemIsInset", "- item:\n\n  | a |\n  |---|\n  | b |\n\nafter\n",
             ".RS 2\n.na\n.TS\n"},
        Form{"CommentsAndTitleLeftOut", "# tilvane\n<!-- a\nb -->\ntext\n", ".PP\ntext\n"}));

TEST(RoffInline, KeepsTextAndDropsMarkup) {
  EXPECT_EQ(RoffInline("see [Time](#time), **not** `-o -`"),
            "see Time, \\fBnot\\fR \\fB\\-o \\-\\fR");
  EXPECT_EQ(RoffInline("a\\*b \\\\ c"), "a*b \\e c");
  EXPECT_EQ(RoffInline("well-known -n"), "well-known \\-n");
  EXPECT_EQ(RoffInline(".starts"), ".starts");  // protected where it starts a line
  EXPECT_EQ(MarkdownToRoff(".starts\n"), ".PP\n\\&.starts\n");
}

// What a reader sees: groff's plain text of a small page.
TEST(RoffInline, GroffShowsTablesAndItemsAsText) {
  const std::string page =
      "'\\\" t\n.TH T 1\n" + MarkdownToRoff(
                                 "## Table\n\n| status | when |\n|---|---|\n| 3 | a write "
                                 "error |\n\n- `--quiet`: no progress.\n- **Bold** item\n");
  const std::string file = testing::TempDir() + "/roff_test.1";
  std::ofstream(file) << page;
  FILE* pipe = popen(("groff -t -man -Tascii -P-cbou -ww '" + file + "' 2>&1").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string text;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
  EXPECT_EQ(pclose(pipe), 0) << text;
  EXPECT_EQ(text.find("warning"), std::string::npos) << text;
  for (const char* shown :
       {"TABLE", "status", "a write error", "--quiet", "no progress.", "Bold item"}) {
    EXPECT_NE(text.find(shown), std::string::npos) << shown << " in\n" << text;
  }
}

}  // namespace
}  // namespace tilvane_test
