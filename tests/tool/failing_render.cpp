// A plug-in whose render always fails, so that the tool's handling of an
// error returned by the effect can be seen.
#include "src/render/render.h"

PF_Err tilvane::Render(PF_InData*, PF_OutData*, PF_ParamDef*[], PF_LayerDef*, int) {
  return PF_Err_OUT_OF_MEMORY;
}
