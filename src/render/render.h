// The render pass of one frame: host calls, error bookkeeping and the cell
// loops.
#pragma once

#include "src/host/host_api.h"

namespace tilvane {

// `threads`, when above 0, take the place of the plug-in's own choice of
// threads for this render (ReadRenderOptions).
PF_Err Render(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef* output,
              int threads = 0);

}  // namespace tilvane
