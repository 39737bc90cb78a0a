// The checker's comparison of the version Windows shows with what the host
// reads from the PiPL and what the About box says: a right resource passes,
// and each disagreement is named.
#include "checker/version_info.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<checker::PiplProperty> Pipl(uint32_t packedVersion) {
  checker::PiplProperty name{"8BIM", "name", 0, 8, {7, 'T', 'i', 'l', 'v', 'a', 'n', 'e'}};
  checker::PiplProperty version{"8BIM", "eVER", 0, 4, {}};
  for (int i = 0; i < 4; ++i)
    version.data.push_back(static_cast<uint8_t>(packedVersion >> (8 * i)));
  return {name, version};
}

const std::string kAbout =
    "Tilvane - v1.0\r\rCopyright 2026 The Tilvane developers.\r\r"
    "Generate a mosaic using a displacement layer.\r\rhttps://tilvane.example/";

// Version 1.0, bug-fix 0, build 1, as Windows shows it.
checker::VersionInfo Good() {
  checker::VersionInfo info;
  info.fileVersion = {1, 0, 0, 1};
  info.productVersion = {1, 0, 0, 1};
  info.strings = {{"CompanyName", "Brenholt"},
                  {"FileDescription", "Generate a mosaic using a displacement layer."},
                  {"FileVersion", "1.0.0.1"},
                  {"InternalName", "Tilvane"},
                  {"LegalCopyright", "Copyright 2026 The Tilvane developers."},
                  {"OriginalFilename", "Tilvane.aex"},
                  {"ProductName", "Tilvane"},
                  {"ProductVersion", "1.0"}};
  return info;
}

std::string Problems(const checker::VersionInfo& info, uint32_t packed = 0x80001,
                     const std::string& about = kAbout) {
  std::string all;
  for (const auto& p : checker::CheckVersionInfo(info, Pipl(packed), about)) all += p + ";";
  return all;
}

TEST(VersionInfoCheck, TheRightResourcePasses) { EXPECT_EQ(Problems(Good()), ""); }

TEST(VersionInfoCheck, NumbersComeFromThePackedVersion) {
  // 2.3, bug-fix 4, beta, build 5: the stage has no place in a Windows version.
  checker::VersionInfo info = Good();
  info.fileVersion = info.productVersion = {2, 3, 4, 5};
  info.strings["FileVersion"] = "2.3.4.5";
  info.strings["ProductVersion"] = "2.3";
  const uint32_t packed = (2u << 19) | (3u << 15) | (4u << 11) | (2u << 9) | 5u;
  EXPECT_EQ(Problems(info, packed,
                     "Tilvane - v2.3\r\rCopyright 2026 The Tilvane developers.\r\r"
                     "Generate a mosaic using a displacement layer."),
            "");
  // A major version of 8 and above continues in bits 26 to 29.
  info.fileVersion = info.productVersion = {9, 0, 0, 1};
  info.strings["FileVersion"] = "9.0.0.1";
  info.strings["ProductVersion"] = "9.0";
  EXPECT_EQ(Problems(info, (1u << 26) | (1u << 19) | 1u,
                     "Tilvane - v9.0\r\rCopyright 2026 The Tilvane developers.\r\r"
                     "Generate a mosaic using a displacement layer."),
            "");
}

TEST(VersionInfoCheck, NamesEachDisagreement) {
  checker::VersionInfo build = Good();
  build.fileVersion[3] = 2;
  EXPECT_NE(Problems(build).find("file version 1.0.0.2 differs from eVER 1.0.0.1"),
            std::string::npos);
  checker::VersionInfo product = Good();
  product.productVersion = {1, 1, 0, 1};
  EXPECT_NE(Problems(product).find("product version"), std::string::npos);
  EXPECT_NE(Problems(Good(), 0x80002).find("FileVersion \"1.0.0.1\" differs from eVER"),
            std::string::npos);

  checker::VersionInfo shown = Good();
  shown.strings["ProductVersion"] = "1.0.0";
  EXPECT_NE(Problems(shown).find("ProductVersion"), std::string::npos);
  EXPECT_NE(Problems(shown).find("About message does not open"), std::string::npos);
  EXPECT_NE(Problems(Good(), 0x80001, "Tilvane - v1.1\r\r").find("About message does not open"),
            std::string::npos);

  checker::VersionInfo renamed = Good();
  renamed.strings["ProductName"] = "Tilvan";
  EXPECT_NE(Problems(renamed).find("ProductName \"Tilvan\" differs from the PiPL name"),
            std::string::npos);
  checker::VersionInfo file = Good();
  file.strings["OriginalFilename"] = "Tilvane.dll";
  EXPECT_NE(Problems(file).find("OriginalFilename"), std::string::npos);
  checker::VersionInfo company = Good();
  company.strings["CompanyName"] = "Tilvane";
  EXPECT_NE(Problems(company).find("CompanyName"), std::string::npos);
  checker::VersionInfo description = Good();
  description.strings["FileDescription"] = "A mosaic effect.";
  EXPECT_NE(Problems(description).find("FileDescription \"A mosaic effect.\" is not in the About"),
            std::string::npos);
}

TEST(VersionInfoCheck, AMissingStringOrPiplPropertyIsNamed) {
  checker::VersionInfo missing = Good();
  missing.strings.erase("LegalCopyright");
  EXPECT_NE(Problems(missing).find("no LegalCopyright string"), std::string::npos);
  missing.strings["CompanyName"] = "";
  EXPECT_NE(Problems(missing).find("no CompanyName string"), std::string::npos);
  std::string all;
  for (const auto& p : checker::CheckVersionInfo(Good(), {}, kAbout)) all += p + ";";
  EXPECT_NE(all.find("the PiPL has no name"), std::string::npos);
  EXPECT_NE(all.find("the PiPL has no eVER"), std::string::npos);
}

}  // namespace
