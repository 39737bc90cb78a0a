// The About box: its message, and how it borrows the host's ANSI suite.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "src/frame/strings.h"
#include "tests/support/plugin_fixture.h"

namespace {

using enum tilvane::StringIndex;
using standin::Op;
using standin::SuiteAnswer;
using tilvane::LookupString;
using tilvane::StringTable;
using tilvane_test::DropBasicSuiteMember;
using tilvane_test::MakeHost;

const std::pair<std::string, int32_t> kAnsi{"PF ANSI Suite", 1};

void MarkMessage(standin::Host& host) { std::memset(host.outData().return_msg, 'x', 256); }

bool MessageUntouched(const standin::Host& host) {
  for (char c : host.outData().return_msg) {
    if (c != 'x') return false;
  }
  return true;
}

TEST(AboutMessage, NamesTheEffectAndVersionThenTheDescription) {
  auto host = MakeHost();
  ASSERT_EQ(host->about(), PF_Err_NONE);
  const std::string message = host->outData().return_msg;
  const std::string description = LookupString(STRING_DESCRIPTION);

  EXPECT_EQ(message, "Tilvane - v1.0\r\r" + description);
  EXPECT_EQ(message.find('\n'), std::string::npos) << "line feeds break the host's About box";
  EXPECT_NE(description.find("\r\rGenerate a mosaic using a displacement layer.\r\r"),
            std::string::npos);
  EXPECT_LE(message.size(), 255u);
  EXPECT_TRUE(host->misuse().empty()) << host->misuse().front();
}

TEST(AboutMessage, DescriptionHasThreeLinesSeparatedByTwoCarriageReturns) {
  const std::string description = LookupString(STRING_DESCRIPTION);
  size_t lines = 1;
  for (size_t at = description.find('\r'); at != std::string::npos;
       at = description.find('\r', at + 2)) {
    ASSERT_EQ(description[at + 1], '\r') << "a single carriage return at " << at;
    ++lines;
  }
  EXPECT_EQ(lines, 3u);
  EXPECT_STREQ(LookupString(STRING_NAME), "Tilvane");
  EXPECT_EQ(StringTable[STRING_NONE].index, STRING_NONE);
  EXPECT_EQ(StringTable[STRING_NAME].index, STRING_NAME);
  EXPECT_EQ(StringTable[STRING_DESCRIPTION].index, STRING_DESCRIPTION);
}

TEST(AboutMessage, AnIndexOutsideTheStringTableGivesItsEmptyEntry) {
  // The table's own entry, not a neighbour's bytes.
  const A_char* none = StringTable[STRING_NONE].text;
  for (const A_long index : {A_long{-1}, A_long{STRING_COUNT}, A_long{STRING_COUNT + 1}}) {
    EXPECT_EQ(LookupString(index), none) << index;
  }
  EXPECT_STREQ(none, "");
}

TEST(AboutSuites, AcquiresTheAnsiSuiteOnceAndReleasesIt) {
  auto host = MakeHost();
  ASSERT_EQ(host->about(), PF_Err_NONE);
  const auto acquires = host->callsOf(Op::AcquireSuite);
  const auto releases = host->callsOf(Op::ReleaseSuite);
  ASSERT_EQ(acquires.size(), 1u);
  ASSERT_EQ(releases.size(), 1u);
  EXPECT_EQ(acquires[0].name, kAnsi.first);
  EXPECT_EQ(acquires[0].a, kAnsi.second);
  EXPECT_EQ(releases[0].name, kAnsi.first);
  EXPECT_EQ(releases[0].a, kAnsi.second);
  EXPECT_TRUE(host->suiteBalance().empty());
}

TEST(AboutSuites, NoBasicSuiteGivesBadCallbackParamAndLeavesTheMessage) {
  auto host = MakeHost();
  host->setBasicSuiteNull(true);
  MarkMessage(*host);
  EXPECT_EQ(host->about(), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_TRUE(MessageUntouched(*host));
  EXPECT_TRUE(host->calls().empty());
}

TEST(AboutSuites, AMissingAnsiSuiteIsReportedAsBadCallbackParam) {
  for (SuiteAnswer answer : {SuiteAnswer::Missing, SuiteAnswer::NullWithNoError}) {
    auto host = MakeHost();
    host->setSuiteAnswer(kAnsi.first, kAnsi.second, answer);
    MarkMessage(*host);
    EXPECT_EQ(host->about(), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_TRUE(MessageUntouched(*host));
    EXPECT_EQ(host->count(Op::ReleaseSuite), 0) << "released a suite it never got";
    EXPECT_TRUE(host->misuse().empty());
  }
}

TEST(AboutSuites, ABasicSuiteWithoutAcquireOrReleaseGivesBadCallbackParamAndNoCall) {
  for (const bool noAcquire : {true, false}) {
    auto host = MakeHost();
    DropBasicSuiteMember(*host, noAcquire);
    MarkMessage(*host);
    EXPECT_EQ(host->about(), PF_Err_BAD_CALLBACK_PARAM) << (noAcquire ? "Acquire" : "Release");
    EXPECT_TRUE(MessageUntouched(*host));
    EXPECT_TRUE(host->calls().empty());
  }
}

TEST(AboutSuites, AnAnsiSuiteWithoutSprintfOrStrcpyGivesBadCallbackParamAndIsReleased) {
  for (const bool noSprintf : {true, false}) {
    auto host = MakeHost();
    if (noSprintf) {
      host->ansiSuite().sprintf = nullptr;
    } else {
      host->ansiSuite().strcpy = nullptr;
    }
    MarkMessage(*host);
    EXPECT_EQ(host->about(), PF_Err_BAD_CALLBACK_PARAM) << (noSprintf ? "sprintf" : "strcpy");
    EXPECT_TRUE(MessageUntouched(*host));
    EXPECT_EQ(host->count(Op::AcquireSuite), 1);
    EXPECT_EQ(host->count(Op::ReleaseSuite), 1);
    EXPECT_TRUE(host->suiteBalance().empty());
    EXPECT_TRUE(host->misuse().empty());
  }
}

TEST(AboutSuites, TheHostsOwnAcquireErrorIsNotPassedOn) {
  auto host = MakeHost();
  host->failCall(Op::AcquireSuite, 1, PF_Err_OUT_OF_MEMORY);
  EXPECT_EQ(host->about(), PF_Err_BAD_CALLBACK_PARAM);
  EXPECT_EQ(host->count(Op::ReleaseSuite), 0);
}

TEST(AboutSuites, AFailingSprintfStillReleasesTheSuite) {
  auto host = MakeHost();
  host->failCall(Op::Sprintf, 1, -1);
  EXPECT_EQ(host->about(), PF_Err_NONE);
  EXPECT_TRUE(host->suiteBalance().empty());
  EXPECT_EQ(host->count(Op::ReleaseSuite), 1);
}

}  // namespace
