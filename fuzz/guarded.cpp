#include "fuzz/guarded.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <tuple>
#include <vector>

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

// One memory object mapped twice: the plug-in's view, with no-access pages
// around every row (GuardedRows) or around the block (Packed), and a plain
// writable alias. For GuardedRows, row slot i of the view maps the object's
// bytes [i × region, (i + 1) × region); for Packed the block maps it whole.
// A no-access margin of one more slot lies before the first slot and after
// the last, so that even the row before the first or after the last, a whole
// stride away, faults.
struct GuardedPixels::Mapping {
  RowLayout layout;
  size_t slots;   // GuardedRows: row slots; Packed: 1
  size_t region;  // accessible bytes per slot, whole pages
  bool readOnly;
  int fd = -1;
  unsigned char* view = nullptr;
  size_t viewSize = 0;
  unsigned char* alias = nullptr;

  size_t SlotStride() const { return region + PageSize(); }
  unsigned char* SlotView(size_t i) const {
    return view + SlotStride() + PageSize() + i * SlotStride();
  }
  int Protection() const { return readOnly ? PROT_READ : PROT_READ | PROT_WRITE; }
  unsigned char* SlotAlias(size_t i) const { return alias + i * region; }
  ptrdiff_t AliasOffset(size_t i) const { return SlotAlias(i) - SlotView(i); }
};

namespace {

using Mapping = GuardedPixels::Mapping;
using PoolKey = std::tuple<RowLayout, size_t, size_t, bool>;
// Kept mappings live as long as the process; never destroyed, so that they
// stay reachable to the leak checker after static destructors have run.
std::map<PoolKey, std::vector<Mapping*>>& Pool() {
  static auto* pool = new std::map<PoolKey, std::vector<Mapping*>>;
  return *pool;
}

size_t PowerOfTwoAtLeast(size_t n) {
  size_t p = 1;
  while (p < n) p *= 2;
  return p;
}

Mapping* AcquireMapping(RowLayout layout, size_t slots, size_t region, bool readOnly) {
  auto& free = Pool()[PoolKey{layout, slots, region, readOnly}];
  if (!free.empty()) {
    Mapping* m = free.back();
    free.pop_back();
    return m;
  }
  auto* m = new Mapping{layout, slots, region, readOnly};
  const size_t page = PageSize();
  const size_t bytes = slots * region;
  m->fd = memfd_create("tilvane_fuzz_pixels", MFD_CLOEXEC);
  if (m->fd < 0 || ftruncate(m->fd, static_cast<off_t>(bytes)) != 0) throw std::bad_alloc();
  m->viewSize = (slots + 2) * m->SlotStride() + page;
  m->view = MapNoAccess(m->viewSize);
  for (size_t i = 0; i < slots; ++i) {
    void* at = mmap(m->SlotView(i), region, m->Protection(), MAP_SHARED | MAP_FIXED, m->fd,
                    static_cast<off_t>(i * region));
    if (at == MAP_FAILED) throw std::bad_alloc();
  }
  void* alias = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, m->fd, 0);
  if (alias == MAP_FAILED) throw std::bad_alloc();
  m->alias = static_cast<unsigned char*>(alias);
  return m;
}

}  // namespace

GuardedPixels::GuardedPixels(int32_t width, int32_t height, int pixelSize, RowLayout layout,
                             int32_t padding, bool bottomUp, bool readOnly)
    : height_(height) {
  const size_t page = PageSize();
  rowSize_ = static_cast<size_t>(width) * static_cast<size_t>(pixelSize);
  const size_t rows = static_cast<size_t>(height);
  size_t stride = 0;
  unsigned char* first = nullptr;  // the row lowest in memory, in the view
  if (layout == RowLayout::GuardedRows) {
    const size_t region = RoundUp(rowSize_, page);
    mapping_ = AcquireMapping(layout, PowerOfTwoAtLeast(rows), region, readOnly);
    stride = region + page;
    const size_t slack = region - rowSize_;
    for (size_t i = 0; i < rows; ++i) {
      std::memset(mapping_->SlotAlias(i), kGuardByte, slack);
      slack_.emplace_back(mapping_->SlotAlias(i), slack);
    }
    first = mapping_->SlotView(0) + slack;
    // A kept mapping may have more slots than rows: the one after the last
    // row must fault like the margins do.
    if (rows < mapping_->slots) Protect(mapping_->SlotView(rows), region, PROT_NONE);
  } else {
    stride = rowSize_ + static_cast<size_t>(padding);
    // The last row ends flush against the page after the block; its padding
    // would run into that page, so the last row carries none.
    const size_t used = (rows - 1) * stride + rowSize_;
    const size_t body = PowerOfTwoAtLeast(RoundUp(used, page) / page) * page;
    mapping_ = AcquireMapping(layout, 1, body, readOnly);
    unsigned char* alias = mapping_->SlotAlias(0);
    std::memset(alias, kGuardByte, body);
    slack_.emplace_back(alias, body - used);
    unsigned char* firstAlias = alias + body - used;
    for (size_t i = 0; i + 1 < rows; ++i) {
      if (padding > 0) slack_.emplace_back(firstAlias + i * stride + rowSize_, padding);
    }
    first = mapping_->SlotView(0) + body - used;
  }
  if (stride > static_cast<size_t>(INT32_MAX)) throw std::bad_alloc();
  rowbytes_ = bottomUp ? -static_cast<int32_t>(stride) : static_cast<int32_t>(stride);
  origin_ = bottomUp ? first + (rows - 1) * stride : first;
}

unsigned char* GuardedPixels::WritableRow(int32_t y) const {
  unsigned char* row = Row(y);
  // View slots are a page further apart than alias slots, so the distance
  // between the two depends on the slot.
  const size_t slot =
      mapping_->layout == RowLayout::GuardedRows
          ? static_cast<size_t>(row - mapping_->SlotView(0)) / (mapping_->region + PageSize())
          : 0;
  return row + mapping_->AliasOffset(slot);
}

GuardedPixels::~GuardedPixels() {
  const size_t rows = static_cast<size_t>(height_);
  if (mapping_->layout == RowLayout::GuardedRows && rows < mapping_->slots) {
    Protect(mapping_->SlotView(rows), mapping_->region, mapping_->Protection());
  }
  const PoolKey key{mapping_->layout, mapping_->slots, mapping_->region, mapping_->readOnly};
  Pool()[key].push_back(mapping_);
}

bool GuardedPixels::GuardIntact() const {
  for (const auto& [at, n] : slack_) {
    if (!AllGuard(at, n)) return false;
  }
  return true;
}

}  // namespace fuzz
