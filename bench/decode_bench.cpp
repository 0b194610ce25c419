// Decoding speed of 4096 x 4096 pictures made of one row kind each, against
// a plain memcpy of an index buffer of the same size. Throughput is counted
// in index-buffer bytes produced, so the figures compare directly.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "picture/decode.h"

namespace {

constexpr uint16_t kSide = 4096;
constexpr uint32_t kGroups = kSide / 8;
constexpr size_t kStride = (kSide + 11) & ~size_t{3};
constexpr size_t kBufferBytes = (size_t{kSide} + 4) * kStride;

enum RowKind { kLiteral, kRepeat, kAbove, kLeft, kFourAbove, kBlockLiteral };

std::vector<uint8_t> MakeFile(RowKind kind) {
  std::vector<uint8_t> file = {'H', 'K', '0', '3', 0x1A, 2, 0, 0, 0, 0};
  for (uint16_t word :
       {kSide, kSide, uint16_t{0}, uint16_t{0xF800}, uint16_t{0x07C0}, uint16_t{0x003E}}) {
    file.push_back(static_cast<uint8_t>(word >> 8));
    file.push_back(static_cast<uint8_t>(word));
  }
  std::mt19937 rng(42);
  auto literal_row = [&] {
    file.push_back(0x00);
    for (uint32_t g = 0; g < 2 * kGroups; ++g) file.push_back(static_cast<uint8_t>(rng()));
  };
  const uint8_t selector_byte[] = {0, 0x00, 0x55, 0xAA, 0xFF, 0x00};
  // Copy rows need something above them worth copying: the first rows are literal.
  const uint32_t lead = kind == kLiteral        ? kSide
                        : kind == kFourAbove    ? 4
                        : kind == kBlockLiteral ? 0
                                                : 1;
  for (uint32_t row = 0; row < kSide; ++row) {
    if (row < lead) {
      literal_row();
    } else if (kind == kRepeat) {
      file.push_back(0xC0);
    } else {
      file.push_back(0x80);
      file.insert(file.end(), kGroups / 4, selector_byte[kind]);
      if (kind == kBlockLiteral)
        for (uint32_t g = 0; g < 2 * kGroups; ++g) file.push_back(static_cast<uint8_t>(rng()));
    }
  }
  return file;
}

void BM_Decode(benchmark::State& state) {
  const std::vector<uint8_t> file = MakeFile(static_cast<RowKind>(state.range(0)));
  for (auto _ : state) {
    PictureHeader header;
    PictureRows rows;
    if (ParsePictureHeader(file.data(), file.size(), &header) != kPictureOk ||
        DecodePictureRows(file.data(), file.size(), header, &rows) != kPictureOk) {
      state.SkipWithError("decode failed");
      break;
    }
    benchmark::DoNotOptimize(rows.index_buffer);
    std::free(rows.index_buffer);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBufferBytes));
}
BENCHMARK(BM_Decode)->Arg(kLiteral)->Name("decode/literal");
BENCHMARK(BM_Decode)->Arg(kRepeat)->Name("decode/repeat");
BENCHMARK(BM_Decode)->Arg(kAbove)->Name("decode/block_above");
BENCHMARK(BM_Decode)->Arg(kLeft)->Name("decode/block_left");
BENCHMARK(BM_Decode)->Arg(kFourAbove)->Name("decode/block_four_above");
BENCHMARK(BM_Decode)->Arg(kBlockLiteral)->Name("decode/block_literal");

// The reference: copying the same number of bytes into a buffer that is
// allocated (and zeroed) each time, as the decoder's is, ...
void BM_MemcpyFresh(benchmark::State& state) {
  std::vector<uint8_t> source(kBufferBytes, 1);
  for (auto _ : state) {
    uint8_t* target = static_cast<uint8_t*>(std::calloc(kBufferBytes, 1));
    std::memcpy(target, source.data(), kBufferBytes);
    benchmark::DoNotOptimize(target);
    std::free(target);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBufferBytes));
}
BENCHMARK(BM_MemcpyFresh)->Name("memcpy/fresh_buffer");

// ... and into one that stays allocated, the fastest copy there is.
void BM_MemcpyWarm(benchmark::State& state) {
  std::vector<uint8_t> source(kBufferBytes, 1), target(kBufferBytes, 0);
  for (auto _ : state) {
    std::memcpy(target.data(), source.data(), kBufferBytes);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBufferBytes));
}
BENCHMARK(BM_MemcpyWarm)->Name("memcpy/warm_buffer");

}  // namespace

BENCHMARK_MAIN();
