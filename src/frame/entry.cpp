#include "src/frame/entry.h"

#include "src/frame/effect_info.h"
#include "src/frame/strings.h"
#include "src/host/suite_handler.h"
#include "src/params/params.h"
#include "src/params/params_setup.h"
#include "src/render/render.h"

namespace tilvane {

bool HasRecords(PF_Cmd cmd, const PF_InData* in_data, const PF_OutData* out_data,
                PF_ParamDef* const params[], const PF_LayerDef* output) {
  switch (cmd) {
    case PF_Cmd_ABOUT:
      return in_data != nullptr && out_data != nullptr;
    case PF_Cmd_GLOBAL_SETUP:
      return out_data != nullptr;
    case PF_Cmd_PARAMS_SETUP:
      return in_data != nullptr && out_data != nullptr && in_data->utils != nullptr &&
             in_data->inter.add_param != nullptr && in_data->utils->ansi.strcpy != nullptr;
    case PF_Cmd_RENDER:
      if (in_data == nullptr || params == nullptr || output == nullptr ||
          in_data->utils == nullptr || in_data->utils->fill == nullptr ||
          in_data->inter.checkout_param == nullptr || in_data->inter.checkin_param == nullptr ||
          in_data->inter.progress == nullptr) {
        return false;
      }
      for (int i = PARAM_UNITS; i < PARAM_COUNT; ++i) {
        if (params[i] == nullptr) return false;
      }
      return true;
    default:
      return true;
  }
}

PF_Err GlobalSetup(PF_InData*, PF_OutData* out_data, PF_ParamDef*[], PF_LayerDef*) {
  out_data->my_version = kEffectVersion;
  out_data->out_flags = kOutFlags;
  return PF_Err_NONE;
}

PF_Err About(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef*[], PF_LayerDef*) {
  SuiteHandler suites(in_data->pica_basicP);
  const A_char* description = LookupString(STRING_DESCRIPTION);
  const A_char* name = LookupString(STRING_NAME);
  suites.AnsiSuite()->sprintf(out_data->return_msg, "%s - v%d.%d\r\r%s", name,
                              TILVANE_MAJOR_VERSION, TILVANE_MINOR_VERSION, description);
  return PF_Err_NONE;
}

PF_Err Dispatch(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                PF_LayerDef* output, int renderThreads) {
  if (!HasRecords(cmd, in_data, out_data, params, output)) {
    return PF_Err_BAD_CALLBACK_PARAM;
  }
  PF_Err err = PF_Err_NONE;
  try {
    switch (cmd) {
      case PF_Cmd_ABOUT:
        err = About(in_data, out_data, params, output);
        break;
      case PF_Cmd_GLOBAL_SETUP:
        err = GlobalSetup(in_data, out_data, params, output);
        break;
      case PF_Cmd_PARAMS_SETUP:
        err = ParamsSetup(in_data, out_data, params, output);
        break;
      case PF_Cmd_RENDER:
        err = Render(in_data, out_data, params, output, renderThreads);
        break;
      default:
        break;
    }
  } catch (PF_Err thrown) {
    err = thrown;
  }
  return err;
}

}  // namespace tilvane
