// The file names the tool reads and writes, by extension (in any case), and
// what each means: the image formats written, the movie containers written,
// and the names read as movies.
#pragma once

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/tilvane/core/errors.h"
#include "tools/tilvane/core/text.h"

namespace tilvane_tool {

// The name's extension, lower case, with its dot; "" without one.
inline std::string ExtensionOf(const std::string& path) {
  return Lower(std::filesystem::path(path).extension().string());
}

// How an image file keeps a frame: straight alpha at the frame's depth (PNG,
// TIFF), premultiplied floats (EXR), 8 bits over black (JPEG), over black
// at 10 or 16 bits (DPX), or straight alpha in 8 bits, encoded by libwebp
// (WebP).
enum class OutputFormat { Straight, Exr, Jpeg, Dpx, Webp };

struct ImageExtension {
  std::string_view extension;
  OutputFormat format;
};
inline constexpr ImageExtension kImageExtensions[] = {
    {".png", OutputFormat::Straight},  {".tif", OutputFormat::Straight},
    {".tiff", OutputFormat::Straight}, {".exr", OutputFormat::Exr},
    {".jpg", OutputFormat::Jpeg},      {".jpeg", OutputFormat::Jpeg},
    {".dpx", OutputFormat::Dpx},       {".webp", OutputFormat::Webp},
};
// The image extensions as messages name them, and the formats as help does.
inline constexpr const char* kImageExtensionsShown = ".png, .tif, .exr, .jpg, .dpx or .webp";
inline constexpr const char* kImageFormatsShown = "PNG, TIFF, EXR, JPEG, DPX or WebP";

inline std::optional<OutputFormat> FormatOf(const std::string& path) {
  const std::string ext = ExtensionOf(path);
  for (const ImageExtension& e : kImageExtensions) {
    if (ext == e.extension) return e.format;
  }
  return std::nullopt;
}

inline bool IsTiff(const std::string& path) {
  const std::string ext = ExtensionOf(path);
  return ext == ".tif" || ext == ".tiff";
}

// PNG takes a compression level, a row filter and its colour space as a chunk.
inline bool IsPng(const std::string& path) { return ExtensionOf(path) == ".png"; }

// A movie container the tool writes, and FFmpeg's muxer for it.
struct MovieContainer {
  std::string_view extension;
  const char* muxer;
};
inline constexpr MovieContainer kMovieContainers[] = {
    {".mov", "mov"}, {".mp4", "mp4"}, {".webm", "webm"}, {".mkv", "matroska"}, {".gif", "gif"}};

inline const MovieContainer* ContainerOf(const std::string& path) {
  const std::string ext = ExtensionOf(path);
  for (const MovieContainer& c : kMovieContainers) {
    if (ext == c.extension) return &c;
  }
  return nullptr;
}

// True for a name the tool writes as a movie.
inline bool IsMovieOutput(const std::string& path) { return ContainerOf(path) != nullptr; }

// ".mov, .mp4, .webm, .mkv or .gif", for messages.
inline std::string MovieExtensions() {
  std::vector<std::string> extensions;
  for (const MovieContainer& c : kMovieContainers) extensions.emplace_back(c.extension);
  return OrList(extensions);
}

// Names read as movies through FFmpeg rather than as images. GIF too: its
// frames are often stored as changes to the previous frame, which FFmpeg's
// decoder composes.
inline constexpr std::string_view kMovieInputExtensions[] = {
    ".mp4", ".mov", ".m4v", ".mkv", ".webm", ".avi", ".mpg", ".mpeg",
    ".mxf", ".ogv", ".qt",  ".3gp", ".flv",  ".wmv", ".gif"};

inline bool IsMovieName(const std::string& path) {
  const std::string ext = ExtensionOf(path);
  return std::find(std::begin(kMovieInputExtensions), std::end(kMovieInputExtensions), ext) !=
         std::end(kMovieInputExtensions);
}

}  // namespace tilvane_tool
