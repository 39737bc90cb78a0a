// The library's exports, alone in their file so that a test build can put
// its own in its place around the same dispatch.
#include "src/frame/entry.h"

TILVANE_EXPORT PF_Err EntryPointFunc(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                     PF_ParamDef* params[], PF_LayerDef* output, void*) {
  return tilvane::Dispatch(cmd, in_data, out_data, params, output);
}

#if !defined(_WIN32)
TILVANE_EXPORT PF_Err TilvaneEntryWithThreads(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                              PF_ParamDef* params[], PF_LayerDef* output, void*,
                                              int threads) {
  return tilvane::Dispatch(cmd, in_data, out_data, params, output, threads);
}
#endif
