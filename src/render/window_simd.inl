// The vector window walk, one body for every instruction set: the including
// file sets the target, TILVANE_SIMD_LANES (doubles per vector),
// TILVANE_SIMD_NAMESPACE and TILVANE_SIMD_PATH. Each step mirrors the reference in cell_draw.cpp:
// SampleWindowPixel, SampleIcon, ShadeCellPixel and WriteCellPixel.

namespace tilvane::TILVANE_SIMD_NAMESPACE {

constexpr int kLanes = TILVANE_SIMD_LANES;
typedef double VecD __attribute__((vector_size(kLanes * sizeof(double))));
typedef int64_t VecL __attribute__((vector_size(kLanes * sizeof(int64_t))));
using VecM = VecL;  // masks of VecD
typedef uint64_t VecQ __attribute__((vector_size(kLanes * sizeof(uint64_t))));
typedef float VecF __attribute__((vector_size(kLanes * sizeof(float))));
typedef int32_t VecI __attribute__((vector_size(kLanes * sizeof(int32_t))));  // masks of VecF
typedef uint32_t VecU __attribute__((vector_size(kLanes * sizeof(uint32_t))));

// Source points inside ±2^30 floor exactly through a 32-bit conversion and
// leave room for the + 1 of the right and lower neighbours.
constexpr double kSafeSource = 1073741824.0;
// Window columns below this convert to float exactly as the reference's
// 64-bit offsets do, and outputs narrower than it keep the truncation of a
// clamped column inside 32 bits.
constexpr int64_t kSafeExtent = int64_t{1} << 24;

inline bool AllTrue(VecM mask) {
#if TILVANE_SIMD_LANES == 2
  return _mm_movemask_pd(reinterpret_cast<__m128d>(mask)) == 0x3;
#elif TILVANE_SIMD_LANES == 4
  return _mm256_movemask_pd(reinterpret_cast<__m256d>(mask)) == 0xF;
#else
  return _mm512_movepi64_mask(reinterpret_cast<__m512i>(mask)) == 0xFF;
#endif
}

// Byte offsets of icon rows: row × rowbytes in 64 bits, as GetPixelAddr
// forms them. Rows are clamped into the icon, so never negative.
inline VecL RowOffsets(VecI rows, int64_t rowBytes) {
#if TILVANE_SIMD_LANES == 4
  // rowbytes is a 32-bit field: a signed 32 × 32-bit product is exact.
  return reinterpret_cast<VecL>(_mm256_mul_epi32(
      _mm256_cvtepi32_epi64(reinterpret_cast<__m128i>(rows)), _mm256_set1_epi64x(rowBytes)));
#else
  return __builtin_convertvector(rows, VecL) * rowBytes;
#endif
}

// The packed pixels at base + offset of every lane; every offset lies inside
// the icon.
inline VecU Gather32(const unsigned char* base, VecL offsets) {
#if TILVANE_SIMD_LANES == 8
  return reinterpret_cast<VecU>(_mm512_mask_i64gather_epi32(
      _mm256_setzero_si256(), 0xFF, reinterpret_cast<__m512i>(offsets), base, 1));
#elif TILVANE_SIMD_LANES == 4
  return reinterpret_cast<VecU>(_mm256_i64gather_epi32(reinterpret_cast<const int*>(base),
                                                       reinterpret_cast<__m256i>(offsets), 1));
#else
  uint32_t a, b;
  std::memcpy(&a, base + offsets[0], sizeof a);
  std::memcpy(&b, base + offsets[1], sizeof b);
  return VecU{a, b};
#endif
}

inline VecQ Gather64(const unsigned char* base, VecL offsets) {
#if TILVANE_SIMD_LANES == 8
  return reinterpret_cast<VecQ>(_mm512_mask_i64gather_epi64(
      _mm512_setzero_si512(), 0xFF, reinterpret_cast<__m512i>(offsets), base, 1));
#elif TILVANE_SIMD_LANES == 4
  return reinterpret_cast<VecQ>(_mm256_i64gather_epi64(reinterpret_cast<const long long*>(base),
                                                       reinterpret_cast<__m256i>(offsets), 1));
#else
  uint64_t a, b;
  std::memcpy(&a, base + offsets[0], sizeof a);
  std::memcpy(&b, base + offsets[1], sizeof b);
  return VecQ{a, b};
#endif
}

// int32 to double and double to int32 (truncating) in one instruction; the
// generic conversions split the wider vectors.
inline VecD ToDouble(VecI v) {
#if TILVANE_SIMD_LANES == 8
  // The masked forms: the plain ones start from an "undefined" vector that
  // GCC reports as uninitialised.
  return reinterpret_cast<VecD>(
      _mm512_mask_cvtepi32_pd(_mm512_setzero_pd(), 0xFF, reinterpret_cast<__m256i>(v)));
#elif TILVANE_SIMD_LANES == 4
  return reinterpret_cast<VecD>(_mm256_cvtepi32_pd(reinterpret_cast<__m128i>(v)));
#else
  long long bits;
  std::memcpy(&bits, &v, sizeof bits);
  return reinterpret_cast<VecD>(_mm_cvtepi32_pd(_mm_cvtsi64_si128(bits)));
#endif
}

// In range only: the caller has checked every lane.
inline VecI TruncToInt(VecD v) {
#if TILVANE_SIMD_LANES == 8
  return reinterpret_cast<VecI>(
      _mm512_mask_cvttpd_epi32(_mm256_setzero_si256(), 0xFF, reinterpret_cast<__m512d>(v)));
#elif TILVANE_SIMD_LANES == 4
  return reinterpret_cast<VecI>(_mm256_cvttpd_epi32(reinterpret_cast<__m256d>(v)));
#else
  const long long bits = _mm_cvtsi128_si64(_mm_cvttpd_epi32(reinterpret_cast<__m128d>(v)));
  VecI out;
  std::memcpy(&out, &bits, sizeof out);
  return out;
#endif
}

// FloorOf's whole part. Where it differs from the rounding instruction, at
// −0.0 (FloorOf gives +0.0, so the fraction is −0.0 rather than +0.0), the
// zero fraction leaves every interpolation exactly the same.
inline VecD Floor(VecD v) {
#if TILVANE_SIMD_LANES == 8
  return reinterpret_cast<VecD>(
      _mm512_mask_roundscale_pd(_mm512_setzero_pd(), 0xFF, reinterpret_cast<__m512d>(v),
                                _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC));
#elif TILVANE_SIMD_LANES == 4
  return reinterpret_cast<VecD>(_mm256_floor_pd(reinterpret_cast<__m256d>(v)));
#else
  // SSE2 has no rounding instruction: truncate, then step down once where
  // that rounded up.
  const VecD whole = ToDouble(TruncToInt(v));
  return whole > v ? whole - 1.0 : whole;
#endif
}

inline VecD IotaD() {
  VecD v;
  for (int i = 0; i < kLanes; ++i) v[i] = i;
  return v;
}

inline VecI IotaI() {
  VecI v;
  for (int i = 0; i < kLanes; ++i) v[i] = i;
  return v;
}

template <typename Vec, typename Element>
inline Vec Splat(Element value) {
  Vec v;
  for (int i = 0; i < kLanes; ++i) v[i] = value;
  return v;
}

template <typename Vec, typename Element>
inline Vec LoadLanes(const Element* lanes) {
  Vec v;
  std::memcpy(&v, lanes, sizeof v);
  return v;
}

// The neighbour clamp of ClampIndex, given the last index rather than the
// size: "not greater than 0" first, then "not less than the last".
inline VecI ClampToLast(VecI value, VecI last) {
  const VecI lower = value > 0 ? value : 0;
  return lower < last ? lower : last;
}

// TruncToChannel: NaN and negative values give 0, values beyond the
// channel's largest give that value, the rest truncate.
inline VecI TruncToChannel(VecD value, double largest) {
  const VecD clamped = value > 0.0 ? (value < largest ? value : largest) : 0.0;
  return TruncToInt(clamped);
}
inline VecI TruncToChannel(VecF value, float largest) {
  const VecF clamped = value > 0.0f ? (value < largest ? value : largest) : 0.0f;
  return __builtin_convertvector(clamped, VecI);
}

// The 8-bit depth, whose packed pixels are 32 bits; the 16-bit one packs 64.
template <typename Pixel>
inline constexpr bool kEightBit = PixelTraits<Pixel>::kChannelBits == 8;

// Four neighbours' packed pixels: 8 bits in lo (alpha lowest, as GetPixel8
// packs them); 16 bits alpha and red in lo, green and blue in hi.
struct Neighbours {
  VecU lo[4];
  VecU hi[4];
};

template <typename Pixel>
inline void Fetch(const unsigned char* base, VecL offsets, Neighbours* n, int which) {
  if constexpr (kEightBit<Pixel>) {
    n->lo[which] = Gather32(base, offsets);
  } else {
    const VecQ pixels = Gather64(base, offsets);
    n->lo[which] = __builtin_convertvector(pixels, VecU);
    n->hi[which] = __builtin_convertvector(pixels >> 32, VecU);
  }
}

// One 8-bit channel of every lane, zero-extended: a byte shuffle where
// there is one, shifts on SSE2.
template <int kChannel>
inline VecU ByteChannel(VecU packed) {
#if TILVANE_SIMD_LANES == 8
  constexpr char z = -128;  // a cleared byte
  constexpr char c = kChannel;
  const __m256i pick =
      _mm256_setr_epi8(c, z, z, z, c + 4, z, z, z, c + 8, z, z, z, c + 12, z, z, z, c, z, z, z,
                       c + 4, z, z, z, c + 8, z, z, z, c + 12, z, z, z);
  return reinterpret_cast<VecU>(_mm256_shuffle_epi8(reinterpret_cast<__m256i>(packed), pick));
#elif TILVANE_SIMD_LANES == 4
  constexpr char z = -128;
  constexpr char c = kChannel;
  const __m128i pick = _mm_setr_epi8(c, z, z, z, c + 4, z, z, z, c + 8, z, z, z, c + 12, z, z, z);
  return reinterpret_cast<VecU>(_mm_shuffle_epi8(reinterpret_cast<__m128i>(packed), pick));
#else
  return (packed >> (8 * kChannel)) & 0xFFu;
#endif
}

template <typename Pixel, int kChannel>
inline VecD ChannelOf(const Neighbours& n, int which) {
  VecU bits;
  if constexpr (kEightBit<Pixel>) {
    bits = ByteChannel<kChannel>(n.lo[which]);
  } else {
    const VecU word = kChannel < 2 ? n.lo[which] : n.hi[which];
    bits = kChannel % 2 == 0 ? word & 0xFFFFu : word >> 16;
  }
  return ToDouble(reinterpret_cast<VecI>(bits));
}

// One channel of the four neighbours, interpolated as Interpolate does.
template <typename Pixel, int kChannel>
inline VecD Interpolate(const Neighbours& n, VecD fx, VecD fy) {
  const VecD v00 = ChannelOf<Pixel, kChannel>(n, 0);
  const VecD v10 = ChannelOf<Pixel, kChannel>(n, 1);
  const VecD v01 = ChannelOf<Pixel, kChannel>(n, 2);
  const VecD v11 = ChannelOf<Pixel, kChannel>(n, 3);
  const VecD upper = v00 + (v10 - v00) * fx;
  const VecD lower = v01 + (v11 - v01) * fx;
  return upper + (lower - upper) * fy;
}

// What the window walk of one cell needs in every lane.
template <typename Pixel>
struct CellLanes {
  VecD cosTheta, sinTheta, centreX, centreY, divisor;
  VecI iconLastColumn, iconLastRow;
  const unsigned char* iconData;
  std::ptrdiff_t iconRowBytes;
  bool iconColors;
  bool pairedColumns;  // the icon is at least 2 pixels wide
  float transparencyFactor;
  double luminance, transparency, oneMinusLuminance;
  double colorA[3], colorB[3];
  float originX, lastColumnValue;
};

// How a cell colours its pixels: the icon's colours unscaled (a transparency
// factor of exactly 1, where the single-precision product changes nothing),
// the icon's colours scaled, or the two-colour mix.
enum class Shading { kIconUnscaled, kIconScaled, kMix };

// One colour channel of a group, as ShadeCellPixel computes it.
template <typename Pixel, Shading kShading, int kComponent>
inline VecI ShadeChannel(const CellLanes<Pixel>& cell, VecD s) {
  constexpr double kScale = PixelTraits<Pixel>::kFullScaleDouble;
  constexpr double kLargest = kEightBit<Pixel> ? 255.0 : 65535.0;
  if constexpr (kShading == Shading::kIconUnscaled) {
    // (float)(int)s × 1.0f is (int)s, and s lies inside the channel range.
    return TruncToInt(s);
  } else if constexpr (kShading == Shading::kIconScaled) {
    // Truncated to an integer first, then scaled in single precision.
    const VecF whole = __builtin_convertvector(TruncToInt(s), VecF);
    return TruncToChannel(whole * cell.transparencyFactor, static_cast<float>(kLargest));
  } else {
    // MixChannel, in its order; the colorA term weighted by luminance alone.
    const VecD first = s / kScale * cell.colorA[kComponent] / kScale * cell.luminance;
    const VecD second =
        s / kScale * cell.colorB[kComponent] / kScale * cell.transparency * cell.oneMinusLuminance;
    return TruncToChannel(kScale * (first + second), kLargest);
  }
}

// The source points of kLanes window pixels of one row, from column windowX.
struct SourcePoints {
  VecD x, y;
};

template <typename Pixel>
inline SourcePoints SourcesOf(const CellLanes<Pixel>& cell, int32_t halfWidth, double vSin,
                              double vCos, int64_t windowX) {
  const VecD u = static_cast<double>(windowX - halfWidth) + IotaD();
  return {(u * cell.cosTheta - vSin + cell.centreX) / cell.divisor,
          (u * cell.sinTheta + vCos + cell.centreY) / cell.divisor};
}

// Lanes whose source point the vector conversions take exactly.
inline VecM Convertible(const SourcePoints& p) {
  return (p.x > -kSafeSource) & (p.x < kSafeSource) & (p.y > -kSafeSource) & (p.y < kSafeSource);
}

// The four neighbours of every lane's source point and the fractions.
struct Neighbourhood {
  Neighbours n;
  VecD fx, fy;
};

template <typename Pixel>
inline Neighbourhood NeighbourhoodOf(const CellLanes<Pixel>& cell, const SourcePoints& p) {
  Neighbourhood h;
  const VecD wholeX = Floor(p.x);
  const VecD wholeY = Floor(p.y);
  h.fx = p.x - wholeX;
  h.fy = p.y - wholeY;
  const VecI x0 = TruncToInt(wholeX);
  const VecI y0 = TruncToInt(wholeY);
  // The + 1 comes before the clamp, never after it.
  const VecI left = ClampToLast(x0, cell.iconLastColumn);
  const VecI right = ClampToLast(x0 + 1, cell.iconLastColumn);
  const VecI top = ClampToLast(y0, cell.iconLastRow);
  const VecI bottom = ClampToLast(y0 + 1, cell.iconLastRow);
  const VecL upperRow = RowOffsets(top, cell.iconRowBytes);
  const VecL lowerRow = RowOffsets(bottom, cell.iconRowBytes);
  if (kEightBit<Pixel> && cell.pairedColumns) {
    // Both column neighbours in one 8-byte read at column min(left, width − 2),
    // which holds left and right whatever the clamp made of them.
    const VecI pair = left < cell.iconLastColumn ? left : cell.iconLastColumn - 1;
    const VecI leftIsFirst = left == pair;
    const VecI rightIsFirst = right == pair;
    const VecL pairColumn = __builtin_convertvector(pair, VecL) * int64_t{sizeof(Pixel)};
    const VecQ upper = Gather64(cell.iconData, upperRow + pairColumn);
    const VecQ lower = Gather64(cell.iconData, lowerRow + pairColumn);
    const VecU upperFirst = __builtin_convertvector(upper, VecU);
    const VecU upperSecond = __builtin_convertvector(upper >> 32, VecU);
    const VecU lowerFirst = __builtin_convertvector(lower, VecU);
    const VecU lowerSecond = __builtin_convertvector(lower >> 32, VecU);
    h.n.lo[0] = leftIsFirst ? upperFirst : upperSecond;
    h.n.lo[1] = rightIsFirst ? upperFirst : upperSecond;
    h.n.lo[2] = leftIsFirst ? lowerFirst : lowerSecond;
    h.n.lo[3] = rightIsFirst ? lowerFirst : lowerSecond;
  } else {
    const VecL leftColumn = __builtin_convertvector(left, VecL) * int64_t{sizeof(Pixel)};
    const VecL rightColumn = __builtin_convertvector(right, VecL) * int64_t{sizeof(Pixel)};
    Fetch<Pixel>(cell.iconData, upperRow + leftColumn, &h.n, 0);
    Fetch<Pixel>(cell.iconData, upperRow + rightColumn, &h.n, 1);
    Fetch<Pixel>(cell.iconData, lowerRow + leftColumn, &h.n, 2);
    Fetch<Pixel>(cell.iconData, lowerRow + rightColumn, &h.n, 3);
  }
  return h;
}

// The coloured pixels of the lanes, packed as the output stores them.
template <typename Pixel, Shading kShading>
inline void ShadeLanes(const CellLanes<Pixel>& cell, const Neighbourhood& h, Pixel* values) {
  const Neighbours& n = h.n;
  VecI channel[4];
  // A sample lies between its neighbours' values (the fractions are in
  // [0, 1) and rounding is monotonic), so inside the channel range: the
  // clamp of TruncToChannel changes nothing.
  channel[CHANNEL_ALPHA] = TruncToInt(Interpolate<Pixel, CHANNEL_ALPHA>(n, h.fx, h.fy));
  channel[CHANNEL_RED] =
      ShadeChannel<Pixel, kShading, 0>(cell, Interpolate<Pixel, CHANNEL_RED>(n, h.fx, h.fy));
  channel[CHANNEL_GREEN] =
      ShadeChannel<Pixel, kShading, 1>(cell, Interpolate<Pixel, CHANNEL_GREEN>(n, h.fx, h.fy));
  channel[CHANNEL_BLUE] =
      ShadeChannel<Pixel, kShading, 2>(cell, Interpolate<Pixel, CHANNEL_BLUE>(n, h.fx, h.fy));
  if constexpr (kEightBit<Pixel>) {
    const VecU packed = reinterpret_cast<VecU>(channel[CHANNEL_ALPHA]) |
                        reinterpret_cast<VecU>(channel[CHANNEL_RED]) << 8 |
                        reinterpret_cast<VecU>(channel[CHANNEL_GREEN]) << 16 |
                        reinterpret_cast<VecU>(channel[CHANNEL_BLUE]) << 24;
    std::memcpy(values, &packed, sizeof packed);
  } else {
    const VecU low = reinterpret_cast<VecU>(channel[CHANNEL_ALPHA]) |
                     reinterpret_cast<VecU>(channel[CHANNEL_RED]) << 16;
    const VecU high = reinterpret_cast<VecU>(channel[CHANNEL_GREEN]) |
                      reinterpret_cast<VecU>(channel[CHANNEL_BLUE]) << 16;
    const VecQ packed = __builtin_convertvector(low, VecQ) | __builtin_convertvector(high, VecQ)
                                                                 << 32;
    std::memcpy(values, &packed, sizeof packed);
  }
}

// OutputCoordinate of the lanes: the limit for a value not less than it,
// then 0 for a negative one.
template <typename Pixel>
inline void OutputColumns(const CellLanes<Pixel>& cell, int64_t windowX, int32_t* outputX) {
  const VecF column =
      cell.originX + __builtin_convertvector(static_cast<int32_t>(windowX) + IotaI(), VecF);
  const VecF below = column < cell.lastColumnValue ? column : cell.lastColumnValue;
  const VecI columns = __builtin_convertvector(below < 0.0f ? 0.0f : below, VecI);
  std::memcpy(outputX, &columns, sizeof columns);
}

// Shades kGroups × kLanes window pixels of one row, from column windowX, into
// values and their output columns into outputX. The groups go step by step
// side by side, so the processor overlaps their long chains (division,
// gather, conversions). False, with nothing written, when a source point is
// beyond what the vector conversions take exactly; those pixels go to the
// reference.
template <typename Pixel, Shading kShading, int kGroups>
inline bool ShadeGroups(const CellLanes<Pixel>& cell, int32_t halfWidth, double vSin, double vCos,
                        int64_t windowX, Pixel* values, int32_t* outputX) {
  SourcePoints p[kGroups];
  for (int g = 0; g < kGroups; ++g) {
    p[g] = SourcesOf(cell, halfWidth, vSin, vCos, windowX + g * kLanes);
  }
  VecM convertible = Convertible(p[0]);
  for (int g = 1; g < kGroups; ++g) convertible &= Convertible(p[g]);
  if (!AllTrue(convertible)) return false;
  Neighbourhood h[kGroups];
  for (int g = 0; g < kGroups; ++g) h[g] = NeighbourhoodOf(cell, p[g]);
  for (int g = 0; g < kGroups; ++g) ShadeLanes<Pixel, kShading>(cell, h[g], values + g * kLanes);
  for (int g = 0; g < kGroups; ++g) {
    OutputColumns(cell, windowX + g * kLanes, outputX + g * kLanes);
  }
  return true;
}

// Whether the vector conversions take this cell's walk exactly.
template <typename Pixel>
inline bool VectorsFit(const DrawContext<Pixel>& context, const CellWalk& walk) {
  return walk.lastWindowX < kSafeExtent && context.output->width < kSafeExtent;
}

template <typename Pixel>
CellLanes<Pixel> PrepareLanes(const DrawContext<Pixel>& context, const CellWalk& walk) {
  const CellTransform& t = walk.transform;
  CellLanes<Pixel> c;
  c.cosTheta = Splat<VecD>(t.cosTheta);
  c.sinTheta = Splat<VecD>(t.sinTheta);
  c.centreX = Splat<VecD>(walk.centreX);
  c.centreY = Splat<VecD>(walk.centreY);
  c.divisor = Splat<VecD>(t.divisor);
  c.iconLastColumn = Splat<VecI>(walk.iconWidth - 1);
  c.iconLastRow = Splat<VecI>(walk.iconHeight - 1);
  c.iconData = reinterpret_cast<const unsigned char*>(walk.icon->data);
  c.iconRowBytes = walk.icon->rowbytes;
  c.iconColors = context.settings->colorMapping == COLOR_ICON_LAYER;
  c.pairedColumns = walk.iconWidth >= 2;
  c.transparencyFactor = walk.placement.transparencyFactor;
  c.luminance = walk.placement.cellLuminance;
  c.transparency = walk.placement.transparencyFactor;
  c.oneMinusLuminance = 1.0 - c.luminance;
  for (int i = 0; i < 3; ++i) {
    c.colorA[i] = context.colorA[i];
    c.colorB[i] = context.colorB[i];
  }
  c.originX = walk.placement.originX;
  c.lastColumnValue = context.lastColumnValue;
  return c;
}

// Stores shaded pixels in window order, so a later one wins where two land
// on one output pixel; one block store where they are side by side.
template <typename Pixel>
inline void StoreGroup(Pixel* row, const Pixel* values, const int32_t* outputX) {
  bool sideBySide = true;
  for (int i = 1; i < kLanes; ++i) sideBySide &= outputX[i] == outputX[0] + i;
  if (sideBySide) {
    std::memcpy(row + outputX[0], values, kLanes * sizeof(Pixel));
    return;
  }
  for (int i = 0; i < kLanes; ++i) row[outputX[i]] = values[i];
}

// Shades kGroups × kLanes pixels from column windowX and stores them, with
// the border where the reference's writes leave it.
template <typename Pixel, Shading kShading, int kGroups>
void ShadeAndStore(const DrawContext<Pixel>& context, const CellWalk& walk,
                   const CellLanes<Pixel>& lanes, Pixel* row, int64_t column, int64_t windowY,
                   double vSin, double vCos) {
  constexpr int kCount = kGroups * kLanes;
  Pixel values[kCount];
  int32_t outputX[kCount];
  if (!ShadeGroups<Pixel, kShading, kGroups>(lanes, walk.halfWidth, vSin, vCos, column, values,
                                             outputX)) {
    for (int i = 0; i < kCount; ++i) {
      const ShadedPixel<Pixel> p = ShadeWindowPixel(context, walk, column + i, windowY);
      values[i] = p.value;
      outputX[i] = p.outputX;
    }
  }
  // Columns only grow along the group: if its first pixel is off the
  // border, so is every other one.
  if (OnBorder(context, column, windowY)) {
    for (int i = 0; i < kCount; ++i) {
      if (OnBorder(context, column + i, windowY)) values[i] = context.borderPixel;
    }
  }
  for (int g = 0; g < kGroups; ++g) StoreGroup(row, values + g * kLanes, outputX + g * kLanes);
}

// Columns 0 to open − 1 of one row, two groups at a time. The last groups
// overlap the ones before rather than leaving a tail: writing the end of a
// row again, in order, leaves what it left.
template <typename Pixel, Shading kShading>
void ShadeOpenColumns(const DrawContext<Pixel>& context, const CellWalk& walk,
                      const CellLanes<Pixel>& lanes, Pixel* row, int64_t open, int64_t windowY,
                      double vSin, double vCos) {
  int64_t column = 0;
  for (; column + 2 * kLanes <= open; column += 2 * kLanes) {
    ShadeAndStore<Pixel, kShading, 2>(context, walk, lanes, row, column, windowY, vSin, vCos);
  }
  const int64_t left = open - column;
  if (left > kLanes && open >= 2 * kLanes) {
    ShadeAndStore<Pixel, kShading, 2>(context, walk, lanes, row, open - 2 * kLanes, windowY, vSin,
                                      vCos);
  } else if (left > kLanes) {
    ShadeAndStore<Pixel, kShading, 1>(context, walk, lanes, row, column, windowY, vSin, vCos);
    ShadeAndStore<Pixel, kShading, 1>(context, walk, lanes, row, open - kLanes, windowY, vSin,
                                      vCos);
  } else if (left > 0) {
    ShadeAndStore<Pixel, kShading, 1>(context, walk, lanes, row, open - kLanes, windowY, vSin,
                                      vCos);
  }
}

// The rows firstRow to endRow − 1 of the walk, as DrawWindowRows draws
// them, with the border as OnBorder has it: the output's last column ends
// each row once, as the reference's last write there leaves it.
template <typename Pixel>
void DrawRows(const DrawContext<Pixel>& context, const CellWalk& walk, int64_t firstRow,
              int64_t endRow) {
  using Traits = PixelTraits<Pixel>;
  const bool border = BorderEndsRows(context);
  const bool vectors = VectorsFit(context, walk);
  const CellLanes<Pixel> lanes = PrepareLanes(context, walk);
  const auto shadeOpenColumns = !lanes.iconColors ? &ShadeOpenColumns<Pixel, Shading::kMix>
                                : lanes.transparencyFactor == 1.0f
                                    ? &ShadeOpenColumns<Pixel, Shading::kIconUnscaled>
                                    : &ShadeOpenColumns<Pixel, Shading::kIconScaled>;
  const int64_t columns = walk.ColumnCount();
  // The columns visited side by side: the open ones, and the last one too
  // where the walk reaches it without a jump.
  const int64_t side = walk.openColumns == walk.lastWindowX ? columns : walk.openColumns;
  for (int64_t rowIndex = firstRow; rowIndex < endRow; ++rowIndex) {
    const int64_t windowY = walk.RowAt(rowIndex);
    Pixel* row = Traits::Address(context.output, 0, OutputRowOf(context, walk, windowY));
    const double v = static_cast<double>(windowY - walk.halfHeight);
    const double vSin = v * walk.transform.sinTheta;
    const double vCos = v * walk.transform.cosTheta;
    int64_t column = 0;
    if (vectors && side >= kLanes) {
      shadeOpenColumns(context, walk, lanes, row, side, windowY, vSin, vCos);
      column = side;
    }
    for (; column < columns; ++column) {
      const int64_t windowX = walk.ColumnAt(column);
      ShadedPixel<Pixel> p = ShadeWindowPixel(context, walk, windowX, windowY);
      if (OnBorder(context, windowX, windowY)) p.value = context.borderPixel;
      row[p.outputX] = p.value;
    }
    if (border && columns > 0) row[context.lastColumn] = context.borderPixel;
  }
}

// This path's walk, named by its path.
template <typename Pixel>
RowDrawer<Pixel> Drawer() {
  return {TILVANE_SIMD_PATH, &DrawRows<Pixel>};
}

}  // namespace tilvane::TILVANE_SIMD_NAMESPACE
