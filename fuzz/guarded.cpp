#include "fuzz/guarded.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace fuzz {
namespace {

size_t RoundUp(size_t n, size_t to) { return (n + to - 1) / to * to; }

unsigned char* MapNoAccess(size_t bytes) {
  void* p = mmap(nullptr, bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
  return static_cast<unsigned char*>(p);
}

void Protect(unsigned char* at, size_t bytes, int protection) {
  if (bytes != 0 && mprotect(at, bytes, protection) != 0) throw std::bad_alloc();
}

bool AllGuard(const unsigned char* at, size_t n) {
  static const std::vector<unsigned char> pattern(4096, kGuardByte);
  for (size_t done = 0; done < n; done += pattern.size()) {
    const size_t chunk = std::min(pattern.size(), n - done);
    if (std::memcmp(at + done, pattern.data(), chunk) != 0) return false;
  }
  return true;
}

}  // namespace

size_t PageSize() {
  static const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  return page;
}

unsigned char* NoAccessPage() {
  static unsigned char* page = MapNoAccess(PageSize());
  return page;
}

GuardedBlock::GuardedBlock(size_t size) : size_(size) {
  const size_t page = PageSize();
  const size_t body = RoundUp(size == 0 ? 1 : size, page);
  mapped_ = body + 2 * page;
  base_ = MapNoAccess(mapped_);
  Protect(base_ + page, body, PROT_READ | PROT_WRITE);
  object_ = base_ + page + body - size;
  std::memset(base_ + page, kGuardByte, body - size);
  std::memset(object_, 0, size);
}

GuardedBlock::~GuardedBlock() { munmap(base_, mapped_); }

void GuardedBlock::Clear() { std::memset(object_, 0, size_); }

bool GuardedBlock::GuardIntact() const {
  const unsigned char* body = base_ + PageSize();
  return AllGuard(body, static_cast<size_t>(object_ - body));
}

GuardedPixels::GuardedPixels(int32_t width, int32_t height, int pixelSize, RowLayout layout,
                             int32_t padding, bool bottomUp)
    : height_(height), layout_(layout) {
  const size_t page = PageSize();
  rowSize_ = static_cast<size_t>(width) * static_cast<size_t>(pixelSize);
  const size_t rows = static_cast<size_t>(height);
  size_t stride = 0;
  unsigned char* first = nullptr;  // the row lowest in memory
  if (layout == RowLayout::GuardedRows) {
    regionSize_ = RoundUp(rowSize_, page);
    stride = regionSize_ + page;
    mapped_ = rows * stride + page;
    base_ = MapNoAccess(mapped_);
    for (size_t i = 0; i < rows; ++i) {
      unsigned char* region = base_ + page + i * stride;
      Protect(region, regionSize_, PROT_READ | PROT_WRITE);
      const size_t slack = regionSize_ - rowSize_;
      std::memset(region, kGuardByte, slack);
      slack_.emplace_back(region, slack);
    }
    first = base_ + page + (regionSize_ - rowSize_);
  } else {
    stride = rowSize_ + static_cast<size_t>(padding);
    // The last row ends flush against the page after the block; its padding
    // would run into that page, so the last row carries none.
    const size_t used = (rows - 1) * stride + rowSize_;
    const size_t body = RoundUp(used, page);
    mapped_ = body + 2 * page;
    base_ = MapNoAccess(mapped_);
    Protect(base_ + page, body, PROT_READ | PROT_WRITE);
    first = base_ + page + body - used;
    std::memset(base_ + page, kGuardByte, body);
    slack_.emplace_back(base_ + page, body - used);
    for (size_t i = 0; i + 1 < rows; ++i) {
      if (padding > 0) slack_.emplace_back(first + i * stride + rowSize_, padding);
    }
  }
  if (stride > static_cast<size_t>(INT32_MAX)) throw std::bad_alloc();
  rowbytes_ = bottomUp ? -static_cast<int32_t>(stride) : static_cast<int32_t>(stride);
  origin_ = bottomUp ? first + (rows - 1) * stride : first;
  for (int32_t y = 0; y < height_; ++y) std::memset(Row(y), 0, rowSize_);
}

GuardedPixels::~GuardedPixels() { munmap(base_, mapped_); }

void GuardedPixels::MakeReadOnly() {
  const size_t page = PageSize();
  if (layout_ == RowLayout::GuardedRows) {
    for (const auto& run : slack_) Protect(run.first, regionSize_, PROT_READ);
  } else {
    Protect(base_ + page, mapped_ - 2 * page, PROT_READ);
  }
}

bool GuardedPixels::GuardIntact() const {
  for (const auto& [at, n] : slack_) {
    if (!AllGuard(at, n)) return false;
  }
  return true;
}

uint64_t GuardedPixels::Checksum() const {
  uint64_t hash = 0;
  for (int32_t y = 0; y < height_; ++y) {
    const unsigned char* row = Row(y);
    for (size_t i = 0; i < rowSize_; i += 8) {
      uint64_t word = 0;
      std::memcpy(&word, row + i, std::min<size_t>(8, rowSize_ - i));
      hash = (hash ^ word) * 0x9E3779B97F4A7C15ull;
      hash ^= hash >> 29;
    }
  }
  return hash;
}

}  // namespace fuzz
