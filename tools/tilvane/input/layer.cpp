#include "tools/tilvane/input/layer.h"

#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imagebufalgo.h>
#include <OpenImageIO/imageio.h>
#include <dlfcn.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "tools/tilvane/core/color.h"
#include "tools/tilvane/core/errors.h"
#include "tools/tilvane/core/formats.h"
#include "tools/tilvane/core/frame_pattern.h"
#include "tools/tilvane/core/pixel_rows.h"
#include "tools/tilvane/input/movie_reader.h"

namespace tilvane_tool {
namespace fs = std::filesystem;
using OIIO::ImageInput;
using OIIO::ImageSpec;
using OIIO::TypeDesc;

namespace {

// Files keep straight alpha unless they say it is associated (EXR, and TIFFs
// marked so): the config asks the reader to hand straight values over as they are.
ImageSpec ReadConfig() {
  ImageSpec config;
  config.attribute("oiio:UnassociatedAlpha", 1);
  return config;
}

// A library's error text on one line, each line once: one already said
// within another (a reader's error, then the decoder's report of it) is left
// out.
std::string LibraryText(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t start = 0; start <= text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = OneLine(text.substr(start, end - start));
    if (!line.empty()) lines.push_back(line);
    start = end + 1;
  }
  std::string out;
  for (size_t i = 0; i < lines.size(); ++i) {
    bool said = false;
    for (size_t j = 0; j < lines.size() && !said; ++j) {
      said =
          j != i && lines[j].find(lines[i]) != std::string::npos && (lines[j] != lines[i] || j < i);
    }
    if (!said) out += (out.empty() ? "" : " ") + lines[i];
  }
  return out;
}

// A PNG ends with its IEND chunk. One cut short is refused here, before
// libpng reads it: libpng prints its own error to stderr as it fails, so the
// user would read its text twice and ours once.
void CheckPngEnd(const std::string& option, const std::string& file) {
  if (Lower(fs::path(file).extension().string()) != ".png") return;
  std::ifstream in(file, std::ios::binary | std::ios::ate);
  const std::streamoff size = in ? static_cast<std::streamoff>(in.tellg()) : 0;
  if (size < 8) return;  // not a PNG: OpenImageIO says what it is
  char head[8] = {};
  in.seekg(0);
  in.read(head, sizeof head);
  if (std::memcmp(head, "\x89PNG\r\n\x1a\n", 8) != 0) return;
  // Some writers leave bytes after IEND; a few are allowed for.
  const std::streamoff tail = std::min<std::streamoff>(size, 256);
  std::string end(static_cast<size_t>(tail), '\0');
  in.seekg(size - tail);
  in.read(end.data(), tail);
  if (in && end.find("IEND") != std::string::npos) return;
  throw UsageError(option + " " + Quoted(file) +
                   " is cut short: the PNG ends before its last chunk (IEND); check that the "
                   "file is complete, or write it again");
}

std::unique_ptr<ImageInput> OpenInput(const std::string& option, const std::string& file) {
  std::error_code ec;
  if (!fs::exists(file, ec)) {
    throw UsageError(option + " " + Quoted(file) + ": no such file; check the path");
  }
  if (fs::is_directory(file, ec)) {
    throw UsageError(option + " " + Quoted(file) +
                     " is a directory; give an image file in it, a numbered sequence such as " +
                     Quoted((fs::path(file) / "name.####.png").string()) + ", or a movie");
  }
  CheckPngEnd(option, file);
  const ImageSpec config = ReadConfig();
  auto in = ImageInput::open(file, &config);
  if (!in) {
    throw UsageError(option + " " + Quoted(file) + " cannot be read (" +
                     LibraryText(OIIO::geterror()) +
                     "); give a PNG, TIFF, EXR or JPEG image, a numbered sequence or a movie");
  }
  if (in->spec().full_width <= 0 || in->spec().full_height <= 0 || in->spec().width <= 0 ||
      in->spec().height <= 0) {
    throw UsageError(option + " " + Quoted(file) +
                     " has no pixels; give an image at least one pixel wide and high");
  }
  return in;
}

// The EXIF/TIFF orientation a still asks to be shown in (1 to 8; 1, as
// stored, when it names none or an unknown one).
int Orientation(const ImageSpec& spec) {
  const int orientation = spec.get_int_attribute("Orientation", 1);
  return orientation >= 1 && orientation <= 8 ? orientation : 1;
}

// The display window's size as shown: orientations 5 to 8 turn by a quarter.
std::pair<int32_t, int32_t> ShownSize(const ImageSpec& spec) {
  if (Orientation(spec) >= 5) return {spec.full_height, spec.full_width};
  return {spec.full_width, spec.full_height};
}

bool IsAnimated(const ImageInput& in) { return in.spec().get_int_attribute("oiio:Movie", 0) != 0; }

// Calls f with a value of the C type a file's channels are stored in (8 or 16
// bits, else 32-bit float), so that a frame picks its reading once.
template <typename F>
void WithFileChannel(TypeDesc type, F&& f) {
  if (type == TypeDesc::UINT8) return f(uint8_t{});
  if (type == TypeDesc::UINT16) return f(uint16_t{});
  return f(float{});
}

template <typename Channel>
Channel ChannelAt(const unsigned char* data) {
  Channel v;
  std::memcpy(&v, data, sizeof v);
  return v;
}

// A file value as a value on the effect's scale for Pixel.
template <typename Pixel, typename Channel>
int32_t ChannelValue(const unsigned char* data) {
  const Channel v = ChannelAt<Channel>(data);
  if constexpr (std::is_same_v<Channel, uint8_t>) {
    return PixelDepth<Pixel>::From8BitFile(v);
  } else if constexpr (std::is_same_v<Channel, uint16_t>) {
    return PixelDepth<Pixel>::From16BitFile(v);
  } else {
    return FromFloat(v, PixelDepth<Pixel>::kBits);
  }
}

template <typename Channel>
float ChannelFloat(const unsigned char* data) {
  const Channel v = ChannelAt<Channel>(data);
  if constexpr (std::is_same_v<Channel, uint8_t>) {
    return v / 255.0f;
  } else if constexpr (std::is_same_v<Channel, uint16_t>) {
    return v / 65535.0f;
  } else {
    return v;
  }
}

// One frame as its file holds it: the data window's pixels in spec.format
// (8 or 16 bits, else 32-bit float), and the windows and alpha in spec.
struct FileFrame {
  std::string file;
  ImageSpec spec;
  std::vector<unsigned char> data;
  std::string space;  // the colour space the file's values are in
};

// The colour space a file's values are in: its own tag where it has one the
// configuration converts (an EXR's colorSpace attribute; a PNG's gamma of 1,
// which OpenImageIO reports as linear), else by its kind: EXR and
// floating-point files hold linear light, the others sRGB-encoded values.
std::string FileColorSpace(const ImageInput& in, const ImageSpec& spec) {
  const std::string format = Lower(in.format_name());
  if (format == "openexr") {
    if (auto tagged = KnownColorSpace(spec.get_string_attribute(kColorSpaceAttribute))) {
      if (*tagged != kRawSpace) return *tagged;
    }
  } else if (format == "png" && Lower(spec.get_string_attribute("oiio:ColorSpace")) == "linear") {
    return kLinearSpace;
  }
  return format == "openexr" || spec.format.is_floating_point() ? kLinearSpace : kWorkingSpace;
}

// Turns and flips the frame as its orientation asks, as players and
// OpenImageIO's own reorient do; the windows move with the pixels.
void Reorient(const std::string& option, FileFrame& frame) {
  ImageSpec& spec = frame.spec;
  if (Orientation(spec) == 1) return;
  const OIIO::ImageBuf stored(spec, frame.data.data());
  const OIIO::ImageBuf shown = OIIO::ImageBufAlgo::reorient(stored, 1);
  const ImageSpec& turned = shown.spec();
  if (shown.has_error() || turned.image_bytes() != frame.data.size() ||
      !shown.get_pixels(shown.roi(), spec.format, frame.data.data())) {
    throw UsageError(option + " " + Quoted(frame.file) + " cannot be turned as its orientation " +
                     std::to_string(Orientation(spec)) + " asks (" + LibraryText(shown.geterror()) +
                     "); re-save the image upright");
  }
  spec.x = turned.x, spec.y = turned.y, spec.width = turned.width, spec.height = turned.height;
  spec.full_x = turned.full_x, spec.full_y = turned.full_y;
  spec.full_width = turned.full_width, spec.full_height = turned.full_height;
  spec.attribute("Orientation", 1);
}

// The pixels of one image (subimage: an animated image's frame), as stored.
// buffer's memory is taken for the pixels, so that a sequence read on one
// thread reuses one allocation rather than touching fresh pages every frame.
FileFrame ReadFile(const std::string& option, const std::string& file, int subimage,
                   std::vector<unsigned char> buffer = {}) {
  auto in = OpenInput(option, file);
  if (subimage != 0 && !in->seek_subimage(subimage, 0)) {
    throw UsageError(option + " " + Quoted(file) + ": frame " + std::to_string(subimage) +
                     " cannot be read (" + LibraryText(in->geterror()) + "); check the file");
  }
  FileFrame frame;
  frame.file = file;
  frame.spec = in->spec();
  ImageSpec& spec = frame.spec;
  frame.space = FileColorSpace(*in, spec);
  spec.format = spec.format == TypeDesc::UINT8    ? TypeDesc(TypeDesc::UINT8)
                : spec.format == TypeDesc::UINT16 ? TypeDesc(TypeDesc::UINT16)
                                                  : TypeDesc(TypeDesc::FLOAT);
  frame.data = std::move(buffer);
  frame.data.resize(spec.image_bytes());
  // Values in the file's own type, in rows, are read straight into the
  // buffer: the library's general read goes through a 64 MB scratch buffer of
  // its own, allocated and faulted in afresh for every file.
  const ImageSpec& stored = in->spec();
  const bool native = stored.format == spec.format && stored.channelformats.empty() &&
                      stored.tile_width == 0 && stored.depth == 1;
  if (spec.nchannels < 1 ||
      !(native ? in->read_native_scanlines(subimage, 0, spec.y, spec.y + spec.height, spec.z,
                                           frame.data.data())
               : in->read_image(subimage, 0, 0, spec.nchannels, spec.format, frame.data.data()))) {
    throw UsageError(option + " " + Quoted(file) + " cannot be read (" +
                     LibraryText(in->geterror()) +
                     "); check that the file is whole and undamaged, or write it again");
  }
  Reorient(option, frame);
  return frame;
}

// A movie's frame as a file frame: straight RGBA in the effect's encoding.
FileFrame MovieFrame(const std::string& movie, MoviePicture picture) {
  FileFrame frame;
  frame.file = movie;
  frame.spec = ImageSpec(picture.width, picture.height, 4,
                         picture.bits == 16 ? TypeDesc::UINT16 : TypeDesc::UINT8);
  frame.spec.attribute("oiio:UnassociatedAlpha", 1);
  frame.data = std::move(picture.data);
  return frame;
}

// Frames of one size come and go all through a sequence. Their buffers are
// kept for the next few rather than handed back to the system, which would
// give fresh pages to fault in and clear at every frame. A frame taken holds
// whatever it held before; its new owner overwrites every pixel.
class SpareFrames : public std::enable_shared_from_this<SpareFrames> {
 public:
  static std::shared_ptr<standin::World> Take(int32_t width, int32_t height, int depth) {
    static const auto pool = std::make_shared<SpareFrames>();
    return pool->take(width, height, depth);
  }

 private:
  std::shared_ptr<standin::World> take(int32_t width, int32_t height, int depth) {
    std::unique_ptr<standin::World> frame;
    {
      std::lock_guard lock(mutex_);
      const auto same = std::find_if(spare_.begin(), spare_.end(), [&](const auto& s) {
        return s->width() == width && s->height() == height && s->depth() == depth;
      });
      if (same != spare_.end()) {
        frame = std::move(*same);
        spare_.erase(same);
      }
    }
    if (!frame) frame = std::make_unique<standin::World>(width, height, depth);
    return std::shared_ptr<standin::World>(
        frame.release(), [pool = shared_from_this()](standin::World* f) { pool->give(f); });
  }
  void give(standin::World* frame) {
    std::unique_ptr<standin::World> owned(frame);
    std::lock_guard lock(mutex_);
    if (spare_.size() < kKept) spare_.push_back(std::move(owned));
  }

  static constexpr size_t kKept = 4;
  std::mutex mutex_;
  std::vector<std::unique_ptr<standin::World>> spare_;
};

// Where a file frame keeps its channels.
struct ChannelLayout {
  int alpha = -1;            // none when negative
  int color[3] = {0, 0, 0};  // red, green and blue; one alone is grey
  bool straight = false;     // the colour is not multiplied by alpha
  bool inOrder() const { return color[0] == 0 && color[1] == 1 && color[2] == 2; }
};

ChannelLayout LayoutOf(const ImageSpec& spec) {
  const int channels = spec.nchannels;
  ChannelLayout layout;
  // Some readers name no alpha channel, or one past the last (GIF frames after
  // the first): the second of two channels or the fourth of four or more is it.
  layout.alpha = spec.alpha_channel < channels ? spec.alpha_channel : -1;
  if (layout.alpha < 0 && (channels == 2 || channels >= 4)) layout.alpha = channels == 2 ? 1 : 3;
  layout.straight = layout.alpha >= 0 && spec.get_int_attribute("oiio:UnassociatedAlpha", 0) != 0;
  // The first three channels that are not alpha are red, green and blue.
  int found = 0;
  for (int c = 0; c < channels && found < 3; ++c) {
    if (c != layout.alpha) layout.color[found++] = c;
  }
  for (int c = std::max(found, 1); c < 3; ++c) layout.color[c] = layout.color[0];
  return layout;
}

// n pixels of a file row as the effect's premultiplied pixels.
template <typename Pixel>
void PixelsFromFile(const unsigned char* px, int32_t n, const ChannelLayout& layout,
                    const ImageSpec& spec, Pixel* out) {
  const TypeDesc type = spec.format;
  if constexpr (std::is_same_v<Pixel, PF_Pixel>) {
    // RGB and RGBA bytes, most files, in loops the compiler keeps tight.
    if (type == TypeDesc::UINT8 && layout.inOrder()) {
      if (spec.nchannels == 3 && layout.alpha < 0) return RowFromOpaqueBytes8(px, n, out);
      if (spec.nchannels == 4 && layout.alpha == 3) {
        return RowFromBytes8(px, n, layout.straight, out);
      }
    }
  }
  WithFileChannel(type, [&](auto stored) {
    using Channel = decltype(stored);
    const size_t pixelBytes = sizeof(Channel) * static_cast<size_t>(spec.nchannels);
    for (int32_t x = 0; x < n; ++x, px += pixelBytes) {
      const auto channel = [&](int c) {
        return ChannelValue<Pixel, Channel>(px + c * sizeof(Channel));
      };
      const int32_t rgba[4] = {
          channel(layout.color[0]), channel(layout.color[1]), channel(layout.color[2]),
          layout.alpha >= 0 ? channel(layout.alpha) : PixelDepth<Pixel>::kFull};
      out[x] = Premultiplied<Pixel>(rgba, layout.straight);
    }
  });
}

// File values in the effect's encoding map exactly, in integers, a row at a
// time. The layer is the display window; what the data window does not cover
// is transparent, and data outside the display window is not shown.
standin::WorldPtr InWorkingSpace(const FileFrame& source, int depth) {
  const ImageSpec& spec = source.spec;
  const ChannelLayout layout = LayoutOf(spec);
  const int32_t w = spec.full_width;
  const int32_t h = spec.full_height;
  const bool wholeWindow =
      spec.x == spec.full_x && spec.y == spec.full_y && spec.width == w && spec.height == h;
  // Every pixel of a whole window is written, so the common frame may reuse a spare one.
  const auto world = wholeWindow && spec.format == TypeDesc::UINT8 && depth == 8
                         ? SpareFrames::Take(w, h, depth)
                         : std::make_shared<standin::World>(w, h, depth);
  const int32_t left = std::max(0, spec.x - spec.full_x);
  const int32_t right = std::min(w, spec.x - spec.full_x + spec.width);
  const size_t pixelBytes = spec.format.size() * static_cast<size_t>(spec.nchannels);
  WithPixel(depth, [&](auto pixel) {
    using Pixel = decltype(pixel);
    for (int32_t y = 0; y < h && left < right; ++y) {
      const int32_t dy = y + spec.full_y - spec.y;
      if (dy < 0 || dy >= spec.height) continue;
      const int32_t dx = left + spec.full_x - spec.x;
      const unsigned char* px =
          source.data.data() + (static_cast<size_t>(dy) * spec.width + dx) * pixelBytes;
      PixelsFromFile(px, right - left, layout, spec, RowOf<Pixel>(*world, y, left));
    }
  });
  return world;
}

// Files in another colour space: through premultiplied floats, converted to
// the effect's encoding.
standin::WorldPtr ThroughFloats(const FileFrame& source, int depth, const std::string& space,
                                const std::string& option) {
  const ImageSpec& spec = source.spec;
  const ChannelLayout layout = LayoutOf(spec);
  const TypeDesc type = spec.format;
  const size_t pixelBytes = type.size() * static_cast<size_t>(spec.nchannels);
  const int32_t w = spec.full_width;
  const int32_t h = spec.full_height;
  std::vector<float> rgba(static_cast<size_t>(w) * static_cast<size_t>(h) * 4, 0.0f);
  WithFileChannel(type, [&](auto stored) {
    using Channel = decltype(stored);
    for (int32_t y = 0; y < h; ++y) {
      const int32_t dy = y + spec.full_y - spec.y;
      for (int32_t x = 0; x < w; ++x) {
        const int32_t dx = x + spec.full_x - spec.x;
        if (dx < 0 || dy < 0 || dx >= spec.width || dy >= spec.height) continue;
        const unsigned char* px =
            source.data.data() + (static_cast<size_t>(dy) * spec.width + dx) * pixelBytes;
        auto channel = [&](int c) { return ChannelFloat<Channel>(px + c * sizeof(Channel)); };
        float* p = &rgba[(static_cast<size_t>(y) * w + x) * 4];
        p[3] = layout.alpha >= 0 ? channel(layout.alpha) : 1.0f;
        for (int c = 0; c < 3; ++c) {
          p[c] = channel(layout.color[c]) * (layout.straight ? p[3] : 1.0f);
        }
      }
    }
  });
  ConvertColor(rgba, w, h, true, space, kWorkingSpace, option + " " + Quoted(source.file));
  return WorldFromFloats(rgba, w, h, depth);
}

// The frame as the effect takes it: premultiplied, in the working space,
// at depth. colourSpace is the one asked for, else the file's own.
standin::WorldPtr ToWorld(const FileFrame& source, int depth, const std::string& colorSpace,
                          const std::string& option) {
  const std::string space = !colorSpace.empty()     ? colorSpace
                            : !source.space.empty() ? source.space
                                                    : kWorkingSpace;
  if (IsWorkingSpace(space)) return InWorkingSpace(source, depth);
  return ThroughFloats(source, depth, space, option);
}

// --- The kinds of layer ---------------------------------------------------------

// A layer read from files, converted from colourSpace ("" by each file).
class DiskLayer : public Layer {
 protected:
  DiskLayer(const std::string& option, const std::string& path, std::string colorSpace)
      : Layer(option, path), colorSpace_(std::move(colorSpace)) {}
  standin::WorldPtr picture(const std::string& file, int subimage, int depth) const {
    // Each thread keeps the file's pixels between frames; they are converted
    // into a frame of their own before the next read.
    thread_local std::vector<unsigned char> pixels;
    FileFrame frame = ReadFile(option_, file, subimage, std::move(pixels));
    standin::WorldPtr world = ToWorld(frame, depth, colorSpace_, option_);
    pixels = std::move(frame.data);
    return world;
  }
  standin::WorldPtr picture(MoviePicture movie, int depth) const {
    return ToWorld(MovieFrame(path_, std::move(movie)), depth, colorSpace_, option_);
  }
  std::string colorSpace_;
};

// One image, shown at every time.
class StillLayer final : public DiskLayer {
 public:
  StillLayer(const std::string& option, const std::string& file, std::string colorSpace)
      : DiskLayer(option, file, std::move(colorSpace)) {
    files_.push_back(file);
    const auto [width, height] = ShownSize(OpenInput(option, file)->spec());
    setSize(width, height);
  }
  int64_t frameCount() const override { return 1; }
  bool still() const override { return true; }
  standin::WorldPtr decode(int64_t, int depth) const override {
    return picture(files_[0], 0, depth);
  }
  void checkFrames(int64_t, int64_t) const override { OpenInput(option_, files_[0]); }
};

// Numbered images, one file a frame (a missing number repeats the file
// before it); the first file gives the size.
class SequenceLayer final : public DiskLayer {
 public:
  SequenceLayer(const std::string& option, const std::string& path, std::vector<std::string> files,
                int64_t first, std::string colorSpace)
      : DiskLayer(option, path, std::move(colorSpace)), first_(first) {
    files_ = std::move(files);
    const auto [width, height] = ShownSize(OpenInput(option, files_.front())->spec());
    setSize(width, height);
  }
  int64_t frameCount() const override { return static_cast<int64_t>(files_.size()); }
  int64_t firstFrame() const override { return first_; }
  standin::WorldPtr decode(int64_t index, int depth) const override {
    return picture(files_.at(static_cast<size_t>(index)), 0, depth);
  }
  void checkFrames(int64_t first, int64_t last) const override {
    const int64_t end = frameCount() - 1;
    first = std::clamp<int64_t>(first, 0, end);
    last = std::clamp<int64_t>(last, 0, end);
    for (int64_t i = first; i <= last; ++i) {
      const auto at = static_cast<size_t>(i);
      if (i == first || files_[at] != files_[at - 1]) OpenInput(option_, files_[at]);
    }
  }

 private:
  int64_t first_;
};

// A movie (every decoded picture a frame), or an image file holding several
// (OpenImageIO's animated formats).
class AnimatedLayer final : public DiskLayer {
 public:
  AnimatedLayer(const std::string& option, const std::string& file, std::string colorSpace,
                bool movie)
      : DiskLayer(option, file, std::move(colorSpace)) {
    files_.push_back(file);
    if (movie) {
      movie_ = std::make_unique<MovieReader>(option, file);
      setSize(movie_->width(), movie_->height());
      count_ = movie_->frameCount();
      return;
    }
    auto in = OpenInput(option, file);
    setSize(in->spec().full_width, in->spec().full_height);
    while (in->seek_subimage(static_cast<int>(count_), 0)) ++count_;
  }
  int64_t frameCount() const override { return count_; }
  const MovieTimes* movieTimes() const override { return movie_ ? &movie_->times() : nullptr; }
  int64_t seeks() const override {
    if (!movie_) return 0;
    std::lock_guard lock(movieMutex_);
    return movie_->seeks();
  }
  standin::WorldPtr decode(int64_t index, int depth) const override {
    if (!movie_) return picture(files_[0], static_cast<int>(index), depth);
    MoviePicture decoded;
    {
      std::lock_guard lock(movieMutex_);
      decoded = movie_->read(index);
    }
    return picture(std::move(decoded), depth);
  }

 private:
  std::unique_ptr<MovieReader> movie_;
  mutable std::mutex movieMutex_;  // the reader decodes forward: one at a time
  int64_t count_ = 0;
};

// Frames made in memory, for the built-in demo.
class MemoryLayer final : public Layer {
 public:
  explicit MemoryLayer(std::vector<standin::WorldPtr> frames)
      : Layer("built-in layer", ""), frames_(std::move(frames)) {
    setSize(frames_.at(0)->width(), frames_.at(0)->height());
  }
  int64_t frameCount() const override { return static_cast<int64_t>(frames_.size()); }
  standin::WorldPtr decode(int64_t index, int depth) const override {
    const auto& frame = frames_.at(static_cast<size_t>(index));
    if (frame->depth() != depth) throw UsageError("built-in layer frame at another depth");
    return frame;
  }

 private:
  std::vector<standin::WorldPtr> frames_;
};

// The files of a numbered sequence, from the lowest number on disk to the
// highest, and that lowest number; warns once about the numbers it lacks.
std::pair<std::vector<std::string>, int64_t> SequenceFiles(const std::string& option,
                                                           const std::string& path,
                                                           const FramePattern& pattern) {
  std::vector<std::string> files;
  const fs::path dir = fs::path(pattern.prefix).parent_path();
  const fs::path listed = dir.empty() ? fs::path(".") : dir;
  std::error_code ec;
  std::map<int64_t, std::string> found;
  for (fs::directory_iterator it(listed, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string file = dir.empty() ? it->path().filename().string() : it->path().string();
    if (const auto number = pattern.match(file)) found.emplace(*number, file);
  }
  if (found.empty()) {
    throw UsageError(option + " " + Quoted(path) +
                     ": no frames found on disk; check the name and that the frames are "
                     "numbered as the pattern shows");
  }
  // Every number from the lowest to the highest is a frame; a missing one
  // holds the frame before it, so later frames keep their times.
  std::vector<std::pair<int64_t, int64_t>> missing;
  int64_t expected = found.begin()->first;
  for (const auto& [number, file] : found) {
    if (number > expected) {
      missing.emplace_back(expected, number - 1);
      files.insert(files.end(), static_cast<size_t>(number - expected), files.back());
    }
    files.push_back(file);
    expected = number + 1;
  }
  if (!missing.empty()) {
    const bool one = missing.size() == 1 && missing[0].first == missing[0].second;
    Warn(option + " " + Quoted(path) + ": frame" + (one ? " " : "s ") + NumberRanges(missing) +
         (one ? " is" : " are") + " missing; each shows the frame before it");
  }
  return {files, found.begin()->first};
}

}  // namespace

Layer::Layer(std::string option, std::string path)
    : option_(std::move(option)), path_(std::move(path)) {}

Layer::~Layer() = default;

void Layer::checkFrames(int64_t, int64_t) const {}

std::string Layer::describe() const {
  const int64_t n = frameCount();
  return path_ + " (" + std::to_string(width_) + "x" + std::to_string(height_) +
         (n == 1 ? ", a still)" : ", " + std::to_string(n) + " frames)");
}

std::shared_ptr<Layer> Layer::Open(const std::string& option, const std::string& path,
                                   const std::string& colorSpace) {
  std::vector<std::string> files;
  int64_t lowest = 0;
  if (const auto pattern = FramePattern::Find(path)) {
    std::tie(files, lowest) = SequenceFiles(option, path, *pattern);
  } else {
    files.push_back(path);
  }
  const std::string& first = files.front();
  if (files.size() == 1 && IsMovieName(first) && !fs::is_directory(first)) {
    if (!fs::exists(first)) {
      throw UsageError(option + " " + Quoted(first) + ": no such file; check the path");
    }
    return std::make_shared<AnimatedLayer>(option, first, colorSpace, true);
  }
  if (files.size() == 1 && IsAnimated(*OpenInput(option, first))) {
    return std::make_shared<AnimatedLayer>(option, first, colorSpace, false);
  }
  if (files.size() == 1 && first == path)
    return std::make_shared<StillLayer>(option, first, colorSpace);
  return std::make_shared<SequenceLayer>(option, path, std::move(files), lowest, colorSpace);
}

std::shared_ptr<const Layer> Layer::FromFrames(std::vector<standin::WorldPtr> frames) {
  return std::make_shared<MemoryLayer>(std::move(frames));
}

}  // namespace tilvane_tool

// libpng hands an error to the reader's handler and, should the handler
// return, prints the text on standard error itself before it jumps back into
// the reader. OpenImageIO 2.4's handler keeps the text for its error message
// and returns, so a damaged PNG showed libpng's text twice: on a line of its
// own, and within the tool's message naming the file. The tool defines
// libpng's png_set_error_fn itself, which the libraries it loads then call
// (an executable's definition comes first): each handler is wrapped in one
// that calls it and then jumps back as libpng would, printing nothing. A
// handler that jumps itself never returns to the wrapper.

// libpng's own types, as png.h declares them, so that its headers are not
// needed to build.
struct png_struct_def;
using PngHandler = void (*)(png_struct_def* png, const char* text);
using PngSetErrorFn = void (*)(png_struct_def* png, void* errorPointer, PngHandler error,
                               PngHandler warning);
using PngLongjmp = void (*)(const png_struct_def* png, int value);

namespace {

// The handlers seen, each wrapped by the jump of the same index: OpenImageIO
// has one for reading and one for writing.
constexpr int kPngHandlers = 8;
std::atomic<PngHandler> pngHandlers[kPngHandlers];
std::atomic<PngLongjmp> pngLongjmp{nullptr};

template <int N>
void KeepThenJump(png_struct_def* png, const char* text) {
  pngHandlers[N].load()(png, text);
  pngLongjmp.load()(png, 1);
}

template <int... N>
constexpr std::array<PngHandler, sizeof...(N)> Jumps(std::integer_sequence<int, N...>) {
  return {KeepThenJump<N>...};
}
constexpr std::array<PngHandler, kPngHandlers> kPngJumps =
    Jumps(std::make_integer_sequence<int, kPngHandlers>{});

// The handler wrapped; none (libpng's own), or one wrapped already, as
// given, and so where every slot is taken.
PngHandler Wrapped(PngHandler handler) {
  if (!handler || !pngLongjmp.load() ||
      std::find(kPngJumps.begin(), kPngJumps.end(), handler) != kPngJumps.end()) {
    return handler;
  }
  for (size_t i = 0; i < kPngJumps.size(); ++i) {
    PngHandler seen = nullptr;
    if (pngHandlers[i].compare_exchange_strong(seen, handler) || seen == handler) {
      return kPngJumps[i];
    }
  }
  return handler;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) void png_set_error_fn(png_struct_def* png,
                                                                        void* errorPointer,
                                                                        PngHandler error,
                                                                        PngHandler warning) {
  static const auto libpngSetErrorFn =
      reinterpret_cast<PngSetErrorFn>(dlsym(RTLD_NEXT, "png_set_error_fn"));
  if (!pngLongjmp.load()) {
    pngLongjmp = reinterpret_cast<PngLongjmp>(dlsym(RTLD_NEXT, "png_longjmp"));
  }
  if (libpngSetErrorFn) libpngSetErrorFn(png, errorPointer, Wrapped(error), warning);
}
