// Pixel buffers the stand-in host owns: output worlds and layer frames.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "src/host/host_api.h"

namespace standin {

// One frame at 8 or 16 bits per channel in the host's ARGB layout. The
// record handed to the plug-in points into the buffer this object owns.
class World {
 public:
  // paddingBytes widens each row beyond width × pixel size; bottomUp stores
  // rows last-first with a negative rowbytes, as some hosts do.
  World(int32_t width, int32_t height, int depth, int32_t paddingBytes = 0, bool bottomUp = false);
  // A world with the given size but no pixel data.
  static World WithoutPixels(int32_t width, int32_t height, int depth);

  World(const World&) = delete;
  World& operator=(const World&) = delete;
  World(World&&) = default;
  World& operator=(World&&) = default;

  int32_t width() const { return record_->width; }
  int32_t height() const { return record_->height; }
  int depth() const { return depth_; }
  // The format PF_GetPixelFormat reports; follows the depth unless overridden.
  PF_PixelFormat format() const { return format_; }
  void setReportedFormat(PF_PixelFormat format) { format_ = format; }

  PF_EffectWorld* record() { return record_.get(); }
  const PF_EffectWorld* record() const { return record_.get(); }

  PF_Pixel& at8(int32_t x, int32_t y);
  const PF_Pixel& at8(int32_t x, int32_t y) const;
  PF_Pixel16& at16(int32_t x, int32_t y);
  const PF_Pixel16& at16(int32_t x, int32_t y) const;

  // Sets every pixel; channels in alpha, red, green, blue order.
  void fill(PF_Pixel16 argb);

  // Same size, depth and pixel values (padding bytes are ignored).
  bool samePixels(const World& other) const;

 private:
  World() = default;
  int depth_ = 8;
  PF_PixelFormat format_ = PF_PixelFormat_ARGB32;
  std::vector<unsigned char> buffer_;
  // Heap-held so the record's address survives moves of this object.
  std::unique_ptr<PF_EffectWorld> record_;
};

using WorldPtr = std::shared_ptr<const World>;

}  // namespace standin
