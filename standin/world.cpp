#include "standin/world.h"

#include <cstring>
#include <stdexcept>

namespace standin {
namespace {

int32_t PixelBytes(int depth) { return depth == 16 ? 8 : 4; }

void CheckDepth(int depth) {
  if (depth != 8 && depth != 16) {
    throw std::invalid_argument("a world is 8 or 16 bits per channel");
  }
}

}  // namespace

World::World(int32_t width, int32_t height, int depth, int32_t paddingBytes, bool bottomUp)
    : depth_(depth), format_(depth == 16 ? PF_PixelFormat_ARGB64 : PF_PixelFormat_ARGB32) {
  CheckDepth(depth);
  if (width < 0 || height < 0 || paddingBytes < 0) {
    throw std::invalid_argument("a world's size and padding cannot be negative");
  }
  const int64_t stride = int64_t{width} * PixelBytes(depth) + paddingBytes;
  buffer_.assign(static_cast<size_t>(stride * height) + 8, 0);
  record_ = std::make_unique<PF_EffectWorld>();
  std::memset(record_.get(), 0, sizeof(PF_EffectWorld));
  record_->width = width;
  record_->height = height;
  record_->rowbytes = static_cast<int32_t>(bottomUp ? -stride : stride);
  unsigned char* first = buffer_.data() + (bottomUp && height > 0 ? stride * (height - 1) : 0);
  record_->data = reinterpret_cast<PF_Pixel*>(first);
  record_->world_flags = PF_WorldFlag_WRITEABLE | (depth == 16 ? PF_WorldFlag_DEEP : 0);
  record_->extent_hint = PF_Rect{0, 0, width, height};
  record_->pix_aspect_ratio = PF_RationalScale{1, 1};
}

World World::WithoutPixels(int32_t width, int32_t height, int depth) {
  CheckDepth(depth);
  World w;
  w.depth_ = depth;
  w.format_ = depth == 16 ? PF_PixelFormat_ARGB64 : PF_PixelFormat_ARGB32;
  w.record_ = std::make_unique<PF_EffectWorld>();
  std::memset(w.record_.get(), 0, sizeof(PF_EffectWorld));
  w.record_->width = width;
  w.record_->height = height;
  w.record_->rowbytes = width * PixelBytes(depth);
  return w;
}

PF_Pixel& World::at8(int32_t x, int32_t y) {
  return *reinterpret_cast<PF_Pixel*>(reinterpret_cast<unsigned char*>(record_->data) +
                                      int64_t{y} * record_->rowbytes + int64_t{x} * 4);
}
const PF_Pixel& World::at8(int32_t x, int32_t y) const {
  return const_cast<World*>(this)->at8(x, y);
}
PF_Pixel16& World::at16(int32_t x, int32_t y) {
  return *reinterpret_cast<PF_Pixel16*>(reinterpret_cast<unsigned char*>(record_->data) +
                                        int64_t{y} * record_->rowbytes + int64_t{x} * 8);
}
const PF_Pixel16& World::at16(int32_t x, int32_t y) const {
  return const_cast<World*>(this)->at16(x, y);
}

void World::fill(PF_Pixel16 argb) {
  if (record_->data == nullptr) return;
  for (int32_t y = 0; y < height(); ++y) {
    for (int32_t x = 0; x < width(); ++x) {
      if (depth_ == 16) {
        at16(x, y) = argb;
      } else {
        at8(x, y) = PF_Pixel{static_cast<A_u_char>(argb.alpha), static_cast<A_u_char>(argb.red),
                             static_cast<A_u_char>(argb.green), static_cast<A_u_char>(argb.blue)};
      }
    }
  }
}

bool World::samePixels(const World& other) const {
  if (width() != other.width() || height() != other.height() || depth_ != other.depth_) {
    return false;
  }
  if ((record_->data == nullptr) != (other.record_->data == nullptr)) return false;
  if (record_->data == nullptr) return true;
  const size_t rowBytes = static_cast<size_t>(width()) * PixelBytes(depth_);
  for (int32_t y = 0; y < height(); ++y) {
    const void* a = depth_ == 16 ? static_cast<const void*>(&at16(0, y)) : &at8(0, y);
    const void* b = depth_ == 16 ? static_cast<const void*>(&other.at16(0, y)) : &other.at8(0, y);
    if (std::memcmp(a, b, rowBytes) != 0) return false;
  }
  return true;
}

}  // namespace standin
