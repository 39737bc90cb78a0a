// Shared set-up for tests that drive the built plug-in through the stand-in host.
#pragma once

#include <memory>

#include "standin/host.h"

namespace tilvane_test {

// The plug-in library built beside the tests, loaded once for the process.
const standin::PluginLibrary& Plugin();

// A fresh host on the built plug-in.
std::unique_ptr<standin::Host> MakeHost();

// Plays a host with a half-filled basic suite: nulls its AcquireSuite, or
// else its ReleaseSuite.
void DropBasicSuiteMember(standin::Host& host, bool acquire);

}  // namespace tilvane_test
