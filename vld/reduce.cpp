// Four colours for a picture file, and each pixel's index among them.
// Colours are chosen among the ones a palette word can hold (5 bits a
// channel), by the error the viewer will show. The pixels are counted once
// into a table of the 32,768 words, each entry keeping how many pixels fell
// in it and their exact sum, so the palette is searched over that table (the
// cost hardly grows with the picture) while the error stays the pixels' own.
// Each pixel is then mapped from its full 8-bit value. Everything is integer
// arithmetic with a fixed sequence of pseudo-random numbers, so every build
// (native, Windows, WebAssembly) gives the same bytes.
#include "vld/reduce.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "vld/decode.h"

namespace {

constexpr uint32_t kKeys = 1 << 15;
constexpr int kOne = 16;  // colours are held in sixteenths of an 8-bit step

// The 5-bit level nearest an 8-bit value; a pixel's key is its three levels.
int Narrow(int v) {
  return (v * 31 + 127) / 255;
}
uint32_t KeyOf(const uint8_t* p) {
  return uint32_t(Narrow(p[1]) << 10) | uint32_t(Narrow(p[0]) << 5) | uint32_t(Narrow(p[2]));
}

struct Colour {
  int c[3];  // r, g, b in sixteenths
};

// The 8-bit value a 5-bit level shows as (as the viewer widens it).
int Widen(int level) {
  return GrbiToRgb(static_cast<uint16_t>(level << 1)).b;
}
constexpr int kShift[3] = {6, 11, 1};  // r, g, b within a word

Colour ColourOfWord(uint16_t word) {
  const Rgb rgb = GrbiToRgb(word);
  return Colour{{rgb.r * kOne, rgb.g * kOne, rgb.b * kOne}};
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

// The pixels of one table entry: their mean and how many.
struct Weighted {
  Colour colour;
  uint64_t count;
};

uint64_t Cost(const Weighted& w, const Colour* palette, int count) {
  return w.count * uint64_t(Distance(w.colour, palette[Nearest(w.colour, palette, 0, count)]));
}

uint64_t TotalError(const std::vector<Weighted>& colours, const Colour* palette, int count) {
  uint64_t sum = 0;
  for (const Weighted& w : colours) sum += Cost(w, palette, count);
  return sum;
}

// The colour whose pixels cost most where they are now.
Colour CostliestColour(const std::vector<Weighted>& colours, const Colour* palette, int count) {
  uint64_t worst = 0;
  Colour found = palette[0];
  for (const Weighted& w : colours) {
    const uint64_t cost = Cost(w, palette, count);
    if (cost > worst) {
      worst = cost;
      found = w.colour;
    }
  }
  return found;
}

// Each colour's pixels summed into the entry nearest it.
struct Sums {
  uint64_t sum[4][3] = {};
  uint64_t weight[4] = {};
};

Sums Assign(const std::vector<Weighted>& colours, const Colour* palette, int count) {
  Sums s;
  for (const Weighted& w : colours) {
    const int k = Nearest(w.colour, palette, 0, count);
    s.weight[k] += w.count;
    for (int c = 0; c < 3; ++c) s.sum[k][c] += w.count * uint64_t(w.colour.c[c]);
  }
  return s;
}

Colour MeanOf(const Sums& s, int k) {
  Colour mean;
  for (int c = 0; c < 3; ++c)
    mean.c[c] = static_cast<int>((s.sum[k][c] + s.weight[k] / 2) / s.weight[k]);
  return mean;
}

// Lloyd's refinement: each colour goes to its nearest entry, each entry
// moves to the mean of its colours, until nothing moves. An entry left
// with no colours takes the colour that costs most where it is.
void Refine(const std::vector<Weighted>& colours, Colour* palette, int count, int rounds) {
  for (int round = 0; round < rounds; ++round) {
    const Sums s = Assign(colours, palette, count);
    bool moved = false;
    for (int k = 0; k < count; ++k) {
      const Colour next =
          s.weight[k] == 0 ? CostliestColour(colours, palette, count) : MeanOf(s, k);
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
        const uint64_t v = uint64_t(colours[i].colour.c[c] / kOne);
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
// This is what keeps a small but distant colour (text, a line) in view.
void FarthestSeeds(const std::vector<Weighted>& colours, Colour* palette, int count) {
  size_t first = 0;
  for (size_t i = 1; i < colours.size(); ++i)
    if (colours[i].count > colours[first].count) first = i;
  palette[0] = colours[first].colour;
  for (int k = 1; k < count; ++k) palette[k] = CostliestColour(colours, palette, k);
}

// A fixed sequence of pseudo-random numbers (a 64-bit LCG's high bits).
uint64_t NextRandom(uint64_t* state) {
  *state = *state * 6364136223846793005ull + 1442695040888963407ull;
  return *state >> 16;
}

// k-means++ seeds: each seed drawn with a chance in proportion to its
// pixels' cost where the seeds so far would put them.
void RandomSeeds(const std::vector<Weighted>& colours, Colour* palette, int count,
                 uint64_t* state) {
  uint64_t total = 0;
  for (const Weighted& w : colours) total += w.count;
  uint64_t pick = NextRandom(state) % total;
  for (const Weighted& w : colours) {
    if (pick < w.count) {
      palette[0] = w.colour;
      break;
    }
    pick -= w.count;
  }
  for (int k = 1; k < count; ++k) {
    total = TotalError(colours, palette, k);
    if (total == 0) {
      palette[k] = palette[0];
      continue;
    }
    pick = NextRandom(state) % total;
    for (const Weighted& w : colours) {
      const uint64_t cost = Cost(w, palette, k);
      if (pick < cost) {
        palette[k] = w.colour;
        break;
      }
      pick -= cost;
    }
  }
}

// The word nearest a colour; the squared error is the sum over channels, so
// each channel takes the level nearest its own mean.
uint16_t WordOf(const Colour& colour) {
  uint16_t word = 0;
  for (int c = 0; c < 3; ++c) {
    int best = 0;
    for (int v = 1; v < 32; ++v)
      if (std::abs(Widen(v) * kOne - colour.c[c]) < std::abs(Widen(best) * kOne - colour.c[c]))
        best = v;
    word = static_cast<uint16_t>(word | (best << kShift[c]));
  }
  return word;
}

// Each colour's distance to its nearest entry and to the nearest of the
// others, so the error with one entry moved costs one distance a colour.
struct Nearness {
  std::vector<int> entry, first, second;

  void Measure(const std::vector<Weighted>& colours, const Colour* palette, int count) {
    entry.resize(colours.size());
    first.resize(colours.size());
    second.resize(colours.size());
    for (size_t i = 0; i < colours.size(); ++i) {
      int best = -1, d1 = 0, d2 = -1;
      for (int k = 0; k < count; ++k) {
        const int d = Distance(colours[i].colour, palette[k]);
        if (best < 0 || d < d1) {
          d2 = best < 0 ? d2 : d1;
          best = k, d1 = d;
        } else if (d2 < 0 || d < d2) {
          d2 = d;
        }
      }
      entry[i] = best, first[i] = d1, second[i] = d2;
    }
  }

  // The total error with entry k at `moved` instead.
  uint64_t ErrorWith(const std::vector<Weighted>& colours, int k, const Colour& moved) const {
    uint64_t sum = 0;
    for (size_t i = 0; i < colours.size(); ++i) {
      const int d = Distance(colours[i].colour, moved);
      const int others = entry[i] == k ? second[i] : first[i];
      sum += colours[i].count * uint64_t(others < 0 || d < others ? d : others);
    }
    return sum;
  }
};

// A palette of words made as good as single steps can: discrete Lloyd
// passes (each entry to the word nearest the mean of the colours it holds),
// then each level of each entry moved up or down by one while that lowers
// the error, until neither helps. Returns the error.
uint64_t Polish(const std::vector<Weighted>& colours, uint16_t* words, int count) {
  Colour palette[4];
  for (int k = 0; k < count; ++k) palette[k] = ColourOfWord(words[k]);
  uint64_t best = TotalError(colours, palette, count);
  Nearness nearness;
  for (bool improved = true; improved;) {
    improved = false;
    for (int round = 0; round < 20; ++round) {
      const Sums s = Assign(colours, palette, count);
      Colour trial[4];
      std::copy(palette, palette + count, trial);
      for (int k = 0; k < count; ++k)
        if (s.weight[k] != 0) trial[k] = ColourOfWord(WordOf(MeanOf(s, k)));
      const uint64_t error = TotalError(colours, trial, count);
      if (error >= best) break;
      std::copy(trial, trial + count, palette);
      best = error;
      improved = true;
    }
    nearness.Measure(colours, palette, count);
    for (int k = 0; k < count; ++k)
      for (int step = 0; step < 6; ++step) {
        const uint16_t word = WordOf(palette[k]);
        const int shift = kShift[step / 2];
        const int next = ((word >> shift) & 31) + (step % 2 ? 1 : -1);
        if (next < 0 || next > 31) continue;
        const Colour moved =
            ColourOfWord(static_cast<uint16_t>((word & ~(31 << shift)) | (next << shift)));
        const uint64_t error = nearness.ErrorWith(colours, k, moved);
        if (error < best) {
          palette[k] = moved;
          best = error;
          improved = true;
          nearness.Measure(colours, palette, count);
        }
      }
  }
  for (int k = 0; k < count; ++k) words[k] = WordOf(palette[k]);
  return best;
}

// Chooses up to `wanted` words for the counted opaque colours; returns how
// many (fewer when the picture has fewer colours).
int ChooseWords(const std::vector<Weighted>& colours, int wanted, uint16_t* words) {
  if (colours.empty()) return 0;
  if (static_cast<int>(colours.size()) <= wanted) {
    for (size_t i = 0; i < colours.size(); ++i) words[i] = WordOf(colours[i].colour);
    return static_cast<int>(colours.size());
  }
  // Starts of three kinds, each refined: median cut, the farthest colours
  // (which hold a small distinct colour), and k-means++ draws. A start that
  // keeps a small colour competes on its error like any other, so the small
  // colour gives way where it costs more than it keeps. The best few go on
  // to the words, where they are polished and the best wins.
  struct Start {
    Colour palette[4];
    uint64_t error;
  };
  std::vector<Start> starts;
  auto add = [&](const Colour* palette, int rounds) {
    Start s;
    std::copy(palette, palette + wanted, s.palette);
    Refine(colours, s.palette, wanted, rounds);
    s.error = TotalError(colours, s.palette, wanted);
    starts.push_back(s);
  };
  Colour seeds[4];
  MedianCut(colours, seeds, wanted);
  add(seeds, 40);
  FarthestSeeds(colours, seeds, wanted);
  add(seeds, 40);
  // The k-means++ draws stop after a few rounds: Lloyd's last rounds move
  // little, and the best starts go on to be polished, which continues them.
  uint64_t state = 0x5EED;
  for (int draw = 0; draw < 8; ++draw) {
    RandomSeeds(colours, seeds, wanted, &state);
    add(seeds, 8);
  }
  // Each entry of the best in turn moved to the colour that costs most,
  // which gets out of the minima where two entries share one cluster.
  const auto by_error = [](const Start& a, const Start& b) { return a.error < b.error; };
  std::stable_sort(starts.begin(), starts.end(), by_error);
  const Start leader = starts[0];
  for (int k = 0; k < wanted; ++k) {
    Colour trial[4];
    std::copy(leader.palette, leader.palette + wanted, trial);
    trial[k] = CostliestColour(colours, leader.palette, wanted);
    add(trial, 40);
  }
  std::stable_sort(starts.begin(), starts.end(), by_error);
  uint64_t best_error = 0;
  int polished = 0;
  for (size_t i = 0; i < starts.size() && polished < 4; ++i) {
    uint16_t trial[4];
    for (int k = 0; k < wanted; ++k) trial[k] = WordOf(starts[i].palette[k]);
    bool seen = false;  // the same words from another start
    for (size_t j = 0; j < i; ++j) {
      bool same = true;
      for (int k = 0; k < wanted; ++k) same = same && WordOf(starts[j].palette[k]) == trial[k];
      seen = seen || same;
    }
    if (seen) continue;
    const uint64_t error = Polish(colours, trial, wanted);
    if (polished++ == 0 || error < best_error) {
      best_error = error;
      std::copy(trial, trial + wanted, words);
    }
  }
  return wanted;
}

// A 4x4 Bayer matrix, thresholds 0-15.
constexpr int kBayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

int Clamp(int v) {
  return std::min(255, std::max(0, v));
}

// The nearest of `count` 8-bit colours from `first` on.
int Nearest8(const int* rgb, const int (*palette)[3], int first, int count) {
  int best = first, best_distance = -1;
  for (int k = first; k < first + count; ++k) {
    int d = 0;
    for (int c = 0; c < 3; ++c) d += (rgb[c] - palette[k][c]) * (rgb[c] - palette[k][c]);
    if (best_distance < 0 || d < best_distance) {
      best_distance = d;
      best = k;
    }
  }
  return best;
}

}  // namespace

uint16_t RgbToGrbi(uint8_t r, uint8_t g, uint8_t b) {
  const uint8_t p[3] = {r, g, b};
  return static_cast<uint16_t>(KeyOf(p) << 1);
}

void ReduceRgba(const RgbaRows& rows, uint32_t width, uint32_t height,
                const vld_reduce_options& options, uint8_t* indices, uint16_t palette[4]) {
  const bool given = options.palette_given != 0;
  std::vector<uint8_t> row(4 * size_t{width});

  // One pass counts the pixels into the table of words.
  struct Bin {
    uint64_t count, sum[3];
  };
  std::vector<Bin> bins(given ? 0 : kKeys, Bin{0, {0, 0, 0}});
  uint64_t transparent = 0;
  for (uint32_t y = 0; y < height; ++y) {
    rows.read(rows.user, y, row.data());
    const uint8_t* p = row.data();
    for (uint32_t x = 0; x < width; ++x, p += 4) {
      if (p[3] < 128) {
        ++transparent;
      } else if (!given) {
        Bin& bin = bins[KeyOf(p)];
        ++bin.count;
        for (int c = 0; c < 3; ++c) bin.sum[c] += p[c];
      }
    }
  }

  // The palette: index 0 is kept for see-through pixels when there are any.
  const int first = transparent != 0 ? 1 : 0;
  uint16_t words[4] = {0, 0, 0, 0};
  int chosen = 0;
  if (given) {
    std::memcpy(words, options.palette, sizeof words);
  } else {
    std::vector<Weighted> colours;
    for (const Bin& bin : bins) {
      if (bin.count == 0) continue;
      Weighted w;
      w.count = bin.count;
      for (int c = 0; c < 3; ++c)
        w.colour.c[c] = static_cast<int>((bin.sum[c] * kOne + bin.count / 2) / bin.count);
      colours.push_back(w);
    }
    std::vector<Bin>().swap(bins);
    chosen = ChooseWords(colours, 4 - first, words + first);
  }
  int colours[4][3];
  for (int k = 0; k < 4; ++k) {
    const Rgb rgb = GrbiToRgb(words[k]);
    colours[k][0] = rgb.r;
    colours[k][1] = rgb.g;
    colours[k][2] = rgb.b;
  }
  const int choices = given ? 4 - first : std::max(chosen, 1);

  // The entry nearest every pixel of a key's box, where one entry is: the
  // box's corners settle it, as the set of colours nearest an entry is
  // convex. Other keys (kMixed) are settled pixel by pixel. Each key is
  // looked at when a pixel first needs it.
  constexpr uint8_t kUnknown = 0xFE, kMixed = 0xFF;
  int low[32], high[32];
  for (int v = 0, level = 0; v < 256; ++v) {
    if (v == 0 || Narrow(v) != level) low[level = Narrow(v)] = v;
    high[level] = v;
  }
  std::vector<uint8_t> nearest(kKeys, kUnknown);
  auto settle = [&](uint32_t key) {
    const int level[3] = {int(key >> 5) & 31, int(key >> 10), int(key) & 31};
    int found = -1;
    for (int corner = 0; corner < 8 && found != kMixed; ++corner) {
      int rgb[3];
      for (int c = 0; c < 3; ++c) rgb[c] = (corner >> c & 1 ? high : low)[level[c]];
      const int k = Nearest8(rgb, colours, first, choices);
      found = found < 0 || found == k ? k : kMixed;
    }
    return nearest[key] = static_cast<uint8_t>(found);
  };

  // Ordered dither spreads each pixel by up to half the gap between the
  // closest two distinct entries, so flat areas of an entry's own colour
  // stay flat.
  int spread = 255;
  for (int a = first; a < first + choices; ++a)
    for (int b = a + 1; b < first + choices; ++b) {
      int gap = 0;
      for (int c = 0; c < 3; ++c) gap = std::max(gap, std::abs(colours[a][c] - colours[b][c]));
      if (gap > 0) spread = std::min(spread, gap);
    }

  // Floyd-Steinberg error, in sixteenths, for this row and the next.
  const int dither = choices < 2 ? VLD_DITHER_NONE : options.dither;
  std::vector<int> error_here, error_next;
  if (dither == VLD_DITHER_FLOYD_STEINBERG) {
    error_here.assign(3 * (size_t{width} + 2), 0);
    error_next.assign(3 * (size_t{width} + 2), 0);
  }
  uint64_t used[4] = {0, 0, 0, 0};
  for (uint32_t y = 0; y < height; ++y) {
    rows.read(rows.user, y, row.data());
    uint8_t* out = indices + size_t{y} * width;
    const uint8_t* p = row.data();
    for (uint32_t x = 0; x < width; ++x, p += 4) {
      int index = 0;
      int wanted[3] = {p[0], p[1], p[2]};
      if (p[3] < 128) {
        index = 0;
      } else if (dither == VLD_DITHER_ORDERED) {
        const int offset = (2 * kBayer[y & 3][x & 3] - 15) * spread / 32;
        for (int c = 0; c < 3; ++c) wanted[c] = Clamp(wanted[c] + offset);
        index = Nearest8(wanted, colours, first, choices);
      } else if (dither == VLD_DITHER_FLOYD_STEINBERG) {
        int* e = &error_here[3 * (size_t{x} + 1)];
        for (int c = 0; c < 3; ++c) wanted[c] = Clamp(wanted[c] + e[c] / 16);
        index = Nearest8(wanted, colours, first, choices);
        for (int c = 0; c < 3; ++c) {
          const int err = wanted[c] - colours[index][c];
          e[3 + c] += err * 7;
          error_next[3 * size_t{x} + c] += err * 3;
          error_next[3 * (size_t{x} + 1) + c] += err * 5;
          error_next[3 * (size_t{x} + 2) + c] += err;
        }
      } else {
        const uint32_t key = KeyOf(p);
        index = nearest[key] != kUnknown ? nearest[key] : settle(key);
        if (index == kMixed) index = Nearest8(wanted, colours, first, choices);
      }
      out[x] = static_cast<uint8_t>(index);
      ++used[index];
    }
    if (!error_here.empty()) {
      error_here.swap(error_next);
      std::fill(error_next.begin(), error_next.end(), 0);
    }
  }

  // The most used entries first; see-through pixels keep index 0, where an
  // opaque black would become see-through too, so it is 0x0001 instead.
  if (given) {
    std::memcpy(palette, words, sizeof words);
    return;
  }
  int order[4] = {0, 1, 2, 3};
  std::stable_sort(order + first, order + 4, [&](int a, int b) { return used[a] > used[b]; });
  uint8_t slot[4];
  for (int k = 0; k < 4; ++k) slot[order[k]] = static_cast<uint8_t>(k);
  const size_t pixels = size_t{width} * height;
  for (size_t i = 0; i < pixels; ++i) indices[i] = slot[indices[i]];
  for (int k = 0; k < 4; ++k) palette[k] = words[order[k]];
  if (first == 1) {
    palette[0] = 0x0000;
    for (int k = 1; k < 4; ++k)
      if (k - 1 < chosen && (palette[k] & 0xFFFE) == 0) palette[k] = 0x0001;
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
