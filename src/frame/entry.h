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
// error becomes the result.
PF_Err Dispatch(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                PF_LayerDef* output);

}  // namespace tilvane

TILVANE_EXPORT PF_Err EntryPointFunc(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                     PF_ParamDef* params[], PF_LayerDef* output, void* extra);
