// Parameter set-up: declares the effect's controls to the host, in index
// order, and reports their count.
#pragma once

#include "src/host/host_api.h"

namespace tilvane {

PF_Err ParamsSetup(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                   PF_LayerDef* output);

}  // namespace tilvane
