#include "src/frame/planted_faults.h"

#ifdef TILVANE_PLANTED_FAULTS
#include <cstdlib>
#include <cstring>

bool Planted(PlantedFault fault) {
  static const char* const kNames[] = {"suite-not-released", "byte-past-field",
                                       "check-in-missed",    "call-after-error",
                                       "call-from-worker",   "write-outside-output"};
  const char* chosen = std::getenv("TILVANE_PLANTED_FAULT");
  return chosen != nullptr && std::strcmp(chosen, kNames[static_cast<int>(fault)]) == 0;
}
#endif
