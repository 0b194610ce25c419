// The best four colours a search can find for an image, to measure the
// encoder's colour choice against: far more effort than an encoder can
// spend, over the exact 8-bit colours rather than the encoder's table.
//
// Usage: vld_best_found IN.rgba WIDTH HEIGHT OUT.rgb [RESTARTS] [SEED]
//
// IN.rgba holds WIDTH * HEIGHT RGBA pixels. Pixels with alpha below 128 are
// see-through; when there are any, index 0 is kept for them and the search
// has three colours. Steps: k-means++ seeds with RESTARTS restarts (default
// 1000), each refined by Lloyd's algorithm over the colours counted at 6
// bits a channel (their exact means); the best distinct results rounded to
// palette words; then over the exact colours, discrete Lloyd passes (each
// word to the word nearest its pixels' mean) and a local search that moves
// each level of each word up or down, one or two at a time, until neither
// helps. OUT.rgb receives every pixel mapped to the nearest word's colour;
// stdout the words and the squared error.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <unordered_map>
#include <vector>

#include "vld/vld.h"

namespace {

struct Point {
  double c[3];
  double weight;
};

struct Exact {
  int c[3];
  uint64_t count;
};

double Distance(const double* a, const double* b) {
  double sum = 0;
  for (int c = 0; c < 3; ++c) sum += (a[c] - b[c]) * (a[c] - b[c]);
  return sum;
}

// Lloyd's algorithm from the given centres; returns the error.
double Lloyd(const std::vector<Point>& points, int k, double (*centres)[3]) {
  double error = 0;
  for (int round = 0; round < 100; ++round) {
    double sum[4][3] = {}, weight[4] = {};
    error = 0;
    for (const Point& p : points) {
      int best = 0;
      double best_d = Distance(p.c, centres[0]);
      for (int j = 1; j < k; ++j) {
        const double d = Distance(p.c, centres[j]);
        if (d < best_d) best_d = d, best = j;
      }
      error += p.weight * best_d;
      weight[best] += p.weight;
      for (int c = 0; c < 3; ++c) sum[best][c] += p.weight * p.c[c];
    }
    double moved = 0;
    for (int j = 0; j < k; ++j) {
      if (weight[j] == 0) continue;
      for (int c = 0; c < 3; ++c) {
        const double next = sum[j][c] / weight[j];
        moved += std::abs(next - centres[j][c]);
        centres[j][c] = next;
      }
    }
    if (moved < 1e-6) break;
  }
  return error;
}

void KMeansPlusPlus(const std::vector<Point>& points, int k, std::mt19937_64* random,
                    double (*centres)[3]) {
  std::vector<double> cost(points.size());
  double total = 0;
  for (const Point& p : points) total += p.weight;
  for (int j = 0; j < k; ++j) {
    double pick = std::uniform_real_distribution<double>(0, total)(*random);
    size_t chosen = points.size() - 1;
    for (size_t i = 0; i < points.size(); ++i) {
      const double w = j == 0 ? points[i].weight : cost[i];
      if (pick < w) {
        chosen = i;
        break;
      }
      pick -= w;
    }
    for (int c = 0; c < 3; ++c) centres[j][c] = points[chosen].c[c];
    total = 0;
    for (size_t i = 0; i < points.size(); ++i) {
      double best = Distance(points[i].c, centres[0]);
      for (int m = 1; m <= j; ++m) best = std::min(best, Distance(points[i].c, centres[m]));
      cost[i] = points[i].weight * best;
      total += cost[i];
    }
    if (total == 0) total = 1;
  }
}

// A palette word's levels (r, g, b, 0-31) and the 8-bit colour it shows.
struct Word {
  int level[3];
};

uint16_t WordBits(const Word& w) {
  return static_cast<uint16_t>((w.level[1] << 11) | (w.level[0] << 6) | (w.level[2] << 1));
}

void Shows(const Word& w, int* rgb) {
  uint8_t v[3];
  vld_rgb(WordBits(w), v);
  for (int c = 0; c < 3; ++c) rgb[c] = v[c];
}

int NearestLevel(double value) {
  int best = 0;
  for (int level = 1; level < 32; ++level) {
    const Word a{{level, 0, 0}}, b{{best, 0, 0}};
    int ra[3], rb[3];
    Shows(a, ra);
    Shows(b, rb);
    if (std::abs(ra[0] - value) < std::abs(rb[0] - value)) best = level;
  }
  return best;
}

int NearestOf(const int* colour, const int (*shown)[3], int k) {
  int best = 0;
  long best_d = -1;
  for (int j = 0; j < k; ++j) {
    long d = 0;
    for (int c = 0; c < 3; ++c) d += long(colour[c] - shown[j][c]) * (colour[c] - shown[j][c]);
    if (best_d < 0 || d < best_d) best_d = d, best = j;
  }
  return best;
}

uint64_t ExactError(const std::vector<Exact>& colours, const Word* words, int k) {
  int shown[4][3];
  for (int j = 0; j < k; ++j) Shows(words[j], shown[j]);
  uint64_t sum = 0;
  for (const Exact& e : colours) {
    const int j = NearestOf(e.c, shown, k);
    uint64_t d = 0;
    for (int c = 0; c < 3; ++c) d += uint64_t((e.c[c] - shown[j][c]) * (e.c[c] - shown[j][c]));
    sum += e.count * d;
  }
  return sum;
}

// Discrete Lloyd passes and single and double level steps until neither
// lowers the exact error.
uint64_t Polish(const std::vector<Exact>& colours, Word* words, int k) {
  uint64_t best = ExactError(colours, words, k);
  for (bool improved = true; improved;) {
    improved = false;
    for (;;) {
      int shown[4][3];
      for (int j = 0; j < k; ++j) Shows(words[j], shown[j]);
      double sum[4][3] = {}, weight[4] = {};
      for (const Exact& e : colours) {
        const int j = NearestOf(e.c, shown, k);
        weight[j] += double(e.count);
        for (int c = 0; c < 3; ++c) sum[j][c] += double(e.count) * e.c[c];
      }
      Word trial[4];
      std::copy(words, words + k, trial);
      for (int j = 0; j < k; ++j)
        if (weight[j] > 0)
          for (int c = 0; c < 3; ++c) trial[j].level[c] = NearestLevel(sum[j][c] / weight[j]);
      const uint64_t error = ExactError(colours, trial, k);
      if (error >= best) break;
      std::copy(trial, trial + k, words);
      best = error;
      improved = true;
    }
    for (int j = 0; j < k; ++j)
      for (int c = 0; c < 3; ++c)
        for (int step : {-2, -1, 1, 2}) {
          Word trial[4];
          std::copy(words, words + k, trial);
          trial[j].level[c] += step;
          if (trial[j].level[c] < 0 || trial[j].level[c] > 31) continue;
          const uint64_t error = ExactError(colours, trial, k);
          if (error < best) {
            std::copy(trial, trial + k, words);
            best = error;
            improved = true;
          }
        }
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: vld_best_found IN.rgba WIDTH HEIGHT OUT.rgb [RESTARTS] [SEED]\n");
    return 2;
  }
  const size_t width = std::strtoul(argv[2], nullptr, 10),
               height = std::strtoul(argv[3], nullptr, 10);
  const int restarts = argc > 5 ? std::atoi(argv[5]) : 1000;
  std::mt19937_64 random(argc > 6 ? std::strtoull(argv[6], nullptr, 10) : 1);
  std::vector<uint8_t> rgba(width * height * 4);
  FILE* in = std::fopen(argv[1], "rb");
  if (in == nullptr || std::fread(rgba.data(), 1, rgba.size(), in) != rgba.size()) {
    std::fprintf(stderr, "vld_best_found: cannot read %s\n", argv[1]);
    return 1;
  }
  std::fclose(in);

  // The exact opaque colours, and their sums at 6 bits a channel.
  std::unordered_map<uint32_t, uint64_t> exact;
  std::unordered_map<uint32_t, Point> binned;
  bool transparent = false;
  for (size_t i = 0; i < width * height; ++i) {
    const uint8_t* p = &rgba[4 * i];
    if (p[3] < 128) {
      transparent = true;
      continue;
    }
    ++exact[uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]];
    Point& bin = binned[uint32_t(p[0] >> 2) << 12 | uint32_t(p[1] >> 2) << 6 | (p[2] >> 2)];
    for (int c = 0; c < 3; ++c) bin.c[c] += p[c];
    bin.weight += 1;
  }
  const int k = transparent ? 3 : 4;
  std::vector<Exact> colours;
  for (const auto& e : exact)
    colours.push_back(
        {{int(e.first >> 16), int(e.first >> 8 & 255), int(e.first & 255)}, e.second});
  std::sort(colours.begin(), colours.end(), [](const Exact& a, const Exact& b) {
    return std::lexicographical_compare(a.c, a.c + 3, b.c, b.c + 3);
  });
  std::vector<Point> points;
  for (auto& b : binned) {
    Point p = b.second;
    for (int c = 0; c < 3; ++c) p.c[c] /= p.weight;
    points.push_back(p);
  }
  std::sort(points.begin(), points.end(), [](const Point& a, const Point& b) {
    return std::lexicographical_compare(a.c, a.c + 3, b.c, b.c + 3);
  });

  Word best[4] = {};
  uint64_t best_error = UINT64_MAX;
  if (colours.size() > 0 && static_cast<int>(colours.size()) <= k) {
    for (size_t j = 0; j < colours.size(); ++j)
      for (int c = 0; c < 3; ++c) best[j].level[c] = NearestLevel(colours[j].c[c]);
    best_error = Polish(colours, best, static_cast<int>(colours.size()));
  } else if (!colours.empty()) {
    // Restarts in the continuous space; the best distinct palettes of
    // words go on to the exact search.
    struct Found {
      double error;
      Word words[4];
    };
    std::vector<Found> found;
    for (int r = 0; r < restarts; ++r) {
      double centres[4][3];
      KMeansPlusPlus(points, k, &random, centres);
      Found f{Lloyd(points, k, centres), {}};
      for (int j = 0; j < k; ++j)
        for (int c = 0; c < 3; ++c) f.words[j].level[c] = NearestLevel(centres[j][c]);
      found.push_back(f);
    }
    std::sort(found.begin(), found.end(),
              [](const Found& a, const Found& b) { return a.error < b.error; });
    std::vector<std::vector<uint16_t>> tried;
    for (const Found& f : found) {
      std::vector<uint16_t> key;
      for (int j = 0; j < k; ++j) key.push_back(WordBits(f.words[j]));
      std::sort(key.begin(), key.end());
      if (std::find(tried.begin(), tried.end(), key) != tried.end()) continue;
      tried.push_back(key);
      if (tried.size() > 12) break;
      Word words[4];
      std::copy(f.words, f.words + k, words);
      const uint64_t error = Polish(colours, words, k);
      if (error < best_error) best_error = error, std::copy(words, words + k, best);
    }
  }

  const int used = std::min<int>(k, std::max<int>(1, static_cast<int>(colours.size())));
  int shown[4][3];
  for (int j = 0; j < used; ++j) Shows(best[j], shown[j]);
  std::vector<uint8_t> out(width * height * 3, 0);
  for (size_t i = 0; i < width * height; ++i) {
    const int c[3] = {rgba[4 * i], rgba[4 * i + 1], rgba[4 * i + 2]};
    const int j = NearestOf(c, shown, used);
    for (int m = 0; m < 3; ++m) out[3 * i + m] = static_cast<uint8_t>(shown[j][m]);
  }
  FILE* result = std::fopen(argv[4], "wb");
  if (result == nullptr || std::fwrite(out.data(), 1, out.size(), result) != out.size() ||
      std::fclose(result) != 0) {
    std::fprintf(stderr, "vld_best_found: cannot write %s\n", argv[4]);
    return 1;
  }
  for (int j = 0; j < used; ++j) std::printf("0x%04X ", unsigned{WordBits(best[j])});
  std::printf("%llu\n", static_cast<unsigned long long>(best_error));
  return 0;
}
