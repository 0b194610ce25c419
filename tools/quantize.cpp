// Four colours for a picture file: the palette words and an index per pixel,
// from an image of any number of colours.
#include "tools/quantize.h"

#include <algorithm>
#include <cstring>

namespace {

uint32_t PackRgb(const uint8_t* p) {
  return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
}
int Channel(uint32_t rgb, int c) {
  return static_cast<int>((rgb >> (16 - 8 * c)) & 0xFF);
}

struct ColourCount {
  uint32_t rgb;
  uint64_t count;
};

// Median cut: the box whose widest channel spans most is split at the
// weighted median of that channel until there are `wanted` boxes or none
// can be split; each box's colour is its weighted mean.
std::vector<uint32_t> MedianCut(std::vector<ColourCount> colours, size_t wanted) {
  struct Box {
    size_t begin, end;
  };
  auto widest = [&](const Box& box, int* channel) {
    int best_span = -1;
    for (int c = 0; c < 3; ++c) {
      int lo = 255, hi = 0;
      for (size_t i = box.begin; i < box.end; ++i) {
        lo = std::min(lo, Channel(colours[i].rgb, c));
        hi = std::max(hi, Channel(colours[i].rgb, c));
      }
      if (hi - lo > best_span) {
        best_span = hi - lo;
        *channel = c;
      }
    }
    return best_span;
  };
  std::vector<Box> boxes = {{0, colours.size()}};
  while (boxes.size() < wanted) {
    size_t chosen = boxes.size();
    int chosen_channel = 0, chosen_span = 0;
    for (size_t b = 0; b < boxes.size(); ++b) {
      if (boxes[b].end - boxes[b].begin < 2) continue;
      int channel = 0;
      const int span = widest(boxes[b], &channel);
      if (span > chosen_span) {
        chosen = b;
        chosen_span = span;
        chosen_channel = channel;
      }
    }
    if (chosen == boxes.size()) break;
    Box box = boxes[chosen];
    std::sort(colours.begin() + box.begin, colours.begin() + box.end,
              [&](const ColourCount& a, const ColourCount& b) {
                const int ca = Channel(a.rgb, chosen_channel), cb = Channel(b.rgb, chosen_channel);
                return ca != cb ? ca < cb : a.rgb < b.rgb;
              });
    uint64_t total = 0;
    for (size_t i = box.begin; i < box.end; ++i) total += colours[i].count;
    uint64_t running = 0;
    size_t split = box.begin + 1;
    for (size_t i = box.begin; i + 1 < box.end; ++i) {
      running += colours[i].count;
      split = i + 1;
      if (2 * running >= total) break;
    }
    boxes[chosen] = {box.begin, split};
    boxes.push_back({split, box.end});
  }
  std::vector<uint32_t> result;
  for (const Box& box : boxes) {
    uint64_t sum[3] = {0, 0, 0}, total = 0;
    for (size_t i = box.begin; i < box.end; ++i) {
      for (int c = 0; c < 3; ++c) sum[c] += uint64_t(Channel(colours[i].rgb, c)) * colours[i].count;
      total += colours[i].count;
    }
    uint32_t rgb = 0;
    for (int c = 0; c < 3; ++c)
      rgb |= static_cast<uint32_t>((sum[c] + total / 2) / total) << (16 - 8 * c);
    result.push_back(rgb);
  }
  return result;
}

}  // namespace

uint16_t RgbToGrbi(uint8_t r, uint8_t g, uint8_t b) {
  auto narrow = [](unsigned v) { return (v * 31 + 127) / 255; };
  return static_cast<uint16_t>((narrow(g) << 11) | (narrow(r) << 6) | (narrow(b) << 1));
}

void ReduceColours(const Image& png, std::vector<uint8_t>* indices, uint16_t palette[4]) {
  const size_t pixels = size_t{png.width} * png.height;
  std::vector<uint32_t> opaque;
  opaque.reserve(pixels);
  bool any_transparent = false;
  for (size_t i = 0; i < pixels; ++i) {
    if (png.rgba[4 * i + 3] < 128)
      any_transparent = true;
    else
      opaque.push_back(PackRgb(&png.rgba[4 * i]));
  }
  std::sort(opaque.begin(), opaque.end());
  std::vector<ColourCount> distinct;
  for (uint32_t rgb : opaque) {
    if (!distinct.empty() && distinct.back().rgb == rgb)
      ++distinct.back().count;
    else
      distinct.push_back({rgb, 1});
  }
  const size_t first = any_transparent ? 1 : 0;
  std::vector<uint32_t> colours;
  if (!distinct.empty()) colours = MedianCut(distinct, 4 - first);

  // Nearest colour for each distinct colour, then pixel counts per colour.
  std::vector<uint8_t> nearest(distinct.size());
  std::vector<uint64_t> used(colours.size(), 0);
  for (size_t d = 0; d < distinct.size(); ++d) {
    int best = 0;
    long best_distance = -1;
    for (size_t k = 0; k < colours.size(); ++k) {
      long distance = 0;
      for (int c = 0; c < 3; ++c) {
        const long delta = Channel(distinct[d].rgb, c) - Channel(colours[k], c);
        distance += delta * delta;
      }
      if (best_distance < 0 || distance < best_distance) {
        best_distance = distance;
        best = static_cast<int>(k);
      }
    }
    nearest[d] = static_cast<uint8_t>(best);
    used[best] += distinct[d].count;
  }
  std::vector<size_t> order(colours.size());
  for (size_t k = 0; k < order.size(); ++k) order[k] = k;
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return used[a] != used[b] ? used[a] > used[b] : colours[a] < colours[b];
  });
  std::vector<uint8_t> slot(colours.size());
  for (int k = 0; k < 4; ++k) palette[k] = 0;
  for (size_t rank = 0; rank < order.size(); ++rank) {
    slot[order[rank]] = static_cast<uint8_t>(first + rank);
    const uint32_t rgb = colours[order[rank]];
    palette[first + rank] = RgbToGrbi(static_cast<uint8_t>(rgb >> 16),
                                      static_cast<uint8_t>(rgb >> 8), static_cast<uint8_t>(rgb));
  }
  indices->assign(pixels, 0);
  for (size_t i = 0; i < pixels; ++i) {
    if (png.rgba[4 * i + 3] < 128) continue;
    const uint32_t rgb = PackRgb(&png.rgba[4 * i]);
    const size_t d = static_cast<size_t>(
        std::lower_bound(distinct.begin(), distinct.end(), rgb,
                         [](const ColourCount& c, uint32_t value) { return c.rgb < value; }) -
        distinct.begin());
    (*indices)[i] = slot[nearest[d]];
  }
}

int KeepPaletteIndices(const Image& png, std::vector<uint8_t>* indices, uint16_t palette[4]) {
  if (!png.indexed) return 0;
  bool used[4] = {false, false, false, false};
  for (uint8_t index : png.indices) {
    if (index > 3) return 0;
    used[index] = true;
  }
  const size_t entries = png.palette_rgba.size() / 4;
  for (int k = 0; k < 4; ++k) {
    palette[k] = 0;
    if (static_cast<size_t>(k) >= entries) continue;
    const uint8_t* e = &png.palette_rgba[4 * k];
    if (e[3] < 128) {
      if (k != 0 && used[k]) return 0;
      continue;  // a see-through index 0 is black
    }
    palette[k] = RgbToGrbi(e[0], e[1], e[2]);
  }
  *indices = png.indices;
  return 1;
}

