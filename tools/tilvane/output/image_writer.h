// Writing rendered frames to image files.
#pragma once

#include <string>

#include "standin/world.h"
#include "tools/tilvane/output/output_file.h"

namespace tilvane_tool {

// Writes the frame to path: PNG and TIFF straight alpha at the frame's depth,
// EXR premultiplied half floats, JPEG 8-bit over black, as EncodeAndWrite does
// (a complete file or none). colourSpace is the space the file's values are
// converted to from the effect's sRGB encoding ("" by the format: linear for
// EXR, else sRGB). Throws WriteError, or UsageError when memory is short or
// the colour space is unknown.
void WriteImage(const standin::World& frame, const std::string& path,
                const std::string& colorSpace = "", const PngOptions& png = {});

}  // namespace tilvane_tool
