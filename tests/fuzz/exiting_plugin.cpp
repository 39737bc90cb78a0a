// A plug-in that ends the process with status 1 at its first call, as a
// sanitizer does after its report: the fuzzer must count that as a finding.
#include <unistd.h>

#include "src/host/host_api.h"

extern "C" __attribute__((visibility("default"))) PF_Err EntryPointFunc(PF_Cmd, PF_InData*,
                                                                        PF_OutData*, PF_ParamDef*[],
                                                                        PF_LayerDef*, void*) {
  _exit(1);
}
