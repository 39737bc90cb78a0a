#include "tests/support/plugin_fixture.h"

namespace tilvane_test {

const standin::PluginLibrary& Plugin() {
  static const standin::PluginLibrary library(TILVANE_PLUGIN_PATH);
  return library;
}

std::unique_ptr<standin::Host> MakeHost() {
  return std::make_unique<standin::Host>(Plugin().entry());
}

void DropBasicSuiteMember(standin::Host& host, bool acquire) {
  if (acquire) {
    host.basicSuite().AcquireSuite = nullptr;
  } else {
    host.basicSuite().ReleaseSuite = nullptr;
  }
}

}  // namespace tilvane_test
