// The command dispatch: the host's one way in, and the handlers the frame
// answers itself. Each takes the host's records of one command and returns
// the first host error it met.
#pragma once

#include "src/host/host_api.h"

namespace tilvane {

PF_Err About(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef* output);
PF_Err GlobalSetup(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                   PF_LayerDef* output);

// Whether the records a command reads or writes are there; a host that hands
// a null one gets an error instead of a crash.
bool HasRecords(PF_Cmd cmd, const PF_InData* in_data, const PF_OutData* out_data,
                PF_ParamDef* const params[], const PF_LayerDef* output);

// Checks the records, then runs the command's handler; a thrown missing-suite
// error becomes the result. `renderThreads`, when above 0, are the threads a
// render takes instead of the plug-in's own choice.
PF_Err Dispatch(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                PF_LayerDef* output, int renderThreads = 0);

// The name and type of the stand-in host's entry, below.
inline constexpr const char* kEntryWithThreadsName = "TilvaneEntryWithThreads";
using TilvaneEntryWithThreadsFunc = PF_Err (*)(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                               PF_ParamDef* params[], PF_LayerDef* output,
                                               void* extra, int threads);

}  // namespace tilvane

TILVANE_EXPORT PF_Err EntryPointFunc(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                     PF_ParamDef* params[], PF_LayerDef* output, void* extra);

#if !defined(_WIN32)
// The stand-in host's way to fix the threads of one call: the entry point
// with the threads last (0 or below: the plug-in's own choice). Exported by
// the Linux build alone, where no real host runs; a real host knows only
// EntryPointFunc, the Windows plug-in's single export, and so keeps the
// plug-in's own choice. Nothing outlives the call: no host call, no
// process-wide value.
TILVANE_EXPORT PF_Err TilvaneEntryWithThreads(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                              PF_ParamDef* params[], PF_LayerDef* output,
                                              void* extra, int threads);
#endif
