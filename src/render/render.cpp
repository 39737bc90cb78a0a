// The render pass: host calls, error bookkeeping and the cell
// loops. The per-pixel mathematics lives in cell_draw.cpp, the cell times in
// cell_time.cpp.
#include "src/render/render.h"

#include <cstring>
#include <optional>

#include "src/host/suite_handler.h"
#include "src/params/params.h"
#include "src/render/cell_draw.h"
#include "src/render/cell_painter.h"
#include "src/render/cell_time.h"
#include "src/render/grid_geometry.h"
#include "src/render/render_options.h"
#include "src/render/render_settings.h"

namespace tilvane {

namespace {

bool HasPixels(const PF_ParamDef& layer) { return layer.u.ld.data != nullptr; }

// A world the renderer may read or write: pixel data and at least 1 × 1.
bool IsDrawable(const PF_EffectWorld& world) {
  return world.data != nullptr && world.width >= 1 && world.height >= 1;
}

void ClearRecord(PF_ParamDef* record) { std::memset(record, 0, sizeof(*record)); }

// A step that begins "while no error is pending" keeps the first error.
void KeepFirst(PF_Err* err, PF_Err code) {
  if (*err == PF_Err_NONE) *err = code;
}

// What the cell loops need from the set-up steps.
struct Pass {
  PF_InData* in;
  PF_EffectWorld* output;
  const RenderSettings* settings;
  CallTime time;
  std::optional<GridGeometry> geometry;
  const PF_EffectWorld* displacement;  // null when no sample can be taken
  PF_ParamDef* icon;                   // the icon record, reused by every cell
};

// The cell loops, at one depth, chosen once per render. Every cell makes
// its generator draw and its icon check-in whatever happens; check-outs and
// drawing stop at the first error.
template <typename Pixel>
void RunCellLoops(const Pass& pass, const RenderOptions& options, PF_Err* err) {
  PF_InData* in = pass.in;
  const RenderSettings& settings = *pass.settings;
  const bool drawable = pass.geometry.has_value() && IsDrawable(*pass.output);
  std::optional<DrawContext<Pixel>> context;
  if (drawable) context = MakeDrawContext<Pixel>(settings, *pass.geometry, pass.output);
  std::optional<CellPainter<Pixel>> painter;
  if (context) painter.emplace(*context, RowDrawerFor<Pixel>(options.simd), options);

  for (int32_t cellRow = 0; cellRow < settings.units; ++cellRow) {
    for (int32_t cellColumn = 0; cellColumn < settings.units; ++cellColumn) {
      CellState cell{};
      cell.jitter = CellJitter(JitterRandom::Draw(), settings.timeOffset, pass.time);
      cell.cellLuminance = kUnsampledLuminance;
      if (*err == PF_Err_NONE && pass.geometry && pass.displacement != nullptr) {
        const SamplePoint point =
            DisplacementSamplePoint(*pass.geometry, cellRow, cellColumn, pass.displacement->width,
                                    pass.displacement->height);
        cell.cellLuminance = CellLuminance<Pixel>(pass.displacement, point);
      }
      cell.iconTime = IconTime(settings.timeMapping, cellRow, cellColumn, cell.jitter,
                               cell.cellLuminance, pass.time);

      ClearRecord(pass.icon);
      if (*err == PF_Err_NONE) {
        *err = in->inter.checkout_param(in->effect_ref, PARAM_ICON_LAYER, cell.iconTime,
                                        in->time_step, in->time_scale, pass.icon);
      }
      if (*err == PF_Err_NONE && context && IsDrawable(pass.icon->u.ld)) {
        cell.icon = &pass.icon->u.ld;
        cell.iconWidth = cell.icon->width;
        cell.iconHeight = cell.icon->height;
        painter->Paint(cell, cellRow, cellColumn);
      }
      KeepFirst(err, in->inter.checkin_param(in->effect_ref, pass.icon));
    }
    in->inter.progress(in->effect_ref, cellRow, settings.units);
  }
}

// "PF World Suite" version 2, acquired directly, outside the handler's
// slots; Render releases it at its end. A null suite answered with success
// counts as missing, as for every suite: it is not held, so it is not
// released, and the render fails with 516.
PF_Err AcquireWorldSuite(SPBasicSuite* basic, const PF_WorldSuite2** worldSuite) {
  const void* suite = nullptr;
  const PF_Err err = basic->AcquireSuite(kPFWorldSuite, kPFWorldSuiteVersion2, &suite);
  if (err != PF_Err_NONE) return err;
  *worldSuite = static_cast<const PF_WorldSuite2*>(suite);
  return *worldSuite == nullptr ? PF_Err_BAD_CALLBACK_PARAM : PF_Err_NONE;
}

PF_Err QueryPixelFormat(const PF_WorldSuite2& worldSuite, const PF_EffectWorld* output,
                        PF_PixelFormat* pixelFormat) {
  return worldSuite.PF_GetPixelFormat != nullptr ? worldSuite.PF_GetPixelFormat(output, pixelFormat)
                                                 : PF_Err_BAD_CALLBACK_PARAM;
}

// The set-up before the cell loops, each step only while no error is
// pending: the output cleared to transparent black, both layers checked out
// at the current time and the grid computed from the icon, which is checked
// in again. The displacement layer stays checked out for the cells.
std::optional<GridGeometry> SetUpPass(PF_InData* in, PF_EffectWorld* output,
                                      const RenderSettings& settings, PF_ParamDef* icon,
                                      PF_ParamDef* displacement, PF_Err* err) {
  if (*err == PF_Err_NONE) {
    const PF_Pixel transparent = {0, 0, 0, 0};
    const PF_Rect all = {0, 0, output->width, output->height};
    *err = in->utils->fill(in->effect_ref, &transparent, &all, output);
  }
  if (*err == PF_Err_NONE) {
    *err = in->inter.checkout_param(in->effect_ref, PARAM_ICON_LAYER, in->current_time,
                                    in->time_step, in->time_scale, icon);
  }
  if (*err == PF_Err_NONE) {
    *err = in->inter.checkout_param(in->effect_ref, PARAM_DISPLACEMENT_LAYER, in->current_time,
                                    in->time_step, in->time_scale, displacement);
  }
  std::optional<GridGeometry> geometry;
  if (*err == PF_Err_NONE && HasPixels(*icon)) {
    geometry = ComputeGridGeometry(output->width, icon->u.ld, settings.units);
  }
  KeepFirst(err, in->inter.checkin_param(in->effect_ref, icon));
  in->inter.progress(in->effect_ref, 0, 100);
  return geometry;
}

}  // namespace

PF_Err Render(PF_InData* in_data, PF_OutData*, PF_ParamDef* params[], PF_LayerDef* output) {
  SuiteHandler suites(in_data->pica_basicP);
  SPBasicSuite* basic = suites.BasicSuite();
  const PF_WorldSuite2* worldSuite = nullptr;
  PF_Err err = AcquireWorldSuite(basic, &worldSuite);
  PF_PixelFormat pixelFormat = PF_PixelFormat_INVALID;
  if (err == PF_Err_NONE) err = QueryPixelFormat(*worldSuite, output, &pixelFormat);

  PF_ParamDef iconRecord;
  PF_ParamDef displacementRecord;
  ClearRecord(&iconRecord);
  ClearRecord(&displacementRecord);
  const RenderSettings settings = DecodeRenderSettings(params);
  JitterRandom::Seed(settings.seed);
  const std::optional<GridGeometry> geometry =
      SetUpPass(in_data, output, settings, &iconRecord, &displacementRecord, &err);

  const Pass pass{
      .in = in_data,
      .output = output,
      .settings = &settings,
      .time = {in_data->current_time, in_data->time_step, in_data->total_time},
      .geometry = geometry,
      // A displacement frame with pixel data but no extent gives no sample.
      .displacement = IsDrawable(displacementRecord.u.ld) ? &displacementRecord.u.ld : nullptr,
      .icon = &iconRecord,
  };
  const RenderOptions options = ReadRenderOptions();
  if (pixelFormat == PF_PixelFormat_ARGB64) {
    RunCellLoops<PF_Pixel16>(pass, options, &err);
  } else {
    RunCellLoops<PF_Pixel>(pass, options, &err);
  }

  KeepFirst(&err, in_data->inter.checkin_param(in_data->effect_ref, &displacementRecord));
  in_data->inter.progress(in_data->effect_ref, 100, 100);
  if (worldSuite != nullptr) basic->ReleaseSuite(kPFWorldSuite, kPFWorldSuiteVersion2);
  return err;
}

}  // namespace tilvane
