#include <algorithm>
#include <vector>

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#include <cpuid.h>
#endif

#include "sim/graphics.h"

namespace sim {
namespace {

// Two draw-port pixels to one LCD word: lumas kept, Cb and Cr averaged (truncating) with one mask.
inline std::uint32_t PairToLcd(std::uint32_t a, std::uint32_t b) {
  return ((a & 0xFF00u) << 16) | (b & 0xFF00u) | ((((a & 0xFF00FFu) + (b & 0xFF00FFu)) >> 1) & 0xFF00FFu);
}

// One row of pairs. The loop is bound by the width of the vectors: on x86-64 builds of it for AVX-512 and
// AVX2 sit beside the baseline one, and the first copy picks the widest the processor and the system have.
// Picked here rather than by the loader: a command that never copies a screen never asks the processor
// (CPUID is slow under virtualisation, and every start of vupdate paid for it).
[[gnu::always_inline]] inline void ConvertRow(const std::uint32_t* __restrict s, std::uint32_t* __restrict d,
                                              int pairs) {
  for (int i = 0; i < pairs; ++i) d[i] = PairToLcd(s[2 * i], s[2 * i + 1]);
}

void PairsToLcdBaseline(const std::uint32_t* s, std::uint32_t* d, int pairs) {
  ConvertRow(s, d, pairs);
}

using RowConverter = void (*)(const std::uint32_t*, std::uint32_t*, int);

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
__attribute__((target("avx2,avx512f,avx512bw,avx512dq,avx512vl"))) void PairsToLcdAvx512(
    const std::uint32_t* s, std::uint32_t* d, int pairs) {
  ConvertRow(s, d, pairs);
}

__attribute__((target("avx2"))) void PairsToLcdAvx2(const std::uint32_t* s, std::uint32_t* d, int pairs) {
  ConvertRow(s, d, pairs);
}

RowConverter PickRowConverter() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (__get_cpuid(1, &a, &b, &c, &d) == 0 || (c & bit_OSXSAVE) == 0) return PairsToLcdBaseline;
  unsigned low = 0, high = 0;
  __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));  // which vector registers the system saves
  if (__get_cpuid_count(7, 0, &a, &b, &c, &d) == 0) return PairsToLcdBaseline;
  constexpr unsigned kAvxState = 0x6;      // SSE and AVX halves
  constexpr unsigned kAvx512State = 0xE6;  // and the mask and upper registers
  constexpr unsigned kAvx512 = bit_AVX512F | bit_AVX512BW | bit_AVX512DQ | bit_AVX512VL;
  if ((b & kAvx512) == kAvx512 && (b & bit_AVX2) != 0 && (low & kAvx512State) == kAvx512State) {
    return PairsToLcdAvx512;
  }
  if ((b & bit_AVX2) != 0 && (low & kAvxState) == kAvxState) return PairsToLcdAvx2;
  return PairsToLcdBaseline;
}
#else
RowConverter PickRowConverter() {
  return PairsToLcdBaseline;
}
#endif

void PairsToLcd(const std::uint32_t* s, std::uint32_t* d, int pairs) {
  static const RowConverter convert = PickRowConverter();
  convert(s, d, pairs);
}

}  // namespace

void Graphics::copyBits(const vestra::PixMap* srcMap, const vestra::PixMap* dstMap,
                        const vestra::Rect* srcRect, const vestra::Rect* dstRect) {
  noteDrawing();
  Port* src = findByPixMap(srcMap);
  Port* dst = findByPixMap(dstMap);
  if (!src || !dst || !srcRect || !dstRect || !drawPixels_) return;
  // No scaling: the common size of both rectangles is copied from their top-left corners.
  const int w = std::min(srcRect->right - srcRect->left, dstRect->right - dstRect->left);
  const int h = std::min(srcRect->bottom - srcRect->top, dstRect->bottom - dstRect->top);
  // Offsets inside the copy that fall within both ports.
  const int x0 = std::max({0, src->left - srcRect->left, dst->left - dstRect->left});
  const int x1 =
      std::min({w, src->left + src->width - srcRect->left, dst->left + dst->width - dstRect->left});
  const int y0 = std::max({0, src->top - srcRect->top, dst->top - dstRect->top});
  const int y1 = std::min({h, src->top + src->height - srcRect->top, dst->top + dst->height - dstRect->top});
  if (x0 >= x1 || y0 >= y1) return;
  const int sx = srcRect->left + x0 - src->left;  // memory coordinates of the first pixel copied
  const int sy = srcRect->top + y0 - src->top;
  const int dx = dstRect->left + x0 - dst->left;
  const int dy = dstRect->top + y0 - dst->top;
  const int cols = x1 - x0;
  const int rows = y1 - y0;

  if (src->depth == 32 && dst->depth == 16 && src != dst) {
    int lead = 0;
    if (dx % 2 != 0) {  // a pixel that shares its word with one outside the copy
      for (int y = 0; y < rows; ++y) dst->put(dx, dy + y, src->get(sx, sy + y));
      lead = 1;
    }
    const int pairs = (cols - lead) / 2;
    for (int y = 0; y < rows; ++y) {
      PairsToLcd(src->pixels.get() + static_cast<std::size_t>(sy + y) * src->wordsPerRow + sx + lead,
                 dst->pixels.get() + static_cast<std::size_t>(dy + y) * dst->wordsPerRow + (dx + lead) / 2,
                 pairs);
    }
    if ((cols - lead) % 2 != 0) {
      const int last = cols - 1;
      for (int y = 0; y < rows; ++y) dst->put(dx + last, dy + y, src->get(sx + last, sy + y));
    }
    return;
  }

  // Any other pair of depths, or a port onto itself: through a copy, so overlapping rectangles stay whole.
  std::vector<Ycc> buffer(static_cast<std::size_t>(cols) * rows);
  for (int y = 0; y < rows; ++y) {
    for (int x = 0; x < cols; ++x) buffer[static_cast<std::size_t>(y) * cols + x] = src->get(sx + x, sy + y);
  }
  for (int y = 0; y < rows; ++y) {
    for (int x = 0; x < cols; ++x) dst->put(dx + x, dy + y, buffer[static_cast<std::size_t>(y) * cols + x]);
  }
}

}  // namespace sim
