// Memory the hostile host hands to the plug-in, fenced so that a stray read
// or write faults at once: every record and every pixel row sits flush
// against a no-access page, and the bytes between an object and the page
// before it hold a known pattern that is checked after the call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "src/host/host_api.h"

namespace fuzz {

// The pattern written into every slack byte next to a guarded object.
inline constexpr unsigned char kGuardByte = 0xA5;

// One object between no-access pages: its last byte is followed by a
// no-access page, and the slack before it (up to the page before) is guard
// bytes.
class GuardedBlock {
 public:
  explicit GuardedBlock(size_t size);
  ~GuardedBlock();
  GuardedBlock(const GuardedBlock&) = delete;
  GuardedBlock& operator=(const GuardedBlock&) = delete;

  void* data() const { return object_; }
  size_t size() const { return size_; }
  void Clear();  // zero the object, leaving the guard bytes
  bool GuardIntact() const;

 private:
  unsigned char* base_ = nullptr;  // the first (no-access) page
  size_t mapped_ = 0;
  unsigned char* object_ = nullptr;
  size_t size_ = 0;
};

// A record of type T, zero-filled, between no-access pages.
template <typename T>
class Guarded {
 public:
  Guarded() : block_(sizeof(T)) {}
  T* get() const { return static_cast<T*>(block_.data()); }
  T* operator->() const { return get(); }
  void Clear() { block_.Clear(); }
  bool GuardIntact() const { return block_.GuardIntact(); }

 private:
  GuardedBlock block_;
};

// How a world's rows are laid out in memory.
enum class RowLayout {
  // Every row alone between no-access pages: the stride is a whole number
  // of pages, and the slack before each row is guard bytes.
  GuardedRows,
  // Rows at the plan's stride (row bytes plus padding), the whole block
  // between no-access pages, the padding guard bytes. Tall worlds use it,
  // since a page per row would take gigabytes.
  Packed,
};

// The pixels of a world. Rows may run bottom-up (a negative stride). The
// plug-in sees them through a view in which everything but the rows (and,
// for input layers, the rows too) forbids writing; the host writes through a
// second mapping of the same memory. Mapping a page per row costs many system
// calls, so the mappings are kept for later worlds of a similar shape.
class GuardedPixels {
 public:
  // width and height of at least 1; pixelSize 4 or 8; padding in bytes for
  // Packed rows (a multiple of the pixel size); readOnly for input layers.
  GuardedPixels(int32_t width, int32_t height, int pixelSize, RowLayout layout, int32_t padding,
                bool bottomUp, bool readOnly);
  ~GuardedPixels();
  GuardedPixels(const GuardedPixels&) = delete;
  GuardedPixels& operator=(const GuardedPixels&) = delete;

  // The address of row 0 and the signed distance between rows, as the
  // world record carries them.
  unsigned char* origin() const { return origin_; }
  int32_t rowbytes() const { return rowbytes_; }
  unsigned char* Row(int32_t y) const { return origin_ + static_cast<ptrdiff_t>(y) * rowbytes_; }
  // The same row, writable by the host.
  unsigned char* WritableRow(int32_t y) const;
  size_t RowSize() const { return rowSize_; }

  bool GuardIntact() const;

  struct Mapping;

 private:
  Mapping* mapping_ = nullptr;
  unsigned char* origin_ = nullptr;
  int32_t rowbytes_ = 0;
  int32_t height_ = 0;
  size_t rowSize_ = 0;
  std::vector<std::pair<unsigned char*, size_t>> slack_;  // guard-byte runs, writable
};

// A no-access page, for worlds that claim pixel data but have no extent: any
// access through their data pointer faults.
unsigned char* NoAccessPage();

size_t PageSize();

}  // namespace fuzz
