// The scoped suite holder on its own, against a scripted basic suite: what it
// acquires, what it releases and when, including while an error unwinds.
#include "src/host/suite_handler.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

struct Script {
  SPErr acquireResult = 0;
  bool nullSuite = false;
  std::vector<std::pair<std::string, int32_t>> acquired;
  std::vector<std::pair<std::string, int32_t>> released;
};
Script* gScript = nullptr;
const PF_ANSICallbacksSuite1 kSomeSuite{};

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
    basic.AcquireSuite = &Acquire;
    basic.ReleaseSuite = &Release;
  }
  void TearDown() override { gScript = nullptr; }
  Script script;
  SPBasicSuite basic{};
};

const std::pair<std::string, int32_t> kAnsi{"PF ANSI Suite", 1};

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
    PF_Err thrown = PF_Err_NONE;
    try {
      SuiteHandler suites(&basic);
      suites.AnsiSuite();
    } catch (PF_Err err) {
      thrown = err;
    }
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

TEST(SuiteReleaseList, HasOneHundredTenDistinctEntriesEndingWithTheSuitesSuite) {
  std::set<std::pair<std::string, int32_t>> seen;
  for (const SuiteEntry& e : kSuiteReleaseList) {
    EXPECT_TRUE(seen.emplace(e.name, e.version).second) << e.name << " " << e.version;
  }
  EXPECT_EQ(seen.size(), 110u);
  EXPECT_STREQ(kSuiteReleaseList[0].name, "AEGP Marker Suite");
  EXPECT_STREQ(kSuiteReleaseList[109].name, "SP Suites Suite");
  EXPECT_EQ(kSuiteReleaseList[109].version, 2);
  EXPECT_EQ(seen.count(kAnsi), 1u);
}

}  // namespace
