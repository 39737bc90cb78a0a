// Fitting a layer frame of another size to the output's.
#pragma once

#include <cstdint>
#include <string>

#include "standin/world.h"

namespace tilvane_tool {

// How a layer whose size differs from the output's is fitted to it: none
// (served at its own size, as the host gives a layer), stretched to the
// output's size, or scaled keeping its aspect to cover the output and cropped.
enum class Fit { None, Stretch, Fill };

// The frame fitted to width × height as fit says (not None). Throws UsageError
// naming what when it cannot be resized.
standin::WorldPtr FittedFrame(const standin::World& frame, Fit fit, int32_t width, int32_t height,
                              const std::string& what);

}  // namespace tilvane_tool
