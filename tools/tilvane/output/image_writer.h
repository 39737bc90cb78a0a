// Writing rendered frames to image files.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "standin/world.h"
#include "tools/tilvane/output/output_file.h"

namespace tilvane_tool {

// The compressions the EXR and TIFF writers take, as the options name them.
inline constexpr const char* kExrCompressions[] = {"none",  "zip", "zips", "piz",
                                                   "pxr24", "b44", "dwaa", "dwab"};
inline constexpr const char* kTiffCompressions[] = {"none", "lzw", "zip", "packbits"};

// How image outputs are encoded. Each field but png's applies to one format;
// unset, the writer's own default, which earlier files were written with.
struct ImageOptions {
  PngOptions png;
  std::string exrCompression;      // "" zip
  bool exrFloat = false;           // 32-bit floats rather than half
  std::optional<int> jpegQuality;  // 1-100; none: 98
  std::string tiffCompression;     // "" zip
  int dpxBits = 10;                // 10 or 16
  std::optional<int> webpQuality;  // 0-100, lossy; none: lossless
};

// Writes the frame to path: PNG and TIFF straight alpha at the frame's depth,
// EXR premultiplied half (or float) values, JPEG 8-bit and DPX 10- or 16-bit
// RGB over black, WebP 8-bit straight alpha (a 16-bit frame rounded as for
// JPEG), as EncodeAndWrite does (a complete file or none). colourSpace is the space the file's
// values are converted to from the effect's sRGB encoding ("" by the format: linear for EXR, else
// sRGB). Throws WriteError, or UsageError when memory is short or the colour space is unknown.
void WriteImage(const standin::World& frame, const std::string& path,
                const std::string& colorSpace = "", const ImageOptions& options = {});

// Throws UsageError, naming path, when its format cannot hold a width by
// height frame (WebP's limit on each side), so that a render is refused
// before its first frame.
void CheckImageSize(const std::string& path, int32_t width, int32_t height);

}  // namespace tilvane_tool
