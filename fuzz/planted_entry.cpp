// The plug-in with faults planted on purpose, to prove the fuzzer finds each.
// This file takes the place of the plug-in's export in that build only: it
// runs the plug-in's own dispatch and then commits, in the plug-in's name,
// the one fault TILVANE_PLANTED_FAULT names. The plug-in's code has no trace
// of them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "src/frame/entry.h"
#include "src/params/params.h"

namespace {

bool Planted(const char* fault) {
  const char* chosen = std::getenv("TILVANE_PLANTED_FAULT");
  return chosen != nullptr && std::strcmp(chosen, fault) == 0;
}

// byte-past-field: parameter set-up writes past num_params.
void AfterParamsSetup(PF_OutData* out, PF_Err err) {
  if (err == PF_Err_NONE && Planted("byte-past-field")) {
    auto* bytes = reinterpret_cast<unsigned char*>(out);
    bytes[offsetof(PF_OutData, num_params) + sizeof out->num_params] ^= 1;
  }
}

// write-outside-output: one byte past the row that ends last in memory. The
// world's flags give its pixel size without another host call.
void WritePastOutput(PF_EffectWorld* output) {
  if (output->data == nullptr || output->width < 1 || output->height < 1) return;
  const int32_t last = output->rowbytes > 0 ? output->height - 1 : 0;
  const int pixelSize = (output->world_flags & PF_WorldFlag_DEEP) != 0 ? 8 : 4;
  reinterpret_cast<volatile unsigned char*>(
      output->data)[int64_t{last} * output->rowbytes + int64_t{output->width} * pixelSize] = 1;
}

void AfterRender(PF_InData* in, PF_LayerDef* output, PF_Err err) {
  SPBasicSuite* basic = in->pica_basicP;
  if (Planted("suite-not-released") && err == PF_Err_NONE) {
    // The world suite acquired once more than released.
    const void* suite = nullptr;
    basic->AcquireSuite(kPFWorldSuite, kPFWorldSuiteVersion2, &suite);
  }
  if (Planted("check-in-missed") && err == PF_Err_NONE) {
    PF_ParamDef layer{};
    in->inter.checkout_param(in->effect_ref, tilvane::PARAM_DISPLACEMENT_LAYER, in->current_time,
                             in->time_step, in->time_scale, &layer);
  }
  if (Planted("call-after-error") && err != PF_Err_NONE) {
    PF_ParamDef icon{};
    in->inter.checkout_param(in->effect_ref, tilvane::PARAM_ICON_LAYER, in->current_time,
                             in->time_step, in->time_scale, &icon);
    in->inter.checkin_param(in->effect_ref, &icon);
  }
  if (Planted("call-from-worker")) {
    std::thread([in] { in->inter.progress(in->effect_ref, 100, 100); }).join();
  }
  if (Planted("write-outside-output") && err == PF_Err_NONE) WritePastOutput(output);
}

PF_Err RunAndPlant(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                   PF_LayerDef* output, int threads) {
  const PF_Err err = tilvane::Dispatch(cmd, in_data, out_data, params, output, threads);
  // Faults are planted only where the plug-in itself ran the command.
  if (!tilvane::HasRecords(cmd, in_data, out_data, params, output)) return err;
  if (cmd == PF_Cmd_PARAMS_SETUP) AfterParamsSetup(out_data, err);
  if (cmd == PF_Cmd_RENDER) AfterRender(in_data, output, err);
  return err;
}

}  // namespace

TILVANE_EXPORT PF_Err EntryPointFunc(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                     PF_ParamDef* params[], PF_LayerDef* output, void*) {
  return RunAndPlant(cmd, in_data, out_data, params, output, 0);
}

TILVANE_EXPORT PF_Err TilvaneEntryWithThreads(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                              PF_ParamDef* params[], PF_LayerDef* output, void*,
                                              int threads) {
  return RunAndPlant(cmd, in_data, out_data, params, output, threads);
}
