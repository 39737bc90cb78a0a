// The checker's PiPL reader and checker, which the Windows proof relies
// on: a right PiPL passes, and each kind of fault is named.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "checker/pipl.h"
#include "src/frame/effect_info.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Put32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void PutCode(Bytes& b, const char* c) {
  for (int i = 3; i >= 0; --i) b.push_back(static_cast<uint8_t>(c[i]));
}
void Property(Bytes& b, const char* key, const Bytes& data, uint32_t length) {
  PutCode(b, "8BIM");
  PutCode(b, key);
  Put32(b, 0);
  Put32(b, length);
  b.insert(b.end(), data.begin(), data.end());
}
Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// The PiPL the effect must carry, written out by hand from the host's format.
Bytes GoodPipl() {
  Bytes b{1, 0, 0, 0, 0, 0};
  Put32(b, 12);
  Property(b, "kind", Text("TKFe"), 4);
  Property(b, "name", Text("\x07Tilvane"), 8);
  Property(b, "catg",
           Text(std::string("\x08"
                            "Brenholt\0\0\0",
                            12)),
           12);
  Property(b, "8664", Text(std::string("EntryPointFunc\0\0", 16)), 16);
  Property(b, "ePVR", {2, 0, 0, 0}, 4);
  Property(b, "eSVR", {13, 0, 2, 0}, 4);
  Property(b, "eVER", {0x01, 0x00, 0x08, 0x00}, 4);
  Property(b, "eINF", {0, 0, 0, 0}, 2);
  Property(b, "eGLO", {2, 0, 0, 2}, 4);
  Property(b, "eGL2", {0, 0, 0, 0}, 4);
  Property(b, "eMNA", Text("\x07Tilvane"), 8);
  Property(b, "aeFL", {0, 0, 0, 0}, 4);
  return b;
}

const checker::ReportedSetup kReported{0x80001, 0x02000002, 0};

TEST(PiplCheck, TheRightPiplPasses) {
  const auto properties = checker::ParsePipl(GoodPipl());
  ASSERT_EQ(properties.size(), 12u);
  EXPECT_EQ(properties[3].key, "8664");
  EXPECT_EQ(properties[7].length, 2u);
  const auto problems = checker::CheckPipl(properties, kReported);
  EXPECT_TRUE(problems.empty()) << problems.front();
}

TEST(PiplCheck, NamesEachFault) {
  auto problemsOf = [](const Bytes& bytes, checker::ReportedSetup reported = kReported) {
    std::string all;
    for (const auto& p : checker::CheckPipl(checker::ParsePipl(bytes), reported)) all += p + ";";
    return all;
  };
  Bytes wrongVersionWords = GoodPipl();
  // ePVR written as the 32-bit 0x00020000 instead of the words 2, 0.
  const size_t ePVR = 10 + 4 * 16 + 4 + 8 + 12 + 16 + 16;
  wrongVersionWords[ePVR] = 0;
  wrongVersionWords[ePVR + 2] = 2;
  EXPECT_NE(problemsOf(wrongVersionWords).find("ePVR"), std::string::npos);

  checker::ReportedSetup otherVersion = kReported;
  otherVersion.version = 0x80002;
  EXPECT_NE(problemsOf(GoodPipl(), otherVersion).find("my_version"), std::string::npos);
  checker::ReportedSetup otherFlags = kReported;
  otherFlags.outFlags = 0;
  EXPECT_NE(problemsOf(GoodPipl(), otherFlags).find("out_flags"), std::string::npos);

  Bytes numbered = GoodPipl();
  numbered[10 + 8] = 1;  // the first property's id
  EXPECT_NE(problemsOf(numbered).find("id 1"), std::string::npos);

  Bytes foreignVendor = GoodPipl();
  foreignVendor[10 + 16 + 4 + 3] = 'X';  // "8BIM" of the second property, stored reversed
  EXPECT_NE(problemsOf(foreignVendor).find("property 2 (name) has vendor XBIM"), std::string::npos)
      << problemsOf(foreignVendor);

  Bytes renamed = GoodPipl();
  renamed[10 + 16 + 4 + 16 + 1] = 'X';  // a letter of the name
  EXPECT_NE(problemsOf(renamed).find("(name)"), std::string::npos);
}

TEST(PiplCheck, MalformedBytesAreRefused) {
  Bytes truncated = GoodPipl();
  truncated.resize(truncated.size() - 3);
  EXPECT_THROW(checker::ParsePipl(truncated), std::runtime_error);
  Bytes trailing = GoodPipl();
  trailing.push_back(0);
  EXPECT_THROW(checker::ParsePipl(trailing), std::runtime_error);
  EXPECT_THROW(checker::ParsePipl(Bytes{1, 0}), std::runtime_error);
}

}  // namespace
