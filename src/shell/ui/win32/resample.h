// Pictures at another size than they were drawn: area averaging, in which each
// pixel of the result is the mean of the source area it covers, every source pixel
// weighted by how much of it lies inside. It keeps a flat colour flat and a thin
// line visible, in either direction.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace picture {

// 32-bit pixels, 0xAARRGGBB, rows from the top.
struct TPixels {
  int Width = 0, Height = 0;
  std::vector<uint32_t> Data;
};

namespace detail {

struct TWeight {
  size_t Index;
  double Part;
};

// The source pixels each of `to` pixels covers along an axis of `from` pixels. In
// units where a source pixel is `to` long and a result pixel `from` long, the
// overlaps are whole numbers and add up to `from` for every result pixel.
inline std::vector<std::vector<TWeight>> Coverage(size_t from, size_t to) {
  std::vector<std::vector<TWeight>> result(to);
  for (size_t j = 0; j < to; ++j) {
    const size_t start = j * from, end = start + from;
    for (size_t i = start / to; i < from && i * to < end; ++i) {
      const size_t overlap = std::min(end, (i + 1) * to) - std::max(start, i * to);
      result[j].push_back({i, static_cast<double>(overlap) / static_cast<double>(from)});
    }
  }
  return result;
}

}  // namespace detail

inline TPixels Resample(const TPixels& source, int width, int height) {
  TPixels out{std::max(width, 0), std::max(height, 0), {}};
  const size_t sw = static_cast<size_t>(std::max(source.Width, 0)),
               sh = static_cast<size_t>(std::max(source.Height, 0));
  const size_t w = static_cast<size_t>(out.Width), h = static_cast<size_t>(out.Height);
  out.Data.resize(w * h);
  if (w == 0 || h == 0 || sw == 0 || sh == 0 || source.Data.size() < sw * sh) return out;
  const auto across = detail::Coverage(sw, w);
  const auto down = detail::Coverage(sh, h);
  // Across first: four channels for each result column of every source row.
  std::vector<double> rows(w * sh * 4);
  for (size_t y = 0; y < sh; ++y)
    for (size_t x = 0; x < w; ++x)
      for (const detail::TWeight& part : across[x]) {
        const uint32_t p = source.Data[y * sw + part.Index];
        for (size_t c = 0; c < 4; ++c) rows[(y * w + x) * 4 + c] += part.Part * ((p >> (8 * c)) & 0xFF);
      }
  for (size_t y = 0; y < h; ++y)
    for (size_t x = 0; x < w; ++x) {
      uint32_t p = 0;
      for (size_t c = 0; c < 4; ++c) {
        double sum = 0;
        for (const detail::TWeight& part : down[y]) sum += part.Part * rows[(part.Index * w + x) * 4 + c];
        p |= static_cast<uint32_t>(std::clamp(sum + 0.5, 0.0, 255.0)) << (8 * c);
      }
      out.Data[y * w + x] = p;
    }
  return out;
}

}  // namespace picture
