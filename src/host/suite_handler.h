// Scoped access to host suites for the length of one command: each suite is
// acquired on first use and every acquired suite is released when the handler
// goes out of scope, also while a missing-suite error unwinds through it.
#pragma once

#include <cstdint>

#include "src/host/host_api.h"

namespace tilvane {

struct SuiteEntry {
  const char* name;
  int32_t version;
};

// The suites the handler holds, one slot each. A suite the effect comes to
// use gets an entry here and an accessor like AnsiSuite.
enum HeldSuite : int {
  HELD_ANSI_SUITE,
  HELD_SUITE_COUNT,
};

// Each held suite's name and version, in the order destruction releases
// them: the order the host's own release list gives these suites.
inline constexpr SuiteEntry kHeldSuites[HELD_SUITE_COUNT] = {
    {kPFANSISuite, kPFANSISuiteVersion1},
};

// Throws PF_Err_BAD_CALLBACK_PARAM as a PF_Err; EntryPointFunc turns it into
// the command's result.
[[noreturn]] void ThrowMissingSuite();

class SuiteHandler {
 public:
  // A null basic suite, or one without AcquireSuite or ReleaseSuite, throws
  // the missing-suite error before any host call.
  explicit SuiteHandler(SPBasicSuite* basic);
  ~SuiteHandler();
  SuiteHandler(const SuiteHandler&) = delete;
  SuiteHandler& operator=(const SuiteHandler&) = delete;

  SPBasicSuite* BasicSuite() const { return basic_; }
  // The ANSI suite, with its sprintf and strcpy present.
  const PF_ANSICallbacksSuite1* AnsiSuite();

  // Acquires a suite by name and version; a non-zero result or a null suite
  // throws the missing-suite error.
  const void* AcquireOrThrow(const char* name, int32_t version);

 private:
  void ReleaseAll();
  const void* Slot(HeldSuite suite);

  SPBasicSuite* basic_;
  const void* slots_[HELD_SUITE_COUNT];
};

}  // namespace tilvane
