// A literal model of the render: every term recomputed for every window
// pixel and every window pixel walked, with no skipping and no per-cell or
// per-row hoisting. The render tests compare the plug-in's frames with it at
// zero tolerance, and the benchmarks time it beside the plug-in. It needs
// nothing but the stand-in host's worlds and layers, so it builds wherever
// the host does (Windows included).
#pragma once

#include "src/host/host_api.h"
#include "standin/frame_source.h"
#include "standin/host.h"
#include "standin/world.h"

namespace tilvane_test {

// The parameter values as the model reads them, each at the effect's default.
struct Settings {
  int units = 8;
  int displacementEffect = 1;
  double effectIntensity = 100, rotationOffset = 0, scaleOffset = 0, timeOffset = 0;
  int border = 0;
  PF_Pixel borderColor{255, 128, 128, 128}, colorA{255, 170, 255, 255}, colorB{255, 255, 0, 0};
  int timeMapping = 1, colorMapping = 1, transparencyMapping = 1, seed = 12345;
};

// Writes one pixel, channels at the world's depth.
void Put(standin::World& w, int x, int y, int a, int r, int g, int b);

// Renders into out, step by step, for scenes whose 32-bit arithmetic cannot
// overflow (a positive time step, a total time of at least 2 steps, frames
// of a few thousand pixels a side). Either layer may be null.
void ModelRender(const Settings& s, const standin::HostTime& time, standin::FrameSource* iconLayer,
                 standin::FrameSource* displacementLayer, standin::World& out);

}  // namespace tilvane_test
