// Rates as the user writes them: exact fractions, the NTSC decimals taken
// for what they stand for, and every other form refused with the fraction's.
#include "tools/tilvane/core/rate.h"

#include <gtest/gtest.h>

#include "tools/tilvane/core/errors.h"

namespace tilvane_tool {
namespace {

struct Written {
  const char* text;
  Rate rate;
};

class RateForms : public ::testing::TestWithParam<Written> {};

TEST_P(RateForms, AreTheExactFraction) {
  EXPECT_EQ(ParseRate("--rate", GetParam().text), GetParam().rate) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Given, RateForms,
    ::testing::Values(Written{"25", {25, 1}}, Written{"24000/1001", {24000, 1001}},
                      Written{"50/2", {25, 1}}, Written{"23.976", {24000, 1001}},
                      Written{"29.97", {30000, 1001}}, Written{"47.952", {48000, 1001}},
                      Written{"59.94", {60000, 1001}}, Written{"119.88", {120000, 1001}}));

TEST(Rates, OtherFormsAreRefusedNamingTheFractionForm) {
  for (const char* text :
       {"23.98", "25.0", "0", "-24", "1/0", "24/", "/1", "abc", "", "4294967296", "24000/1001/2"}) {
    try {
      ParseRate("--rate", text);
      ADD_FAILURE() << text << " was taken";
    } catch (const UsageError& e) {
      const std::string message = e.what();
      EXPECT_NE(message.find("--rate '" + std::string(text) + "'"), std::string::npos) << message;
      EXPECT_NE(message.find("24000/1001"), std::string::npos) << message;
    }
  }
}

TEST(Rates, ShowTheirDecimalBesideTheFraction) {
  EXPECT_EQ((Rate{25, 1}).shown(), "25 fps");
  EXPECT_EQ((Rate{30000, 1001}).shown(), "29.970 fps (30000/1001)");
}

}  // namespace
}  // namespace tilvane_tool
