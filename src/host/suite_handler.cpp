#include "src/host/suite_handler.h"

namespace tilvane {

void ThrowMissingSuite() { throw PF_Err{PF_Err_BAD_CALLBACK_PARAM}; }

SuiteHandler::SuiteHandler(SPBasicSuite* basic) : basic_(basic), slots_{} {
  // Without a release function nothing acquired could be given back, so a
  // basic suite missing either function counts as missing: nothing is acquired.
  if (basic_ == nullptr || basic_->AcquireSuite == nullptr || basic_->ReleaseSuite == nullptr) {
    ThrowMissingSuite();
  }
}

SuiteHandler::~SuiteHandler() { ReleaseAll(); }

const void* SuiteHandler::AcquireOrThrow(const char* name, int32_t version) {
  const void* suite = nullptr;
  if (basic_->AcquireSuite(name, version, &suite) != 0 || suite == nullptr) {
    ThrowMissingSuite();
  }
  return suite;
}

const void* SuiteHandler::Slot(HeldSuite suite) {
  if (slots_[suite] == nullptr) {
    slots_[suite] = AcquireOrThrow(kHeldSuites[suite].name, kHeldSuites[suite].version);
  }
  return slots_[suite];
}

const PF_ANSICallbacksSuite1* SuiteHandler::AnsiSuite() {
  const auto* ansi = static_cast<const PF_ANSICallbacksSuite1*>(Slot(HELD_ANSI_SUITE));
  // A suite without the functions the effect calls is as good as missing; it
  // stays in its slot, so it is still released.
  if (ansi->sprintf == nullptr || ansi->strcpy == nullptr) ThrowMissingSuite();
  return ansi;
}

void SuiteHandler::ReleaseAll() {
  for (int i = 0; i < HELD_SUITE_COUNT; ++i) {
    if (slots_[i] != nullptr) basic_->ReleaseSuite(kHeldSuites[i].name, kHeldSuites[i].version);
  }
}

}  // namespace tilvane
