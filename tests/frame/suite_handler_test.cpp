// The scoped suite holder on its own, against a scripted basic suite: what it
// acquires, what it releases and when, including while an error unwinds.
#include "src/host/suite_handler.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

using tilvane::HELD_SUITE_COUNT;
using tilvane::kHeldSuites;
using tilvane::SuiteHandler;

struct Script {
  SPErr acquireResult = 0;
  bool nullSuite = false;
  std::vector<std::pair<std::string, int32_t>> acquired;
  std::vector<std::pair<std::string, int32_t>> released;
};
Script* gScript = nullptr;
int NoSprintf(A_char*, const A_char*, ...) { return 0; }
A_char* NoStrcpy(A_char* dst, const A_char*) { return dst; }
PF_ANSICallbacksSuite1 kSomeSuite{};

SPErr Acquire(const char* name, int32_t version, const void** suite) {
  gScript->acquired.emplace_back(name, version);
  *suite = gScript->nullSuite ? nullptr : &kSomeSuite;
  return gScript->acquireResult;
}
SPErr Release(const char* name, int32_t version) {
  gScript->released.emplace_back(name, version);
  return 7;  // a failing release must not stop the others
}

class SuiteHandlerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gScript = &script;
    kSomeSuite = PF_ANSICallbacksSuite1{};
    kSomeSuite.sprintf = &NoSprintf;
    kSomeSuite.strcpy = &NoStrcpy;
    basic.AcquireSuite = &Acquire;
    basic.ReleaseSuite = &Release;
  }
  void TearDown() override { gScript = nullptr; }
  Script script;
  SPBasicSuite basic{};
};

const std::pair<std::string, int32_t> kAnsi{"PF ANSI Suite", 1};

// What a handler on basic throws when asked for the ANSI suite; 0 for nothing.
PF_Err AnsiSuiteThrows(SPBasicSuite* basic) {
  try {
    SuiteHandler suites(basic);
    suites.AnsiSuite();
  } catch (PF_Err err) {
    return err;
  }
  return PF_Err_NONE;
}

TEST_F(SuiteHandlerTest, TwoRequestsMakeOneAcquisitionAndOneRelease) {
  {
    SuiteHandler suites(&basic);
    EXPECT_EQ(suites.AnsiSuite(), &kSomeSuite);
    EXPECT_EQ(suites.AnsiSuite(), &kSomeSuite);
    EXPECT_EQ(script.acquired.size(), 1u);
    EXPECT_TRUE(script.released.empty()) << "released before the end of the command";
  }
  ASSERT_EQ(script.acquired, (std::vector{kAnsi}));
  EXPECT_EQ(script.released, (std::vector{kAnsi}));
}

TEST_F(SuiteHandlerTest, NothingRequestedMeansNoHostCallAtAll) {
  { SuiteHandler suites(&basic); }
  EXPECT_TRUE(script.acquired.empty());
  EXPECT_TRUE(script.released.empty());
}

TEST_F(SuiteHandlerTest, ANullBasicSuiteThrowsBadCallbackParam) {
  try {
    SuiteHandler suites(nullptr);
    FAIL() << "no exception";
  } catch (PF_Err err) {
    EXPECT_EQ(err, PF_Err_BAD_CALLBACK_PARAM);
  }
}

TEST_F(SuiteHandlerTest, AMissingSuiteThrowsAndIsNeverReleased) {
  for (bool nullWithNoError : {false, true}) {
    script = Script{};
    script.acquireResult = nullWithNoError ? 0 : 0x53214664;
    script.nullSuite = true;
    const PF_Err thrown = AnsiSuiteThrows(&basic);
    EXPECT_EQ(thrown, PF_Err_BAD_CALLBACK_PARAM) << "the host's own code is not passed on";
    EXPECT_TRUE(script.released.empty());
  }
}

TEST_F(SuiteHandlerTest, AnErrorThrownAfterAnAcquisitionStillReleasesIt) {
  try {
    SuiteHandler suites(&basic);
    suites.AnsiSuite();
    script.nullSuite = true;  // the second request finds nothing
    suites.AcquireOrThrow("PF Handle Suite", 2);
    FAIL() << "no exception";
  } catch (PF_Err err) {
    EXPECT_EQ(err, PF_Err_BAD_CALLBACK_PARAM);
  }
  EXPECT_EQ(script.released, (std::vector{kAnsi}));
}

TEST_F(SuiteHandlerTest, ABasicSuiteWithoutAcquireOrReleaseThrowsBeforeAnyHostCall) {
  // Without a release function nothing acquired could be given back.
  for (int missing = 0; missing < 2; ++missing) {
    script = Script{};
    SPBasicSuite halfFilled = basic;
    if (missing == 0) halfFilled.AcquireSuite = nullptr;
    if (missing == 1) halfFilled.ReleaseSuite = nullptr;
    EXPECT_EQ(AnsiSuiteThrows(&halfFilled), PF_Err_BAD_CALLBACK_PARAM)
        << "missing member " << missing;
    EXPECT_TRUE(script.acquired.empty());
    EXPECT_TRUE(script.released.empty());
  }
}

TEST_F(SuiteHandlerTest, AnAnsiSuiteWithoutSprintfOrStrcpyThrowsAndIsStillReleased) {
  for (int missing = 0; missing < 2; ++missing) {
    script = Script{};
    kSomeSuite.sprintf = missing == 0 ? nullptr : &NoSprintf;
    kSomeSuite.strcpy = missing == 1 ? nullptr : &NoStrcpy;
    const PF_Err thrown = AnsiSuiteThrows(&basic);
    EXPECT_EQ(thrown, PF_Err_BAD_CALLBACK_PARAM) << "missing member " << missing;
    EXPECT_EQ(script.acquired, (std::vector{kAnsi}));
    EXPECT_EQ(script.released, (std::vector{kAnsi}));
  }
}

TEST_F(SuiteHandlerTest, EveryHeldSuiteIsReleasedOnceInTheListedOrder) {
  // A suite listed twice would be released twice for one acquisition.
  std::set<std::pair<std::string, int32_t>> distinct;
  for (const auto& e : kHeldSuites) distinct.emplace(e.name, e.version);
  EXPECT_EQ(distinct.size(), static_cast<size_t>(HELD_SUITE_COUNT));
  EXPECT_EQ(distinct.count(kAnsi), 1u);
  {
    SuiteHandler suites(&basic);
    suites.AnsiSuite();
  }
  std::vector<std::pair<std::string, int32_t>> listed;
  for (const auto& e : kHeldSuites) listed.emplace_back(e.name, e.version);
  EXPECT_EQ(script.released, listed) << "every suite held here is acquired by now";
}

}  // namespace
