// The cross-built Tilvane.aex as a file: what a user copies into the host's
// plug-in folder must need nothing beside it and offer exactly one way in.
#include <gtest/gtest.h>

#include <string>

#include "checker/pe_image.h"
#include "src/frame/effect_info.h"

namespace {

TEST(WindowsModule, ImportsNothingButWindowsSystemLibraries) {
  const auto dlls = checker::ImportedDlls(TILVANE_AEX_PATH);
  ASSERT_FALSE(dlls.empty());
  for (const std::string& dll : dlls) {
    EXPECT_TRUE(checker::IsWindowsSystemDll(dll))
        << dll << " would have to ship beside the plug-in";
  }
}

TEST(WindowsModule, ExportsTheEntryPointUnderThePiplsName) {
  const auto names = checker::ExportedNames(TILVANE_AEX_PATH);
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(names[0], TILVANE_ENTRY_POINT);
}

TEST(WindowsModule, MingwRuntimeLibrariesAreNotSystemLibraries) {
  for (const char* dll : {"libgcc_s_seh-1.dll", "libstdc++-6.dll", "libwinpthread-1.dll"}) {
    EXPECT_FALSE(checker::IsWindowsSystemDll(dll)) << dll;
  }
  EXPECT_TRUE(checker::IsWindowsSystemDll("KERNEL32.dll"));
}

}  // namespace
