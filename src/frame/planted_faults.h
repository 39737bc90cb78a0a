// Faults planted on purpose, to prove the fuzzer finds each: only a test
// build made with TILVANE_PLANTED_FAULTS has them, and it commits the one
// that TILVANE_PLANTED_FAULT names, one at a time. Every other build
// compiles each check away.
#pragma once

enum class PlantedFault {
  SuiteNotReleased,    // suite-not-released: render keeps the world suite
  BytePastField,       // byte-past-field: parameter set-up writes past num_params
  CheckInMissed,       // check-in-missed: render keeps the displacement layer
  CallAfterError,      // call-after-error: cells check out after an error
  CallFromWorker,      // call-from-worker: progress is reported from a thread of ours
  WriteOutsideOutput,  // write-outside-output: render writes past the output's last row
};

#ifdef TILVANE_PLANTED_FAULTS
bool Planted(PlantedFault fault);
#else
constexpr bool Planted(PlantedFault) { return false; }
#endif
