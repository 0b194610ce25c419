// Four colours for a picture file. Colours are chosen among the ones a
// palette word can hold (5 bits a channel), by the error the viewer will
// show: every pixel is first narrowed to a 15-bit key, the keys are counted
// in one table, and the palette is refined over that table, never over the
// pixels themselves, so the cost hardly grows with the picture.
#include "vld/reduce.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "vld/decode.h"

namespace {

constexpr uint32_t kKeys = 1 << 15;

// The 8-bit level a 5-bit channel shows as (as GrbiToRgb widens it).
int Widen(int v) { return GrbiToRgb(static_cast<uint16_t>(v << 1)).b; }
uint16_t KeyOf(uint8_t r, uint8_t g, uint8_t b, uint8_t a) { return GrbiOfPixel(r, g, b, a); }

struct Colour {
  int c[3];  // r, g, b, 0-255
};

Colour ColourOfWord(uint16_t word) {
  const Rgb rgb = GrbiToRgb(word);
  return Colour{{rgb.r, rgb.g, rgb.b}};
}

int Distance(const Colour& a, const Colour& b) {
  int sum = 0;
  for (int c = 0; c < 3; ++c) sum += (a.c[c] - b.c[c]) * (a.c[c] - b.c[c]);
  return sum;
}

int Nearest(const Colour& colour, const Colour* palette, int first, int count) {
  int best = first, best_distance = -1;
  for (int k = first; k < first + count; ++k) {
    const int d = Distance(colour, palette[k]);
    if (best_distance < 0 || d < best_distance) {
      best_distance = d;
      best = k;
    }
  }
  return best;
}

// The keys of one row, whichever form the reader left the pixels in.
struct KeySource {
  const Image* image;
  uint16_t palette_keys[256];

  explicit KeySource(const Image* source) : image(source) {
    for (int k = 0; k < 256; ++k) {
      palette_keys[k] = 0;  // an index past the palette shows black
      const size_t at = 4 * size_t(k);
      if (at + 3 < image->palette_rgba.size()) {
        const uint8_t* e = &image->palette_rgba[at];
        palette_keys[k] = KeyOf(e[0], e[1], e[2], e[3]);
      }
    }
  }

  void Row(uint32_t y, uint16_t* keys) const {
    const uint32_t width = image->width;
    const size_t start = size_t{y} * width;
    if (!image->grbi.empty()) {
      const uint8_t* p = &image->grbi[2 * start];
      for (uint32_t x = 0; x < width; ++x, p += 2)
        keys[x] = static_cast<uint16_t>(p[0] | (p[1] << 8));
    } else if (!image->rgba.empty()) {
      const uint8_t* p = &image->rgba[4 * start];
      for (uint32_t x = 0; x < width; ++x, p += 4) keys[x] = KeyOf(p[0], p[1], p[2], p[3]);
    } else {
      const uint8_t* p = &image->indices[start];
      for (uint32_t x = 0; x < width; ++x) keys[x] = palette_keys[p[x]];
    }
  }
};

struct Weighted {
  Colour colour;
  uint64_t count;
};

// The colour whose pixels cost most where they are now.
Colour CostliestColour(const std::vector<Weighted>& colours, const Colour* palette, int count) {
  uint64_t worst = 0;
  Colour found = palette[0];
  for (const Weighted& w : colours) {
    const uint64_t cost =
        w.count * uint64_t(Distance(w.colour, palette[Nearest(w.colour, palette, 0, count)]));
    if (cost > worst) {
      worst = cost;
      found = w.colour;
    }
  }
  return found;
}

uint64_t TotalError(const std::vector<Weighted>& colours, const Colour* palette, int count) {
  uint64_t sum = 0;
  for (const Weighted& w : colours)
    sum += w.count * uint64_t(Distance(w.colour, palette[Nearest(w.colour, palette, 0, count)]));
  return sum;
}

// Lloyd's refinement: each colour goes to its nearest entry, each entry
// moves to the mean of its colours, until nothing moves. An entry left
// with no colours takes the colour that costs most where it is, which is
// what keeps a small but distant colour (text, a line) from being merged.
void Refine(const std::vector<Weighted>& colours, Colour* palette, int count) {
  for (int round = 0; round < 40; ++round) {
    uint64_t sum[4][3] = {}, weight[4] = {};
    for (const Weighted& w : colours) {
      const int k = Nearest(w.colour, palette, 0, count);
      weight[k] += w.count;
      for (int c = 0; c < 3; ++c) sum[k][c] += w.count * uint64_t(w.colour.c[c]);
    }
    bool moved = false;
    for (int k = 0; k < count; ++k) {
      Colour next = palette[k];
      if (weight[k] == 0) {
        next = CostliestColour(colours, palette, count);
      } else {
        for (int c = 0; c < 3; ++c)
          next.c[c] = static_cast<int>((sum[k][c] + weight[k] / 2) / weight[k]);
      }
      if (Distance(next, palette[k]) != 0) moved = true;
      palette[k] = next;
    }
    if (!moved) break;
  }
}

// Median cut over the counted colours: the box with the most squared spread
// along one channel is split at that channel's weighted median.
void MedianCut(std::vector<Weighted> colours, Colour* palette, int count) {
  struct Box {
    size_t begin, end;
  };
  std::vector<Box> boxes = {{0, colours.size()}};
  auto spread = [&](const Box& box, int* channel) {
    uint64_t best = 0;
    for (int c = 0; c < 3; ++c) {
      uint64_t weight = 0, sum = 0, squares = 0;
      for (size_t i = box.begin; i < box.end; ++i) {
        const uint64_t v = uint64_t(colours[i].colour.c[c]);
        weight += colours[i].count;
        sum += colours[i].count * v;
        squares += colours[i].count * v * v;
      }
      // Weighted variance times weight: the error a split can remove.
      const uint64_t value = weight == 0 ? 0 : squares - sum * sum / weight;
      if (value >= best) {
        best = value;
        *channel = c;
      }
    }
    return best;
  };
  while (static_cast<int>(boxes.size()) < count) {
    size_t chosen = boxes.size();
    int chosen_channel = 0;
    uint64_t chosen_spread = 0;
    for (size_t b = 0; b < boxes.size(); ++b) {
      if (boxes[b].end - boxes[b].begin < 2) continue;
      int channel = 0;
      const uint64_t s = spread(boxes[b], &channel);
      if (s > chosen_spread) {
        chosen = b;
        chosen_spread = s;
        chosen_channel = channel;
      }
    }
    if (chosen == boxes.size()) break;
    const Box box = boxes[chosen];
    // Ties broken by the whole colour: std::sort orders equal keys as each
    // standard library pleases, and the split would then fall differently
    // in the WebAssembly build than in the native one.
    std::sort(colours.begin() + box.begin, colours.begin() + box.end,
              [&](const Weighted& a, const Weighted& b) {
                const int c = chosen_channel;
                if (a.colour.c[c] != b.colour.c[c]) return a.colour.c[c] < b.colour.c[c];
                for (int k = 0; k < 3; ++k)
                  if (a.colour.c[k] != b.colour.c[k]) return a.colour.c[k] < b.colour.c[k];
                return a.count < b.count;
              });
    uint64_t total = 0, running = 0;
    for (size_t i = box.begin; i < box.end; ++i) total += colours[i].count;
    size_t split = box.begin + 1;
    for (size_t i = box.begin; i + 1 < box.end; ++i) {
      running += colours[i].count;
      split = i + 1;
      if (2 * running >= total) break;
    }
    boxes[chosen] = {box.begin, split};
    boxes.push_back({split, box.end});
  }
  for (size_t b = 0; b < boxes.size(); ++b) {
    uint64_t sum[3] = {0, 0, 0}, total = 0;
    for (size_t i = boxes[b].begin; i < boxes[b].end; ++i) {
      for (int c = 0; c < 3; ++c) sum[c] += colours[i].count * uint64_t(colours[i].colour.c[c]);
      total += colours[i].count;
    }
    for (int c = 0; c < 3; ++c) palette[b].c[c] = static_cast<int>((sum[c] + total / 2) / total);
  }
}

// Greedy seeds: the most frequent colour, then each time the colour whose
// pixels lie farthest (count times squared distance) from the seeds so far.
void FarthestSeeds(const std::vector<Weighted>& colours, Colour* palette, int count) {
  size_t first = 0;
  for (size_t i = 1; i < colours.size(); ++i)
    if (colours[i].count > colours[first].count) first = i;
  palette[0] = colours[first].colour;
  for (int k = 1; k < count; ++k) palette[k] = CostliestColour(colours, palette, k);
}

// The word nearest a colour; the squared error is the sum over channels, so
// each channel takes the level nearest its own mean.
uint16_t WordOf(const Colour& colour) {
  int level[3];
  for (int c = 0; c < 3; ++c) {
    int best = 0;
    for (int v = 1; v < 32; ++v)
      if (std::abs(Widen(v) - colour.c[c]) < std::abs(Widen(best) - colour.c[c])) best = v;
    level[c] = best;
  }
  return static_cast<uint16_t>((level[1] << 11) | (level[0] << 6) | (level[2] << 1));
}

// Chooses up to `wanted` words for the counted opaque colours; returns how
// many (fewer when the picture has fewer colours).
int ChooseWords(const std::vector<uint64_t>& counts, int wanted, uint16_t* words) {
  std::vector<Weighted> colours;
  for (uint32_t key = 0; key < kKeys; ++key)
    if (counts[key] != 0)
      colours.push_back({ColourOfWord(static_cast<uint16_t>(key << 1)), counts[key]});
  if (colours.empty()) return 0;
  if (static_cast<int>(colours.size()) <= wanted) {
    for (size_t i = 0; i < colours.size(); ++i) words[i] = WordOf(colours[i].colour);
    return static_cast<int>(colours.size());
  }
  // Two starts, refined alike; the one with less error wins. Then each entry
  // in turn is moved to the colour that costs most and refined again, which
  // gets out of the local minima where two entries share one cluster.
  Colour best[4], seeded[4];
  MedianCut(colours, best, wanted);
  Refine(colours, best, wanted);
  FarthestSeeds(colours, seeded, wanted);
  Refine(colours, seeded, wanted);
  uint64_t best_error = TotalError(colours, best, wanted);
  const uint64_t seeded_error = TotalError(colours, seeded, wanted);
  if (seeded_error < best_error) {
    std::copy(seeded, seeded + wanted, best);
    best_error = seeded_error;
  }
  for (int k = 0; k < wanted; ++k) {
    Colour trial[4];
    std::copy(best, best + wanted, trial);
    trial[k] = CostliestColour(colours, best, wanted);
    Refine(colours, trial, wanted);
    const uint64_t error = TotalError(colours, trial, wanted);
    if (error < best_error) {
      std::copy(trial, trial + wanted, best);
      best_error = error;
    }
  }
  // The means rounded to words, then each word nudged a level at a time
  // while that lowers the error the viewer will show.
  for (int k = 0; k < wanted; ++k) best[k] = ColourOfWord(WordOf(best[k]));
  best_error = TotalError(colours, best, wanted);
  for (bool improved = true; improved;) {
    improved = false;
    for (int k = 0; k < wanted; ++k)
      for (int step = 0; step < 6; ++step) {
        const int shift[3] = {6, 11, 1};  // r, g, b in a word
        const uint16_t word = WordOf(best[k]);
        const int level = (word >> shift[step / 2]) & 31;
        const int next = level + (step % 2 ? 1 : -1);
        if (next < 0 || next > 31) continue;
        Colour trial[4];
        std::copy(best, best + wanted, trial);
        trial[k] = ColourOfWord(static_cast<uint16_t>((word & ~(31 << shift[step / 2])) |
                                                      (next << shift[step / 2])));
        const uint64_t error = TotalError(colours, trial, wanted);
        if (error < best_error) {
          std::copy(trial, trial + wanted, best);
          best_error = error;
          improved = true;
        }
      }
  }
  for (int k = 0; k < wanted; ++k) words[k] = WordOf(best[k]);
  return wanted;
}

// A 4x4 Bayer matrix, thresholds 0-15.
constexpr int kBayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

}  // namespace

uint16_t RgbToGrbi(uint8_t r, uint8_t g, uint8_t b) { return KeyOf(r, g, b, 255); }

void ReduceColours(Image* image, const ColourOptions& options, uint16_t palette[4]) {
  const uint32_t width = image->width, height = image->height;
  const size_t pixels = size_t{width} * height;
  const KeySource source(image);
  std::vector<uint16_t> keys(width);

  // One pass counts the keys.
  std::vector<uint64_t> counts(kKeys, 0);
  uint64_t transparent = 0;
  for (uint32_t y = 0; y < height; ++y) {
    source.Row(y, keys.data());
    for (uint32_t x = 0; x < width; ++x) {
      if (keys[x] & 1)
        ++transparent;
      else
        ++counts[keys[x] >> 1];
    }
  }

  // The palette: index 0 is kept for see-through pixels when there are any.
  const int first = transparent != 0 ? 1 : 0;
  uint16_t words[4] = {0, 0, 0, 0};
  int chosen = 0;
  if (options.palette_given) {
    std::memcpy(words, options.palette, sizeof words);
  } else {
    chosen = ChooseWords(counts, 4 - first, words + first);
  }
  Colour colours[4];
  for (int k = 0; k < 4; ++k) colours[k] = ColourOfWord(words[k]);
  const int choices = options.palette_given ? 4 - first : std::max(chosen, 1);

  // The nearest entry for every key, so undithered pixels cost one lookup.
  std::vector<uint8_t> nearest(kKeys);
  for (uint32_t key = 0; key < kKeys; ++key)
    nearest[key] = static_cast<uint8_t>(
        Nearest(ColourOfWord(static_cast<uint16_t>(key << 1)), colours, first, choices));

  // Ordered dither spreads each pixel by up to half the gap between the
  // closest two distinct entries, so flat areas of an entry's own colour
  // stay flat.
  int spread = 255;
  for (int a = first; a < first + choices; ++a)
    for (int b = a + 1; b < first + choices; ++b) {
      int gap = 0;
      for (int c = 0; c < 3; ++c) gap = std::max(gap, std::abs(colours[a].c[c] - colours[b].c[c]));
      if (gap > 0) spread = std::min(spread, gap);
    }

  // Indices are written over the pixels they come from: row y's indices end
  // before row y's pixels start in every form the pixels may take, and each
  // row is read in full before it is written.
  std::vector<uint8_t> out;
  uint8_t* target = nullptr;
  if (!image->grbi.empty()) {
    target = image->grbi.data();
  } else if (!image->rgba.empty()) {
    out.resize(pixels);
    target = out.data();
  } else {
    target = image->indices.data();
  }
  // Floyd-Steinberg error, in sixteenths, for this row and the next.
  std::vector<int> error_here, error_next;
  if (options.dither == kDitherFloydSteinberg) {
    error_here.assign(3 * (size_t{width} + 2), 0);
    error_next.assign(3 * (size_t{width} + 2), 0);
  }
  uint64_t used[4] = {0, 0, 0, 0};
  for (uint32_t y = 0; y < height; ++y) {
    source.Row(y, keys.data());
    uint8_t* row = target + size_t{y} * width;
    for (uint32_t x = 0; x < width; ++x) {
      const uint16_t key = keys[x];
      int index = 0;
      if (key & 1) {
        index = 0;
      } else if (options.dither == kDitherNone || choices < 2) {
        index = nearest[key >> 1];
      } else if (options.dither == kDitherOrdered) {
        Colour c = ColourOfWord(key);
        const int offset = (2 * kBayer[y & 3][x & 3] - 15) * spread / 32;
        for (int k = 0; k < 3; ++k) c.c[k] = std::min(255, std::max(0, c.c[k] + offset));
        index = Nearest(c, colours, first, choices);
      } else {
        const Colour original = ColourOfWord(key);
        Colour wanted = original;
        int* e = &error_here[3 * (size_t{x} + 1)];
        for (int k = 0; k < 3; ++k)
          wanted.c[k] = std::min(255, std::max(0, original.c[k] + e[k] / 16));
        index = Nearest(wanted, colours, first, choices);
        for (int k = 0; k < 3; ++k) {
          const int err = wanted.c[k] - colours[index].c[k];
          e[3 + k] += err * 7;
          error_next[3 * size_t{x} + k] += err * 3;
          error_next[3 * (size_t{x} + 1) + k] += err * 5;
          error_next[3 * (size_t{x} + 2) + k] += err;
        }
      }
      row[x] = static_cast<uint8_t>(index);
      ++used[index];
    }
    if (!error_here.empty()) {
      error_here.swap(error_next);
      std::fill(error_next.begin(), error_next.end(), 0);
    }
  }
  if (!image->grbi.empty()) {
    image->grbi.resize(pixels);
    image->indices.swap(image->grbi);
    std::vector<uint8_t>().swap(image->grbi);
  } else if (!image->rgba.empty()) {
    image->indices.swap(out);
    std::vector<uint8_t>().swap(image->rgba);
  }
  image->palette_rgba.clear();

  // The most used entries first; see-through pixels keep index 0, where an
  // opaque black would become see-through too, so it is 0x0001 instead.
  int order[4] = {0, 1, 2, 3};
  if (!options.palette_given) {
    std::stable_sort(order + first, order + 4, [&](int a, int b) { return used[a] > used[b]; });
    uint8_t slot[4];
    for (int k = 0; k < 4; ++k) slot[order[k]] = static_cast<uint8_t>(k);
    for (uint8_t& index : image->indices) index = slot[index];
    for (int k = 0; k < 4; ++k) palette[k] = words[order[k]];
    if (first == 1) {
      palette[0] = 0x0000;
      for (int k = 1; k < 4; ++k)
        if (k - 1 < chosen && (palette[k] & 0xFFFE) == 0) palette[k] = 0x0001;
    }
  } else {
    std::memcpy(palette, words, sizeof words);
  }
}

int KeepPaletteIndices(const Image& image, const uint16_t* known_words, uint16_t palette[4]) {
  if (!image.indexed || image.indices.size() != size_t{image.width} * image.height) return 0;
  bool used[4] = {false, false, false, false};
  for (uint8_t index : image.indices) {
    if (index > 3) return 0;
    used[index] = true;
  }
  const size_t entries = image.palette_rgba.size() / 4;
  uint16_t words[4] = {0, 0, 0, 0};
  for (int k = 0; k < 4; ++k) {
    if (static_cast<size_t>(k) >= entries) continue;
    const uint8_t* e = &image.palette_rgba[4 * k];
    // Only index 0 can be see-through in a picture file.
    if (e[3] < 128 && k != 0 && used[k]) return 0;
    words[k] = e[3] < 128 ? 0 : RgbToGrbi(e[0], e[1], e[2]);
    if (known_words != nullptr && (known_words[k] & 0xFFFE) == RgbToGrbi(e[0], e[1], e[2]))
      words[k] = known_words[k];
  }
  std::memcpy(palette, words, sizeof words);
  return 1;
}
