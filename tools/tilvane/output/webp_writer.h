// WebP files, encoded with libwebp from the frame's 8-bit straight rows.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tilvane_tool {

// Throws UsageError, naming path, when a width by height frame is larger than
// a WebP file holds (libwebp's limit on each side).
void CheckWebpSize(const std::string& path, int32_t width, int32_t height);

// Encodes width by height pixels of straight, 8-bit RGBA (red first, rows one
// after another) into out: lossless, every value kept, colour under zero alpha
// too; or, given a quality (0-100), lossy colour with lossless alpha. Throws
// WriteError naming path, or UsageError when memory is short.
void EncodeWebp(const unsigned char* rgba, int32_t width, int32_t height,
                std::optional<int> quality, const std::string& path,
                std::vector<unsigned char>& out);

}  // namespace tilvane_tool
