#include "tools/tilvane/output/image_writer.h"

#include <OpenImageIO/imageio.h>

#include <filesystem>
#include <vector>

#include "tools/tilvane/core/colour.h"
#include "tools/tilvane/core/errors.h"
#include "tools/tilvane/core/pixels.h"
#include "tools/tilvane/output/output_file.h"

namespace tilvane_tool {
namespace fs = std::filesystem;
using OIIO::ImageSpec;
using OIIO::TypeDesc;

namespace {

// v resized to n values, or a message naming the output and the bytes that did not fit.
template <typename T>
void ResizeForWriting(std::vector<T>& v, size_t n, const std::string& path) {
  WithMemoryFor("writing " + Quoted(path), uint64_t{n} * sizeof(T), [&] { v.resize(n); });
}

// Calls f(pixel index, {red, green, blue, alpha}) for every pixel, row by row.
template <typename F>
void ForEachPixel(const standin::World& frame, F f) {
  const int32_t w = frame.width();
  for (int32_t y = 0; y < frame.height() && w > 0; ++y) {
    const size_t first = static_cast<size_t>(y) * static_cast<size_t>(w);
    if (frame.depth() == 16) {
      const PF_Pixel16* row = &frame.at16(0, y);
      for (int32_t x = 0; x < w; ++x) {
        const int32_t v[4] = {row[x].red, row[x].green, row[x].blue, row[x].alpha};
        f(first + static_cast<size_t>(x), v);
      }
    } else {
      const PF_Pixel* row = &frame.at8(0, y);
      for (int32_t x = 0; x < w; ++x) {
        const int32_t v[4] = {row[x].red, row[x].green, row[x].blue, row[x].alpha};
        f(first + static_cast<size_t>(x), v);
      }
    }
  }
}

// An 8-bit frame as straight RGBA bytes.
void StraightRgba8(const standin::World& frame, unsigned char* out) {
  const auto& straight = StraightBytes();
  for (int32_t y = 0; y < frame.height(); ++y) {
    const PF_Pixel* row = &frame.at8(0, y);
    for (int32_t x = 0; x < frame.width(); ++x, out += 4) {
      const unsigned char* column = &straight[size_t{row[x].alpha} * 256];
      out[0] = column[row[x].red];
      out[1] = column[row[x].green];
      out[2] = column[row[x].blue];
      out[3] = row[x].alpha;
    }
  }
}

}  // namespace

void WriteImage(const standin::World& rendered, const std::string& path,
                const std::string& colourSpace, const PngOptions& png) {
  const auto format = FormatOf(path);
  if (!format) CheckOutputPath(path);
  // Colour: EXR holds linear light, the others the effect's own encoding.
  const std::string space = !colourSpace.empty()           ? colourSpace
                            : *format == OutputFormat::Exr ? kLinearSpace
                                                           : kWorkingSpace;
  // Raw values are the effect's own, unconverted.
  const std::string held = space == kRawSpace ? kWorkingSpace : space;
  const standin::WorldPtr converted = *format != OutputFormat::Exr && !IsWorkingSpace(space)
                                          ? FrameInSpace(rendered, space, "-o " + Quoted(path))
                                          : nullptr;
  const standin::World& frame = converted ? *converted : rendered;
  const int depth = frame.depth();
  const int32_t full = FullScale(depth);
  const int32_t w = frame.width();
  const int32_t h = frame.height();
  const int channels = *format == OutputFormat::Jpeg ? 3 : 4;

  ImageSpec spec;
  // Kept by each thread from frame to frame: a sequence's frames share one
  // size, so after the first every buffer is already there, and every value
  // of it is written below before it is encoded.
  thread_local std::vector<unsigned char> bytes;
  thread_local std::vector<uint16_t> words;
  thread_local std::vector<float> floats;
  thread_local std::vector<uint16_t> halves;
  const void* data = nullptr;
  TypeDesc dataType;
  const size_t count = static_cast<size_t>(w) * static_cast<size_t>(h) * channels;

  if (*format == OutputFormat::Exr) {
    spec = ImageSpec(w, h, 4, TypeDesc::HALF);
    spec.attribute(kColourSpaceAttribute, held);
    if (depth == 8) {
      WithMemoryFor("writing " + Quoted(path), uint64_t{count} * 2,
                    [&] { HalvesFromWorld8(frame, space, "-o " + Quoted(path), halves); });
      data = halves.data();
      dataType = TypeDesc::HALF;
    } else {
      ResizeForWriting(floats, count, path);
      ForEachPixel(frame, [&](size_t i, const int32_t v[4]) {
        for (int c = 0; c < 4; ++c) {
          floats[i * 4 + c] = static_cast<float>(v[c]) / static_cast<float>(full);
        }
      });
      ConvertColour(floats, w, h, true, kWorkingSpace, space, "-o " + Quoted(path));
      data = floats.data();
      dataType = TypeDesc::FLOAT;
    }
  } else if (*format == OutputFormat::Jpeg) {
    // No alpha to carry: the premultiplied colour is the frame over black.
    spec = ImageSpec(w, h, 3, TypeDesc::UINT8);
    ResizeForWriting(bytes, count, path);
    ForEachPixel(frame, [&](size_t i, const int32_t v[4]) {
      for (int c = 0; c < 3; ++c) {
        bytes[i * 3 + c] = static_cast<unsigned char>(depth == 16 ? From16To8(v[c]) : v[c]);
      }
    });
    data = bytes.data();
    dataType = TypeDesc::UINT8;
  } else {
    spec = ImageSpec(w, h, 4, depth == 16 ? TypeDesc::UINT16 : TypeDesc::UINT8);
    // The values below are straight already; the writer must not divide again.
    spec.attribute("oiio:UnassociatedAlpha", 1);
    if (depth == 16) {
      ResizeForWriting(words, count, path);
      ForEachPixel(frame, [&](size_t i, const int32_t premultiplied[4]) {
        int32_t v[4] = {premultiplied[0], premultiplied[1], premultiplied[2], premultiplied[3]};
        // Opaque pixels, most of a frame, stay as they are (no value exceeds full scale).
        if (v[3] != full || v[0] > full || v[1] > full || v[2] > full) {
          for (int c = 0; c < 3; ++c) v[c] = Unpremultiply(v[c], v[3], full);
        }
        for (int c = 0; c < 4; ++c) words[i * 4 + c] = static_cast<uint16_t>(To16BitFile(v[c]));
      });
    } else {
      ResizeForWriting(bytes, count, path);
      if (w > 0) StraightRgba8(frame, bytes.data());
    }
    data = depth == 16 ? static_cast<const void*>(words.data()) : bytes.data();
    dataType = depth == 16 ? TypeDesc::UINT16 : TypeDesc::UINT8;
  }
  spec.alpha_channel = channels == 4 ? 3 : -1;
  // PNG carries the space as its sRGB or gamma chunk. TIFF and JPEG have no
  // tag OpenImageIO reads (their readers assume sRGB), and its TIFF writer
  // given one writes a file without its image length.
  if (Lower(fs::path(path).extension().string()) == ".png") {
    spec.attribute("oiio:ColorSpace", held);
  }

  EncodeAndWrite(path, spec, dataType, data, png);
}

}  // namespace tilvane_tool
