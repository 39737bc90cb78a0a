#include "tools/tilvane/output/image_writer.h"

#include <OpenImageIO/imageio.h>

#include <type_traits>
#include <vector>

#include "tools/tilvane/core/color.h"
#include "tools/tilvane/core/errors.h"
#include "tools/tilvane/core/formats.h"
#include "tools/tilvane/core/pixel_rows.h"
#include "tools/tilvane/output/output_file.h"
#include "tools/tilvane/output/webp_writer.h"

namespace tilvane_tool {
using OIIO::ImageSpec;
using OIIO::TypeDesc;

namespace {

// v resized to n values, or a message naming the output and the bytes that did not fit.
template <typename T>
void ResizeForWriting(std::vector<T>& v, size_t n, const std::string& path) {
  WithMemoryFor("writing " + Quoted(path), uint64_t{n} * sizeof(T), [&] { v.resize(n); });
}

// Kept by each thread from frame to frame: a sequence's frames share one
// size, so after the first every buffer is already there, and every value of
// it is written before it is encoded.
thread_local std::vector<unsigned char> tBytes;
thread_local std::vector<uint16_t> tWords;
thread_local std::vector<float> tFloats;
thread_local std::vector<uint16_t> tHalves;
thread_local std::vector<unsigned char> tEncoded;

// The values an image file is encoded from, and their type.
struct Values {
  const void* data = nullptr;
  TypeDesc type;
};

size_t CountOf(const standin::World& frame, int channels) {
  return static_cast<size_t>(frame.width()) * static_cast<size_t>(frame.height()) * channels;
}

// Every row of the frame as file values, channels per pixel, into out.
template <typename Out>
void FileRows(const standin::World& frame, FileAlpha alpha, int channels, Out* out) {
  const int32_t w = frame.width();
  if (w <= 0) return;
  WithPixel(frame.depth(), [&](auto pixel) {
    using Pixel = decltype(pixel);
    if constexpr (sizeof(Out) == 1 || std::is_same_v<Pixel, PF_Pixel16>) {
      for (int32_t y = 0; y < frame.height(); ++y) {
        FileRow(RowOf<Pixel>(frame, y), w, alpha, channels,
                out + static_cast<size_t>(y) * static_cast<size_t>(w) * channels);
      }
    }
  });
}

// EXR: premultiplied half (or full) floats, the colour converted to space.
Values ExrValues(const standin::World& frame, const std::string& space, const std::string& path,
                 bool full) {
  const size_t count = CountOf(frame, 4);
  const std::string what = "-o " + Quoted(path);
  if (frame.depth() == 8 && !full) {
    WithMemoryFor("writing " + Quoted(path), uint64_t{count} * 2,
                  [&] { HalvesFromWorld8(frame, space, what, tHalves); });
    return {tHalves.data(), TypeDesc::HALF};
  }
  ResizeForWriting(tFloats, count, path);
  const int32_t w = frame.width();
  for (int32_t y = 0; y < frame.height() && w > 0; ++y) {
    FloatsFromRow(frame, y, 0, w, tFloats.data() + static_cast<size_t>(y) * w * 4);
  }
  ConvertColor(tFloats, w, frame.height(), true, kWorkingSpace, space, what);
  return {tFloats.data(), TypeDesc::FLOAT};
}

// JPEG and DPX: no alpha to carry, so the premultiplied colour is the frame
// over black; in bytes for JPEG, at the frame's depth for DPX.
Values OverBlackValues(const standin::World& frame, const std::string& path, bool bytes) {
  if (!bytes && frame.depth() == 16) {
    ResizeForWriting(tWords, CountOf(frame, 3), path);
    FileRows(frame, FileAlpha::OverBlack, 3, tWords.data());
    return {tWords.data(), TypeDesc::UINT16};
  }
  ResizeForWriting(tBytes, CountOf(frame, 3), path);
  FileRows(frame, FileAlpha::OverBlack, 3, tBytes.data());
  return {tBytes.data(), TypeDesc::UINT8};
}

// PNG and TIFF: straight alpha at the frame's depth; WebP: in bytes.
Values StraightValues(const standin::World& frame, const std::string& path, bool bytes) {
  if (!bytes && frame.depth() == 16) {
    ResizeForWriting(tWords, CountOf(frame, 4), path);
    FileRows(frame, FileAlpha::Straight, 4, tWords.data());
    return {tWords.data(), TypeDesc::UINT16};
  }
  ResizeForWriting(tBytes, CountOf(frame, 4), path);
  FileRows(frame, FileAlpha::Straight, 4, tBytes.data());
  return {tBytes.data(), TypeDesc::UINT8};
}

// The type the file stores its values in.
TypeDesc StoredType(OutputFormat format, const Values& values, const ImageOptions& options) {
  if (format == OutputFormat::Exr) return options.exrFloat ? TypeDesc::FLOAT : TypeDesc::HALF;
  if (format == OutputFormat::Dpx) return TypeDesc::UINT16;  // 10 bits are packed from these
  return values.type;
}

// The encoder's settings the options give; none for a default, so that a
// file written without options stays as it always was.
void SetEncoding(OutputFormat format, const std::string& path, const ImageOptions& options,
                 ImageSpec& spec) {
  if (format == OutputFormat::Exr && !options.exrCompression.empty()) {
    spec.attribute("compression", options.exrCompression);
  }
  if (format == OutputFormat::Jpeg && options.jpegQuality) {
    spec.attribute("compression", "jpeg:" + std::to_string(*options.jpegQuality));
  }
  if (IsTiff(path) && !options.tiffCompression.empty()) {
    spec.attribute("compression", options.tiffCompression);
  }
  if (format == OutputFormat::Dpx) spec.attribute("oiio:BitsPerSample", options.dpxBits);
}

}  // namespace

void WriteImage(const standin::World& rendered, const std::string& path,
                const std::string& colorSpace, const ImageOptions& options) {
  const auto format = FormatOf(path);
  if (!format) CheckOutputPath(path);
  // Colour: EXR holds linear light, the others the effect's own encoding.
  const std::string space = !colorSpace.empty()            ? colorSpace
                            : *format == OutputFormat::Exr ? kLinearSpace
                                                           : kWorkingSpace;
  // Raw values are the effect's own, unconverted.
  const std::string held = space == kRawSpace ? kWorkingSpace : space;
  const standin::WorldPtr converted = *format != OutputFormat::Exr && !IsWorkingSpace(space)
                                          ? FrameInSpace(rendered, space, "-o " + Quoted(path))
                                          : nullptr;
  const standin::World& frame = converted ? *converted : rendered;
  // WebP is encoded by libwebp itself: OpenImageIO's writer changes the values.
  if (*format == OutputFormat::Webp) {
    const Values values = StraightValues(frame, path, true);
    EncodeWebp(static_cast<const unsigned char*>(values.data), frame.width(), frame.height(),
               options.webpQuality, path, tEncoded);
    WriteFileAtomically(path, tEncoded);
    return;
  }
  const bool overBlack = *format == OutputFormat::Jpeg || *format == OutputFormat::Dpx;
  const Values values = *format == OutputFormat::Exr
                            ? ExrValues(frame, space, path, options.exrFloat)
                        : overBlack ? OverBlackValues(frame, path, *format == OutputFormat::Jpeg)
                                    : StraightValues(frame, path, false);
  const int channels = overBlack ? 3 : 4;
  ImageSpec spec(frame.width(), frame.height(), channels, StoredType(*format, values, options));
  if (*format == OutputFormat::Exr) spec.attribute(kColorSpaceAttribute, held);
  // The values are straight already; the writer must not divide again.
  if (*format == OutputFormat::Straight) spec.attribute("oiio:UnassociatedAlpha", 1);
  spec.alpha_channel = channels == 4 ? 3 : -1;
  // PNG carries the space as its sRGB or gamma chunk. TIFF and JPEG have no
  // tag OpenImageIO reads (their readers assume sRGB), and its TIFF writer
  // given one writes a file without its image length.
  if (IsPng(path)) spec.attribute("oiio:ColorSpace", held);
  SetEncoding(*format, path, options, spec);

  EncodeAndWrite(path, spec, values.type, values.data, options.png);
}

void CheckImageSize(const std::string& path, int32_t width, int32_t height) {
  if (FormatOf(path) == OutputFormat::Webp) CheckWebpSize(path, width, height);
}

}  // namespace tilvane_tool
