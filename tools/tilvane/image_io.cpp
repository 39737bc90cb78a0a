#include "tools/tilvane/image_io.h"

#include <OpenImageIO/imageio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <map>
#include <system_error>

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
  const ImageSpec config = ReadConfig();
  auto in = ImageInput::open(file, &config);
  if (!in) {
    throw UsageError(option + " " + Quoted(file) + " cannot be read (" + OneLine(OIIO::geterror()) +
                     "); give a PNG, TIFF, EXR or JPEG image, a numbered sequence or a movie");
  }
  return in;
}

bool IsMovie(const ImageInput& in) { return in.spec().get_int_attribute("oiio:Movie", 0) != 0; }

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

std::shared_ptr<const LayerFile> LayerFile::Open(const std::string& option,
                                                 const std::string& path) {
  auto layer = std::make_shared<LayerFile>();
  layer->option_ = option;
  layer->path_ = path;
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
    for (const auto& [number, file] : found) layer->files_.push_back(file);
  } else {
    layer->files_.push_back(path);
  }
  // Every frame's header is read now, so that a bad file stops the run before
  // anything is written.
  for (size_t i = 0; i < layer->files_.size(); ++i) {
    auto in = OpenInput(option, layer->files_[i]);
    if (in->spec().width <= 0 || in->spec().height <= 0) {
      throw UsageError(option + " " + Quoted(layer->files_[i]) +
                       " has no pixels; give an image at least one pixel wide and high");
    }
    if (i == 0) {
      layer->width_ = in->spec().width;
      layer->height_ = in->spec().height;
      if (layer->files_.size() == 1 && IsMovie(*in)) {
        int count = 0;
        while (in->seek_subimage(count, 0)) ++count;
        layer->movieFrames_ = count;
      }
    }
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

int64_t LayerFile::frameCount() const {
  if (!frames_.empty()) return static_cast<int64_t>(frames_.size());
  if (movieFrames_ > 0) return movieFrames_;
  return static_cast<int64_t>(files_.size());
}

std::string LayerFile::describe() const {
  const int64_t n = frameCount();
  return path_ + " (" + std::to_string(width_) + "x" + std::to_string(height_) +
         (n == 1 ? ", a still)" : ", " + std::to_string(n) + " frames)");
}

standin::WorldPtr LayerFile::decode(int64_t index, int depth) const {
  if (!frames_.empty()) {
    const auto& frame = frames_.at(static_cast<size_t>(index));
    if (frame->depth() != depth) throw UsageError("built-in layer frame at another depth");
    return frame;
  }
  const bool movie = movieFrames_ > 0;
  const std::string& file = movie ? files_[0] : files_.at(static_cast<size_t>(index));
  auto in = OpenInput(option_, file);
  const int subimage = movie ? static_cast<int>(index) : 0;
  if (subimage != 0 && !in->seek_subimage(subimage, 0)) {
    throw UsageError(option_ + " " + Quoted(file) + ": frame " + std::to_string(index) +
                     " cannot be read (" + OneLine(in->geterror()) + "); check the movie");
  }
  const ImageSpec& spec = in->spec();
  const int channels = spec.nchannels;
  const TypeDesc type = spec.format == TypeDesc::UINT8    ? TypeDesc(TypeDesc::UINT8)
                        : spec.format == TypeDesc::UINT16 ? TypeDesc(TypeDesc::UINT16)
                                                          : TypeDesc(TypeDesc::FLOAT);
  const size_t pixelBytes = type.size() * static_cast<size_t>(channels);
  std::vector<unsigned char> data(static_cast<size_t>(spec.width) * spec.height * pixelBytes);
  if (channels < 1 || !in->read_image(subimage, 0, 0, channels, type, data.data())) {
    throw UsageError(option_ + " " + Quoted(file) + " cannot be read (" + OneLine(in->geterror()) +
                     "); check that the file is complete");
  }
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
  const int32_t full = FullScale(depth);

  auto world = std::make_shared<standin::World>(spec.width, spec.height, depth);
  for (int32_t y = 0; y < spec.height; ++y) {
    for (int32_t x = 0; x < spec.width; ++x) {
      const unsigned char* px =
          data.data() + (static_cast<size_t>(y) * spec.width + x) * pixelBytes;
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

void FailureSlot::record(const std::string& message) {
  std::lock_guard lock(mutex_);
  if (!message_) message_ = message;
}

std::optional<std::string> FailureSlot::first() const {
  std::lock_guard lock(mutex_);
  return message_;
}

namespace {

class CachedLayer {
 public:
  CachedLayer(std::shared_ptr<const LayerFile> layer, std::shared_ptr<FailureSlot> failures,
              uint64_t budget)
      : layer_(std::move(layer)), failures_(std::move(failures)), budget_(budget) {}

  standin::WorldPtr frameAt(const standin::LayerRequest& request) {
    const int64_t index =
        standin::FrameIndexAt(request.time, request.timeStep, layer_->frameCount());
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
      frame = layer_->decode(index, request.depth);
    } catch (const std::exception& e) {
      failures_->record(e.what());
      return nullptr;
    }
    std::lock_guard lock(mutex_);
    auto [it, inserted] = cache_.try_emplace(key, Entry{frame, 0});
    it->second.lastUse = ++clock_;
    if (inserted) {
      bytes_ += Bytes(*frame);
      while (bytes_ > budget_ && cache_.size() > 1) Evict(key);
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
  uint64_t budget_;
  std::mutex mutex_;
  std::map<int64_t, Entry> cache_;
  uint64_t bytes_ = 0;
  uint64_t clock_ = 0;
};

}  // namespace

standin::FrameSourcePtr LayerSource(std::shared_ptr<const LayerFile> layer,
                                    std::shared_ptr<FailureSlot> failures, uint64_t cacheBytes) {
  auto cached = std::make_shared<CachedLayer>(std::move(layer), std::move(failures), cacheBytes);
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

void WriteImage(const standin::World& frame, const std::string& path) {
  const auto format = FormatOf(path);
  if (!format) CheckOutputPath(path);
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

  EncodeAndWrite(path, spec, dataType, data);
}

}  // namespace tilvane_tool
