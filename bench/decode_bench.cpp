// Decoding speed of pictures made of one row kind each, against a plain
// memcpy of an index buffer of the same size. Throughput is counted in
// index-buffer bytes produced, so the figures compare directly. Sizes: the
// widths whose stride lies just above a multiple of 4096 (4088, 4096, 8188),
// the 640 x 400 a screen picture has, a sweep of widths, and one real
// picture from samples/.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "vld.h"

namespace {

enum RowKind { kLiteral, kRepeat, kAbove, kLeft, kFourAbove, kBlockLiteral };
const char* const kKindNames[] = {"literal",    "repeat",          "block_above",
                                  "block_left", "block_four_above", "block_literal"};

// The sizes vld.h sets out: groups of 8 pixels, a selector byte for every
// four groups, and the decoding buffer of (H + 4) rows of (W + 11) & ~3.
uint32_t Groups(uint32_t width) { return (width + 7) / 8; }
uint64_t BufferBytes(uint32_t width, uint32_t height) {
  return (uint64_t{height} + 4) * ((width + 11) & ~uint32_t{3});
}

std::vector<uint8_t> MakeFile(RowKind kind, uint16_t width, uint16_t height) {
  const uint32_t groups = Groups(width);
  const uint32_t selector_bytes = (groups + 3) / 4;
  std::vector<uint8_t> file = {'H', 'K', '0', '3', 0x1A, 2, 0, 0, 0, 0};
  for (uint16_t word :
       {width, height, uint16_t{0}, uint16_t{0xF800}, uint16_t{0x07C0}, uint16_t{0x003E}}) {
    file.push_back(static_cast<uint8_t>(word >> 8));
    file.push_back(static_cast<uint8_t>(word));
  }
  std::mt19937 rng(42);
  auto literal_row = [&] {
    file.push_back(0x00);
    for (uint32_t g = 0; g < 2 * groups; ++g) file.push_back(static_cast<uint8_t>(rng()));
  };
  const uint8_t selector_byte[] = {0, 0x00, 0x55, 0xAA, 0xFF, 0x00};
  // Copy rows need something above them worth copying: the first rows are literal.
  const uint32_t lead = kind == kLiteral        ? height
                        : kind == kFourAbove    ? 4
                        : kind == kBlockLiteral ? 0
                                                : 1;
  for (uint32_t row = 0; row < height; ++row) {
    if (row < lead) {
      literal_row();
    } else if (kind == kRepeat) {
      file.push_back(0xC0);
    } else {
      file.push_back(0x80);
      file.insert(file.end(), selector_bytes, selector_byte[kind]);
      if (kind == kBlockLiteral)
        for (uint32_t g = 0; g < 2 * groups; ++g) file.push_back(static_cast<uint8_t>(rng()));
    }
  }
  return file;
}

// Decodes as a program does, through vld_decode (which also copies the rows
// out of the decoding buffer into the caller's unpadded indices).
void DecodeLoop(benchmark::State& state, const std::vector<uint8_t>& file) {
  uint64_t buffer_bytes = 0;
  for (auto _ : state) {
    vld_picture picture;
    if (vld_decode(file.data(), file.size(), &picture) != VLD_OK) {
      state.SkipWithError("decode failed");
      break;
    }
    buffer_bytes = BufferBytes(picture.width, picture.height);
    benchmark::DoNotOptimize(picture.indices);
    vld_picture_free(&picture);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(buffer_bytes));
}

// Arguments: row kind, width, height.
void BM_Decode(benchmark::State& state) {
  DecodeLoop(state, MakeFile(static_cast<RowKind>(state.range(0)),
                             static_cast<uint16_t>(state.range(1)),
                             static_cast<uint16_t>(state.range(2))));
}

// The same pictures row by row, through the window of a few rows the row
// callback reads from: the whole decode's speed is the mark to meet.
void BM_Rows(benchmark::State& state) {
  const uint32_t width = static_cast<uint32_t>(state.range(1));
  const uint32_t height = static_cast<uint32_t>(state.range(2));
  const std::vector<uint8_t> file =
      MakeFile(static_cast<RowKind>(state.range(0)), static_cast<uint16_t>(width),
               static_cast<uint16_t>(height));
  auto row = [](void* user, uint32_t, const uint8_t* indices) {
    *static_cast<uint8_t*>(user) ^= indices[0];
    return 0;
  };
  uint8_t seen = 0;
  for (auto _ : state) {
    if (vld_decode_rows(file.data(), file.size(), nullptr, row, &seen, nullptr) != VLD_OK) {
      state.SkipWithError("decode failed");
      break;
    }
    benchmark::DoNotOptimize(seen);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(BufferBytes(width, height)));
}

// The reference: copying an index buffer's bytes into a buffer that is
// allocated (and zeroed) each time, as the decoder's is, ...
void BM_MemcpyFresh(benchmark::State& state) {
  const size_t bytes = BufferBytes(static_cast<uint32_t>(state.range(0)),
                                          static_cast<uint32_t>(state.range(1)));
  std::vector<uint8_t> source(bytes, 1);
  for (auto _ : state) {
    uint8_t* target = static_cast<uint8_t*>(std::calloc(bytes, 1));
    std::memcpy(target, source.data(), bytes);
    benchmark::DoNotOptimize(target);
    std::free(target);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
}

// ... and into one that stays allocated, the fastest copy there is.
void BM_MemcpyWarm(benchmark::State& state) {
  const size_t bytes = BufferBytes(static_cast<uint32_t>(state.range(0)),
                                          static_cast<uint32_t>(state.range(1)));
  std::vector<uint8_t> source(bytes, 1), target(bytes, 0);
  for (auto _ : state) {
    std::memcpy(target.data(), source.data(), bytes);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
}

struct Size {
  int width, height;
};
const Size kSizes[] = {{4088, 4096}, {4096, 4096}, {8188, 2048}, {640, 400}};

int RegisterAll() {
  char name[64];
  for (const Size& size : kSizes) {
    for (int kind = kLiteral; kind <= kBlockLiteral; ++kind) {
      std::snprintf(name, sizeof name, "decode/%s/%dx%d", kKindNames[kind], size.width,
                    size.height);
      benchmark::RegisterBenchmark(name, BM_Decode)->Args({kind, size.width, size.height});
      std::snprintf(name, sizeof name, "rows/%s/%dx%d", kKindNames[kind], size.width, size.height);
      benchmark::RegisterBenchmark(name, BM_Rows)->Args({kind, size.width, size.height});
    }
    std::snprintf(name, sizeof name, "memcpy/fresh_buffer/%dx%d", size.width, size.height);
    benchmark::RegisterBenchmark(name, BM_MemcpyFresh)->Args({size.width, size.height});
    std::snprintf(name, sizeof name, "memcpy/warm_buffer/%dx%d", size.width, size.height);
    benchmark::RegisterBenchmark(name, BM_MemcpyWarm)->Args({size.width, size.height});
  }
  // Repeat rows across widths around the 4096 and 8192 strides and between.
  for (int width : {1000, 2040, 2048, 3000, 4080, 4084, 4092, 4100, 4104, 6000, 8184, 8192, 8196}) {
    std::snprintf(name, sizeof name, "sweep/repeat/%dx1024", width);
    benchmark::RegisterBenchmark(name, BM_Decode)->Args({kRepeat, width, 1024});
    std::snprintf(name, sizeof name, "sweep/memcpy_fresh/%dx1024", width);
    benchmark::RegisterBenchmark(name, BM_MemcpyFresh)->Args({width, 1024});
  }
  return 0;
}
const int kRegistered = RegisterAll();

// A real picture, encoded by vldtool from a drawing.
std::vector<uint8_t> ReadSample() {
  std::vector<uint8_t> file;
  if (FILE* in = std::fopen(VLD_BENCH_SAMPLE, "rb")) {
    uint8_t chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, in)) > 0)
      file.insert(file.end(), chunk, chunk + got);
    std::fclose(in);
  }
  return file;
}

void BM_DecodeSample(benchmark::State& state) { DecodeLoop(state, ReadSample()); }
BENCHMARK(BM_DecodeSample)->Name("decode/sample_waves_800x560");

}  // namespace

BENCHMARK_MAIN();
