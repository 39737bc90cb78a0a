#include "src/host/suite_handler.h"

constexpr SuiteEntry kSuiteReleaseList[kSuiteReleaseCount] = {
    {"AEGP Marker Suite", 1},
    {"AEGP Marker Suite", 2},
    {"AEGP Layer Suite", 8},
    {"AEGP Layer Suite", 10},
    {"AEGP Stream Suite", 9},
    {"AEGP Stream Suite", 8},
    {"AEGP Stream Suite", 7},
    {"AEGP Stream Suite", 4},
    {"AEGP Dynamic Stream Suite", 2},
    {"AEGP Dynamic Stream Suite", 3},
    {"AEGP Dynamic Stream Suite", 5},
    {"AEGP Keyframe Suite", 4},
    {"AEGP Keyframe Suite", 3},
    {"AEGP Keyframe Suite", 1},
    {"AEGP Comp Suite", 9},
    {"AEGP Comp Suite", 11},
    {"AEGP Comp Suite", 14},
    {"AEGP Comp Suite", 15},
    {"AEGP Comp Suite", 18},
    {"AEGP Comp Suite", 19},
    {"AEGP Canvas Suite", 10},
    {"AEGP Canvas Suite", 11},
    {"AEGP Camera Suite", 2},
    {"AEGP Register Suite", 6},
    {"AEGP Item Suite", 13},
    {"AEGP Item Suite", 11},
    {"AEGP Item Suite", 10},
    {"AEGP Item Suite", 7},
    {"AEGP Item Suite", 3},
    {"AEGP PF Interface Suite", 1},
    {"PF Path Query Suite", 1},
    {"AEGP Memory Suite", 1},
    {"PF Path Data Suite", 1},
    {"PF Param Utils Suite", 3},
    {"PF AE App Suite", 6},
    {"PF AE Adv App Suite", 2},
    {"AEGP Light Suite", 1},
    {"AEGP Light Suite", 2},
    {"AEGP Effect Suite", 1},
    {"AEGP Effect Suite", 2},
    {"AEGP Effect Suite", 3},
    {"AEGP Layer Mask Suite", 5},
    {"AEGP Mask Outline Suite", 2},
    {"AEGP Mask Outline Suite", 3},
    {"AEGP Mask Outline Suite", 5},
    {"AEGP Command Suite", 1},
    {"AEGP Utility Suite", 7},
    {"AEGP Render Suite", 1},
    {"AEGP Render Suite", 2},
    {"AEGP Render Suite", 3},
    {"PF ANSI Suite", 1},
    {"PF Handle Suite", 2},
    {"PF Fill Matte Suite", 2},
    {"PF World Transform Suite", 1},
    {"AEGP QueryXform Suite", 4},
    {"AEGP Composite Suite", 4},
    {"PF World Suite", 1},
    {"AEGP IO In Suite", 5},
    {"AEGP IO Out Suite", 7},
    {"AEGP Render Queue Suite", 1},
    {"AEGP Render Queue Item Suite", 3},
    {"AEGP Output Module Suite", 4},
    {"AEGP File Import Manager Suite", 3},
    {"PF Sampling8 Suite", 1},
    {"PF Sampling16 Suite", 1},
    {"PF Iterate8 Suite", 1},
    {"PF iterate16 Suite", 1},
    {"PF iterateFloat Suite", 1},
    {"AEGP Collection Suite", 2},
    {"AEGP Text Document Suite", 1},
    {"AEGP Sound Data Suite", 1},
    {"AEGP Text Layer Suite", 1},
    {"AEGP Artisan Util Suite", 1},
    {"AEGP World Suite", 2},
    {"AEGP World Suite", 3},
    {"AEGP Render Options Suite", 1},
    {"AEGP Tracker Suite", 1},
    {"AEGP Tracker Utility Suite", 1},
    {"AE Plugin Helper Suite2", 2},
    {"AEGP Layer Suite", 11},
    {"AEGP Layer Suite", 12},
    {"AEGP Layer Suite", 13},
    {"PF AE Adv Item Suite", 1},
    {"AEGP Layer Suite", 5},
    {"AEGP Layer Mask Suite", 2},
    {"AEGP Layer Mask Suite", 6},
    {"AEGP Layer Mask Suite", 7},
    {"AEGP Comp Suite", 4},
    {"AEGP Collection Suite", 1},
    {"PF AE Adv App Suite", 1},
    {"AEGP Utility Suite", 3},
    {"AEGP Render Options Suite", 2},
    {"AEGP Proj Suite", 8},
    {"AEGP Proj Suite", 9},
    {"AEGP Footage Suite", 11},
    {"AEGP Render Queue Item Suite", 4},
    {"AEGP Utility Suite", 10},
    {"AEGP Persistent Data Suite", 3},
    {"PF Color Settings Suite", 3},
    {"PF Color Settings Suite", 1},
    {"PF ColorParamSuite", 1},
    {"PF SamplingFloat Suite", 1},
    {"AEGP Utility Suite", 11},
    {"PF Effect Custom UI Suite", 1},
    {"PF Effect Custom UI Overlay Theme Suite", 1},
    {"DRAWBOT Draw Suite", 1},
    {"DRAWBOT Supplier Suite", 1},
    {"DRAWBOT Surface Suite", 1},
    {"DRAWBOT Path Suite", 1},
    {"SP Suites Suite", 2},
};

namespace {

constexpr bool SameName(const char* a, const char* b) {
  while (*a != '\0' && *a == *b) {
    ++a;
    ++b;
  }
  return *a == *b;
}

constexpr int SlotOf(const char* name, int32_t version) {
  for (int i = 0; i < kSuiteReleaseCount; ++i) {
    if (kSuiteReleaseList[i].version == version && SameName(kSuiteReleaseList[i].name, name)) {
      return i;
    }
  }
  return -1;
}

constexpr int kAnsiSuiteSlot = SlotOf(kPFANSISuite, kPFANSISuiteVersion1);
static_assert(kAnsiSuiteSlot >= 0);

}  // namespace

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

const void* SuiteHandler::Slot(int index) {
  if (slots_[index] == nullptr) {
    slots_[index] = AcquireOrThrow(kSuiteReleaseList[index].name, kSuiteReleaseList[index].version);
  }
  return slots_[index];
}

const PF_ANSICallbacksSuite1* SuiteHandler::AnsiSuite() {
  const auto* ansi = static_cast<const PF_ANSICallbacksSuite1*>(Slot(kAnsiSuiteSlot));
  // A suite without the functions the effect calls is as good as missing; it
  // stays in its slot, so it is still released.
  if (ansi->sprintf == nullptr || ansi->strcpy == nullptr) ThrowMissingSuite();
  return ansi;
}

void SuiteHandler::ReleaseAll() {
  for (int i = 0; i < kSuiteReleaseCount; ++i) {
    if (slots_[i] != nullptr) {
      basic_->ReleaseSuite(kSuiteReleaseList[i].name, kSuiteReleaseList[i].version);
    }
  }
}
