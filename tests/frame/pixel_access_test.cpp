// Pixel addressing: channel order, padded and bottom-up rows, and frames so
// large that y × rowbytes no longer fits 32 bits.
#include "src/host/pixel_access.h"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstdint>

#include "standin/world.h"

namespace {

using tilvane::GetPixel16;
using tilvane::GetPixel8;
using tilvane::GetPixelAddr16;
using tilvane::GetPixelAddr8;

TEST(PixelAccess, PacksChannelsAlphaFirstAtBothDepths) {
  standin::World w8(3, 2, 8, 4);
  w8.at8(2, 1) = PF_Pixel{0x11, 0x22, 0x33, 0x44};
  EXPECT_EQ(GetPixel8(w8.record(), 2, 1), 0x44332211u);
  EXPECT_EQ(GetPixelAddr8(w8.record(), 2, 1), &w8.at8(2, 1));

  standin::World w16(3, 2, 16, 6);
  w16.at16(1, 1) = PF_Pixel16{1, 32768, 3, 4};
  EXPECT_EQ(GetPixel16(w16.record(), 1, 1), 0x0004000380000001ull);
  EXPECT_EQ(GetPixelAddr16(w16.record(), 1, 1), &w16.at16(1, 1));
}

TEST(PixelAccess, FollowsNegativeRowbytesOfBottomUpFrames) {
  standin::World w(2, 3, 8, 0, /*bottomUp=*/true);
  ASSERT_LT(w.record()->rowbytes, 0);
  w.at8(1, 2) = PF_Pixel{9, 8, 7, 6};
  EXPECT_EQ(GetPixel8(w.record(), 1, 2), 0x06070809u);
}

TEST(PixelAccess, ReachesRowsMoreThanTwoGigabytesIn) {
  // A frame of 65536 × 4100 pixels at 16 bits: row 4099 starts 2.15 GB in,
  // past what a 32-bit y × rowbytes can hold. Reserved, not committed: only
  // the pages touched cost memory.
  constexpr int32_t kWidth = 65536;
  constexpr int32_t kRows = 4100;
  constexpr size_t kRowBytes = size_t{kWidth} * 8;
  constexpr size_t kSize = kRowBytes * kRows;
  void* base = mmap(nullptr, kSize, PROT_READ | PROT_WRITE,
                    MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  ASSERT_NE(base, MAP_FAILED);
  PF_EffectWorld world{};
  world.data = static_cast<PF_Pixel*>(base);
  world.rowbytes = static_cast<A_long>(kRowBytes);
  world.width = kWidth;
  world.height = kRows;

  PF_Pixel16* last = GetPixelAddr16(&world, kWidth - 1, kRows - 1);
  EXPECT_EQ(reinterpret_cast<unsigned char*>(last), static_cast<unsigned char*>(base) + kSize - 8);
  *last = PF_Pixel16{1, 2, 3, 4};
  EXPECT_EQ(GetPixel16(&world, kWidth - 1, kRows - 1), 0x0004000300020001ull);

  world.rowbytes = static_cast<A_long>(kRowBytes / 2);  // the same bytes read as 8-bit rows
  PF_Pixel* deep = GetPixelAddr8(&world, 3, 2 * kRows - 1);
  EXPECT_EQ(reinterpret_cast<unsigned char*>(deep),
            static_cast<unsigned char*>(base) + (2 * size_t{kRows} - 1) * (kRowBytes / 2) + 12);
  munmap(base, kSize);
}

}  // namespace
