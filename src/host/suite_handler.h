// Scoped access to host suites for the length of one command: each suite is
// acquired on first use and every acquired suite is released when the handler
// goes out of scope, also while a missing-suite error unwinds through it.
#pragma once

#include <cstdint>

#include "src/host/host_api.h"

struct SuiteEntry {
  const char* name;
  int32_t version;
};

// Every suite the handler can hold, in the order destruction releases them.
inline constexpr int kSuiteReleaseCount = 110;
extern const SuiteEntry kSuiteReleaseList[kSuiteReleaseCount];

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
  const void* Slot(int index);

  SPBasicSuite* basic_;
  const void* slots_[kSuiteReleaseCount];
};
