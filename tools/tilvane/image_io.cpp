#include "tools/tilvane/image_io.h"

#include <OpenImageIO/imagebufalgo.h>
#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <system_error>

#include "tools/tilvane/colour.h"
#include "tools/tilvane/errors.h"
#include "tools/tilvane/pixels.h"

namespace tilvane_tool {
namespace fs = std::filesystem;
using OIIO::ImageInput;
using OIIO::ImageOutput;
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
  const ImageSpec config = ReadConfig();
  auto in = ImageInput::open(file, &config);
  if (!in) {
    throw UsageError(option + " " + Quoted(file) + " cannot be read (" + OneLine(OIIO::geterror()) +
                     "); give a PNG, TIFF, EXR or JPEG image, a numbered sequence or a movie");
  }
  if (in->spec().full_width <= 0 || in->spec().full_height <= 0 || in->spec().width <= 0 ||
      in->spec().height <= 0) {
    throw UsageError(option + " " + Quoted(file) +
                     " has no pixels; give an image at least one pixel wide and high");
  }
  return in;
}

bool IsAnimated(const ImageInput& in) { return in.spec().get_int_attribute("oiio:Movie", 0) != 0; }

int32_t ChannelValue(const unsigned char* data, TypeDesc type, int depth) {
  if (type == TypeDesc::UINT8) {
    const int32_t c = *data;
    return depth == 16 ? From8To16(c) : c;
  }
  if (type == TypeDesc::UINT16) {
    uint16_t p;
    std::memcpy(&p, data, sizeof p);
    return depth == 16 ? From16BitFile(p) : From16BitFileTo8(p);
  }
  float f;
  std::memcpy(&f, data, sizeof f);
  return FromFloat(f, depth);
}

float ChannelFloat(const unsigned char* data, TypeDesc type) {
  if (type == TypeDesc::UINT8) return *data / 255.0f;
  if (type == TypeDesc::UINT16) {
    uint16_t p;
    std::memcpy(&p, data, sizeof p);
    return p / 65535.0f;
  }
  float f;
  std::memcpy(&f, data, sizeof f);
  return f;
}

// Ranges of numbers, e.g. "7-8 and 12".
std::string NumberRanges(const std::vector<std::pair<int64_t, int64_t>>& ranges) {
  std::string text;
  for (size_t i = 0; i < ranges.size(); ++i) {
    if (i > 0) text += i + 1 == ranges.size() ? " and " : ", ";
    const auto [a, b] = ranges[i];
    text += std::to_string(a) + (a == b ? "" : "-" + std::to_string(b));
  }
  return text;
}

}  // namespace

// --- Frame patterns ------------------------------------------------------------

std::optional<FramePattern> FramePattern::Find(const std::string& path) {
  const size_t nameStart = path.find_last_of('/') + 1;  // npos + 1 is 0
  const size_t hash = path.find('#', nameStart);
  if (hash != std::string::npos) {
    const size_t end = path.find_first_not_of('#', hash);
    FramePattern p;
    p.prefix = path.substr(0, hash);
    p.width = static_cast<int>((end == std::string::npos ? path.size() : end) - hash);
    p.suffix = end == std::string::npos ? "" : path.substr(end);
    return p;
  }
  for (size_t pc = path.find('%', nameStart); pc != std::string::npos;
       pc = path.find('%', pc + 1)) {
    size_t i = pc + 1;
    int width = 0;
    while (i < path.size() && std::isdigit(static_cast<unsigned char>(path[i]))) {
      width = std::min(width * 10 + (path[i] - '0'), 64);
      ++i;
    }
    if (i < path.size() && path[i] == 'd') {
      FramePattern p;
      p.prefix = path.substr(0, pc);
      p.width = width;
      p.suffix = path.substr(i + 1);
      return p;
    }
  }
  return std::nullopt;
}

std::string FramePattern::name(int64_t frame) const {
  std::string digits = std::to_string(frame < 0 ? -frame : frame);
  if (static_cast<int>(digits.size()) < width) {
    digits.insert(0, static_cast<size_t>(width) - digits.size(), '0');
  }
  return prefix + (frame < 0 ? "-" : "") + digits + suffix;
}

std::optional<int64_t> FramePattern::match(const std::string& path) const {
  if (path.size() <= prefix.size() + suffix.size() || path.compare(0, prefix.size(), prefix) ||
      path.compare(path.size() - suffix.size(), suffix.size(), suffix)) {
    return std::nullopt;
  }
  const std::string digits =
      path.substr(prefix.size(), path.size() - prefix.size() - suffix.size());
  if (digits.size() > 15 || !std::all_of(digits.begin(), digits.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c));
      })) {
    return std::nullopt;
  }
  // Padding as the pattern writes it: exactly width digits, or more without a leading zero.
  const int len = static_cast<int>(digits.size());
  if (len < width || (len > width && len > 1 && digits[0] == '0')) return std::nullopt;
  return std::stoll(digits);
}

// --- Layers ----------------------------------------------------------------------

void Warn(const std::string& text) {
  std::fflush(stdout);
  std::fprintf(stderr, "tilvane: warning: %s\n", text.c_str());
}

// One frame as its file holds it: the data window's pixels in spec.format
// (8 or 16 bits, else 32-bit float), and the windows and alpha in spec.
struct LayerFile::FileFrame {
  std::string file;
  ImageSpec spec;
  std::vector<unsigned char> data;
  std::string space;  // the colour space the file's values are in
};

namespace {

// The colour space a file's values are in: its own tag where it has one the
// configuration converts (an EXR's colorSpace attribute; a PNG's gamma of 1,
// which OpenImageIO reports as linear), else by its kind: EXR and
// floating-point files hold linear light, the others sRGB-encoded values.
std::string FileColourSpace(const ImageInput& in, const ImageSpec& spec) {
  const std::string format = Lower(in.format_name());
  if (format == "openexr") {
    if (auto tagged = KnownColourSpace(spec.get_string_attribute(kColourSpaceAttribute))) {
      if (*tagged != kRawSpace) return *tagged;
    }
  } else if (format == "png" && Lower(spec.get_string_attribute("oiio:ColorSpace")) == "linear") {
    return kLinearSpace;
  }
  return format == "openexr" || spec.format.is_floating_point() ? kLinearSpace : kWorkingSpace;
}

}  // namespace

std::shared_ptr<LayerFile> LayerFile::Open(const std::string& option, const std::string& path,
                                           const std::string& colourSpace) {
  auto layer = std::make_shared<LayerFile>();
  layer->option_ = option;
  layer->path_ = path;
  layer->colourSpace_ = colourSpace;
  if (const auto pattern = FramePattern::Find(path)) {
    const fs::path dir = fs::path(pattern->prefix).parent_path();
    const fs::path listed = dir.empty() ? fs::path(".") : dir;
    std::error_code ec;
    std::map<int64_t, std::string> found;
    for (fs::directory_iterator it(listed, ec), end; !ec && it != end; it.increment(ec)) {
      const std::string file = dir.empty() ? it->path().filename().string() : it->path().string();
      if (const auto number = pattern->match(file)) found.emplace(*number, file);
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
        layer->files_.insert(layer->files_.end(), static_cast<size_t>(number - expected),
                             layer->files_.back());
      }
      layer->files_.push_back(file);
      expected = number + 1;
    }
    if (!missing.empty()) {
      const bool one = missing.size() == 1 && missing[0].first == missing[0].second;
      Warn(option + " " + Quoted(path) + ": frame" + (one ? " " : "s ") + NumberRanges(missing) +
           (one ? " is" : " are") + " missing; each shows the frame before it");
    }
  } else {
    layer->files_.push_back(path);
  }
  const std::string& first = layer->files_.front();
  if (layer->files_.size() == 1 && IsMovieName(first) && !fs::is_directory(first)) {
    if (!fs::exists(first)) {
      throw UsageError(option + " " + Quoted(first) + ": no such file; check the path");
    }
    layer->movie_ = std::make_shared<MovieReader>(option, first);
    layer->width_ = layer->movie_->width();
    layer->height_ = layer->movie_->height();
    return layer;
  }
  auto in = OpenInput(option, first);
  layer->width_ = in->spec().full_width;
  layer->height_ = in->spec().full_height;
  if (layer->files_.size() == 1 && IsAnimated(*in)) {
    int count = 0;
    while (in->seek_subimage(count, 0)) ++count;
    layer->subimages_ = count;
  }
  return layer;
}

std::shared_ptr<const LayerFile> LayerFile::FromFrames(std::vector<standin::WorldPtr> frames) {
  auto layer = std::make_shared<LayerFile>();
  layer->option_ = "built-in layer";
  layer->width_ = frames.at(0)->width();
  layer->height_ = frames.at(0)->height();
  layer->frames_ = std::move(frames);
  return layer;
}

void LayerFile::checkFrames(int64_t first, int64_t last) const {
  if (movie_ || !frames_.empty()) return;  // a movie's index was read when it was opened
  const int64_t end = static_cast<int64_t>(files_.size()) - 1;
  first = std::clamp<int64_t>(first, 0, end);
  last = std::clamp<int64_t>(last, 0, end);
  for (int64_t i = first; i <= last; ++i) {
    const auto at = static_cast<size_t>(i);
    if (i == first || files_[at] != files_[at - 1]) OpenInput(option_, files_[at]);
  }
}

int64_t LayerFile::frameCount() const {
  if (!frames_.empty()) return static_cast<int64_t>(frames_.size());
  if (movie_) return movie_->frameCount();
  if (subimages_ > 0) return subimages_;
  return static_cast<int64_t>(files_.size());
}

std::string LayerFile::describe() const {
  const int64_t n = frameCount();
  return path_ + " (" + std::to_string(width_) + "x" + std::to_string(height_) +
         (n == 1 ? ", a still)" : ", " + std::to_string(n) + " frames)");
}

LayerFile::FileFrame LayerFile::readFile(const std::string& file, int subimage) const {
  auto in = OpenInput(option_, file);
  if (subimage != 0 && !in->seek_subimage(subimage, 0)) {
    throw UsageError(option_ + " " + Quoted(file) + ": frame " + std::to_string(subimage) +
                     " cannot be read (" + OneLine(in->geterror()) + "); check the file");
  }
  FileFrame frame;
  frame.file = file;
  frame.spec = in->spec();
  ImageSpec& spec = frame.spec;
  frame.space = FileColourSpace(*in, spec);
  spec.format = spec.format == TypeDesc::UINT8    ? TypeDesc(TypeDesc::UINT8)
                : spec.format == TypeDesc::UINT16 ? TypeDesc(TypeDesc::UINT16)
                                                  : TypeDesc(TypeDesc::FLOAT);
  frame.data.resize(spec.image_bytes());
  if (spec.nchannels < 1 ||
      !in->read_image(subimage, 0, 0, spec.nchannels, spec.format, frame.data.data())) {
    throw UsageError(option_ + " " + Quoted(file) + " cannot be read (" + OneLine(in->geterror()) +
                     "); check that the file is complete");
  }
  return frame;
}

LayerFile::FileFrame LayerFile::readMovie(int64_t index) const {
  MoviePicture picture;
  {
    std::lock_guard lock(movieMutex_);
    picture = movie_->read(index);
  }
  FileFrame frame;
  frame.file = files_[0];
  frame.spec = ImageSpec(picture.width, picture.height, 4,
                         picture.bits == 16 ? TypeDesc::UINT16 : TypeDesc::UINT8);
  frame.spec.attribute("oiio:UnassociatedAlpha", 1);
  frame.data = std::move(picture.data);
  return frame;
}

standin::WorldPtr LayerFile::decode(int64_t index, int depth) const {
  if (!frames_.empty()) {
    const auto& frame = frames_.at(static_cast<size_t>(index));
    if (frame->depth() != depth) throw UsageError("built-in layer frame at another depth");
    return frame;
  }
  if (movie_) return toWorld(readMovie(index), depth);
  if (subimages_ > 0) return toWorld(readFile(files_[0], static_cast<int>(index)), depth);
  return toWorld(readFile(files_.at(static_cast<size_t>(index)), 0), depth);
}

standin::WorldPtr LayerFile::toWorld(const FileFrame& source, int depth) const {
  const ImageSpec& spec = source.spec;
  const int channels = spec.nchannels;
  const TypeDesc type = spec.format;
  const size_t pixelBytes = type.size() * static_cast<size_t>(channels);
  // Some readers name no alpha channel, or one past the last (GIF frames after
  // the first): the second of two channels or the fourth of four or more is it.
  int alpha = spec.alpha_channel < channels ? spec.alpha_channel : -1;
  if (alpha < 0 && (channels == 2 || channels >= 4)) alpha = channels == 2 ? 1 : 3;
  const bool straight = alpha >= 0 && spec.get_int_attribute("oiio:UnassociatedAlpha", 0) != 0;
  // The first three channels that are not alpha are red, green and blue; one
  // alone is grey.
  std::vector<int> colour;
  for (int c = 0; c < channels && colour.size() < 3; ++c) {
    if (c != alpha) colour.push_back(c);
  }
  if (colour.empty()) colour.push_back(0);
  while (colour.size() < 3) colour.push_back(colour[0]);

  // The layer is the display window; what the data window does not cover is
  // transparent, and data outside the display window is not shown.
  const int32_t w = spec.full_width;
  const int32_t h = spec.full_height;
  const auto pixel = [&](int32_t x, int32_t y) -> const unsigned char* {
    const int32_t dx = x + spec.full_x - spec.x;
    const int32_t dy = y + spec.full_y - spec.y;
    if (dx < 0 || dy < 0 || dx >= spec.width || dy >= spec.height) return nullptr;
    return source.data.data() + (static_cast<size_t>(dy) * spec.width + dx) * pixelBytes;
  };
  const std::string space = !colourSpace_.empty()   ? colourSpace_
                            : !source.space.empty() ? source.space
                                                    : kWorkingSpace;
  if (IsWorkingSpace(space)) {
    // File values in the effect's encoding map exactly, in integers.
    const int32_t full = FullScale(depth);
    auto world = std::make_shared<standin::World>(w, h, depth);
    for (int32_t y = 0; y < h; ++y) {
      for (int32_t x = 0; x < w; ++x) {
        const unsigned char* px = pixel(x, y);
        if (!px) continue;  // the world starts transparent
        auto channel = [&](int c) { return ChannelValue(px + c * type.size(), type, depth); };
        const int32_t a = alpha >= 0 ? channel(alpha) : full;
        int32_t rgb[3] = {channel(colour[0]), channel(colour[1]), channel(colour[2])};
        for (int32_t& c : rgb) {
          if (straight) c = Premultiply(c, a, full);
        }
        if (depth == 16) {
          world->at16(x, y) =
              PF_Pixel16{static_cast<A_u_short>(a), static_cast<A_u_short>(rgb[0]),
                         static_cast<A_u_short>(rgb[1]), static_cast<A_u_short>(rgb[2])};
        } else {
          world->at8(x, y) = PF_Pixel{static_cast<A_u_char>(a), static_cast<A_u_char>(rgb[0]),
                                      static_cast<A_u_char>(rgb[1]), static_cast<A_u_char>(rgb[2])};
        }
      }
    }
    return world;
  }

  // Otherwise through premultiplied floats, converted to the effect's encoding.
  std::vector<float> rgba(static_cast<size_t>(w) * static_cast<size_t>(h) * 4, 0.0f);
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      const unsigned char* px = pixel(x, y);
      if (!px) continue;
      auto channel = [&](int c) { return ChannelFloat(px + c * type.size(), type); };
      float* p = &rgba[(static_cast<size_t>(y) * w + x) * 4];
      p[3] = alpha >= 0 ? channel(alpha) : 1.0f;
      for (int c = 0; c < 3; ++c) p[c] = channel(colour[c]) * (straight ? p[3] : 1.0f);
    }
  }
  ConvertColour(rgba, w, h, true, space, kWorkingSpace, option_ + " " + Quoted(source.file));
  return WorldFromFloats(rgba, w, h, depth);
}

void FailureSlot::record(const std::string& message) {
  std::lock_guard lock(mutex_);
  if (!message_) message_ = message;
}

std::optional<std::string> FailureSlot::first() const {
  std::lock_guard lock(mutex_);
  return message_;
}

namespace {

bool AnyVisible(const standin::World& w) {
  for (int32_t y = 0; y < w.height(); ++y) {
    for (int32_t x = 0; x < w.width(); ++x) {
      if (w.depth() == 16 ? w.at16(x, y).alpha != 0 : w.at8(x, y).alpha != 0) return true;
    }
  }
  return false;
}

// The frame resized to width × height as fit says, in premultiplied floats
// with a filter that keeps soft shapes soft and rings little at edges. Fill
// scales by the larger of the two ratios, so the layer covers the output, and
// keeps the centre: the resize target is the whole scaled layer and only the
// output's window of it is computed.
standin::WorldPtr FittedFrame(const standin::World& frame, Fit fit, int32_t width, int32_t height,
                              const std::string& what) {
  std::vector<float> rgba = FloatsFromWorld(frame);
  OIIO::ImageSpec spec(frame.width(), frame.height(), 4, TypeDesc::FLOAT);
  spec.alpha_channel = 3;
  const OIIO::ImageBuf source(spec, rgba.data());
  spec.width = spec.full_width = width;
  spec.height = spec.full_height = height;
  if (fit == Fit::Fill) {
    const double scale = std::max(double(width) / frame.width(), double(height) / frame.height());
    spec.full_width = std::max(width, static_cast<int>(std::lround(frame.width() * scale)));
    spec.full_height = std::max(height, static_cast<int>(std::lround(frame.height() * scale)));
    spec.x = (spec.full_width - width) / 2;
    spec.y = (spec.full_height - height) / 2;
  }
  OIIO::ImageBuf target(spec);
  const bool done =
      OIIO::ImageBufAlgo::resize(target, source, "blackman-harris", 0.0f, target.roi());
  std::vector<float> out(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
  if (!done || !target.get_pixels(target.roi(), TypeDesc::FLOAT, out.data())) {
    throw UsageError(Quoted(what) + " cannot be resized (" + OneLine(target.geterror()) +
                     "); try --fit-displacement none");
  }
  return WorldFromFloats(out, width, height, frame.depth());
}

class CachedLayer {
 public:
  CachedLayer(std::shared_ptr<const LayerFile> layer, std::shared_ptr<FailureSlot> failures,
              SourceOptions options)
      : layer_(std::move(layer)), failures_(std::move(failures)), options_(std::move(options)) {}

  standin::WorldPtr frameAt(const standin::LayerRequest& request) {
    // One message per fault: once a frame has failed, nothing more is read.
    if (failures_->first()) return nullptr;
    const int64_t count = layer_->frameCount();
    int64_t index = standin::FrameIndexAt(request.time, request.timeStep, count);
    if (options_.loop && request.timeStep > 0) {
      const int64_t step = request.timeStep;
      const int64_t shown =
          request.time >= 0 ? request.time / step : -((-request.time + step - 1) / step);
      index = (shown % count + count) % count;
    }
    const int64_t key = index * 2 + (request.depth == 16 ? 1 : 0);
    {
      std::lock_guard lock(mutex_);
      if (auto it = cache_.find(key); it != cache_.end()) {
        it->second.lastUse = ++clock_;
        return it->second.frame;
      }
    }
    // Decoded outside the lock so that threads needing different frames proceed
    // together; a frame two threads decode at once is simply decoded twice.
    standin::WorldPtr frame;
    try {
      // A frame that does not fit gets the plain message with its size.
      frame = WithMemoryFor(
          "frame " + std::to_string(index) + " of " + Quoted(layer_->path()),
          uint64_t(layer_->width()) * uint64_t(layer_->height()) * (request.depth == 16 ? 8 : 4),
          [&] { return layer_->decode(index, request.depth); });
      if (options_.fit != Fit::None &&
          (frame->width() != options_.width || frame->height() != options_.height)) {
        frame = FittedFrame(*frame, options_.fit, options_.width, options_.height, layer_->path());
      }
    } catch (const std::exception& e) {
      failures_->record(e.what());
      return nullptr;
    }
    if (options_.usage) {
      options_.usage->served = true;
      if (!options_.usage->visible && AnyVisible(*frame)) options_.usage->visible = true;
    }
    std::lock_guard lock(mutex_);
    auto [it, inserted] = cache_.try_emplace(key, Entry{frame, 0});
    it->second.lastUse = ++clock_;
    if (inserted) {
      bytes_ += Bytes(*frame);
      while (bytes_ > options_.cacheBytes && cache_.size() > 1) Evict(key);
    }
    return it->second.frame;
  }

 private:
  struct Entry {
    standin::WorldPtr frame;
    uint64_t lastUse;
  };
  static uint64_t Bytes(const standin::World& w) {
    return uint64_t(w.width()) * uint64_t(w.height()) * (w.depth() == 16 ? 8 : 4);
  }
  void Evict(int64_t keep) {
    auto oldest = cache_.end();
    for (auto it = cache_.begin(); it != cache_.end(); ++it) {
      if (it->first != keep &&
          (oldest == cache_.end() || it->second.lastUse < oldest->second.lastUse)) {
        oldest = it;
      }
    }
    bytes_ -= Bytes(*oldest->second.frame);
    cache_.erase(oldest);
  }

  std::shared_ptr<const LayerFile> layer_;
  std::shared_ptr<FailureSlot> failures_;
  SourceOptions options_;
  std::mutex mutex_;
  std::map<int64_t, Entry> cache_;
  uint64_t bytes_ = 0;
  uint64_t clock_ = 0;
};

}  // namespace

standin::FrameSourcePtr LayerSource(std::shared_ptr<const LayerFile> layer,
                                    std::shared_ptr<FailureSlot> failures, SourceOptions options) {
  auto cached =
      std::make_shared<CachedLayer>(std::move(layer), std::move(failures), std::move(options));
  return standin::FunctionSource(
      [cached](const standin::LayerRequest& request) { return cached->frameAt(request); });
}

// --- Output ---------------------------------------------------------------------------

// v resized to n values, or a message naming the output and the bytes that did not fit.
template <typename T>
void ResizeForWriting(std::vector<T>& v, size_t n, const std::string& path) {
  WithMemoryFor("writing " + Quoted(path), uint64_t{n} * sizeof(T), [&] { v.resize(n); });
}

// Calls f(pixel index, {red, green, blue, alpha}) for every pixel, row by row.
template <typename F>
void ForEachPixel(const standin::World& frame, F f) {
  for (int32_t y = 0; y < frame.height(); ++y) {
    for (int32_t x = 0; x < frame.width(); ++x) {
      int32_t v[4];
      if (frame.depth() == 16) {
        const PF_Pixel16& p = frame.at16(x, y);
        v[0] = p.red, v[1] = p.green, v[2] = p.blue, v[3] = p.alpha;
      } else {
        const PF_Pixel& p = frame.at8(x, y);
        v[0] = p.red, v[1] = p.green, v[2] = p.blue, v[3] = p.alpha;
      }
      f(static_cast<size_t>(y) * static_cast<size_t>(frame.width()) + static_cast<size_t>(x), v);
    }
  }
}

void WriteImage(const standin::World& rendered, const std::string& path,
                const std::string& colourSpace) {
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
  std::vector<unsigned char> bytes;
  std::vector<uint16_t> words;
  std::vector<float> floats;
  const void* data = nullptr;
  TypeDesc dataType;
  const size_t count = static_cast<size_t>(w) * static_cast<size_t>(h) * channels;

  if (*format == OutputFormat::Exr) {
    spec = ImageSpec(w, h, 4, TypeDesc::HALF);
    ResizeForWriting(floats, count, path);
    ForEachPixel(frame, [&](size_t i, const int32_t v[4]) {
      for (int c = 0; c < 4; ++c) {
        floats[i * 4 + c] = static_cast<float>(v[c]) / static_cast<float>(full);
      }
    });
    ConvertColour(floats, w, h, true, kWorkingSpace, space, "-o " + Quoted(path));
    spec.attribute(kColourSpaceAttribute, held);
    data = floats.data();
    dataType = TypeDesc::FLOAT;
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
    } else {
      ResizeForWriting(bytes, count, path);
    }
    ForEachPixel(frame, [&](size_t i, const int32_t premultiplied[4]) {
      int32_t v[4] = {premultiplied[0], premultiplied[1], premultiplied[2], premultiplied[3]};
      for (int c = 0; c < 3; ++c) v[c] = Unpremultiply(v[c], v[3], full);
      for (int c = 0; c < 4; ++c) {
        if (depth == 16) {
          words[i * 4 + c] = static_cast<uint16_t>(To16BitFile(v[c]));
        } else {
          bytes[i * 4 + c] = static_cast<unsigned char>(v[c]);
        }
      }
    });
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

  EncodeAndWrite(path, spec, dataType, data);
}

}  // namespace tilvane_tool
