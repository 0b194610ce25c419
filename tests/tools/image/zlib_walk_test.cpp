// The walk against zlib's own streams: where it says an image's bytes end
// must be where the extra data starts, whatever the encoder chose.
#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include "tools/image/zlib_walk.h"

namespace {

// One stream of `image` then `extra` bytes, flushed between them as an
// encoder that stops at the last row would not be; the returned size is
// where the image's part ends.
std::vector<uint8_t> Compress(const std::vector<uint8_t>& image, const std::vector<uint8_t>& extra,
                              int level, int strategy, size_t* image_end) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, 15, 8, strategy), Z_OK);
  std::vector<uint8_t> out(compressBound(image.size() + extra.size()) + 1024);
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  z.next_in = const_cast<Bytef*>(image.data());
  z.avail_in = static_cast<uInt>(image.size());
  EXPECT_EQ(deflate(&z, extra.empty() ? Z_FINISH : Z_FULL_FLUSH), extra.empty() ? Z_STREAM_END : Z_OK);
  *image_end = z.total_out;
  if (!extra.empty()) {
    z.next_in = const_cast<Bytef*>(extra.data());
    z.avail_in = static_cast<uInt>(extra.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  }
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

TEST(ZlibWalk, FindsWhereTheImageEndsForEveryKindOfBlock) {
  std::mt19937 rng(5);
  std::vector<uint8_t> noise(300000), runs(300000), extra(200000, 0);
  for (auto& b : noise) b = static_cast<uint8_t>(rng());
  for (size_t i = 0; i < runs.size(); ++i) runs[i] = static_cast<uint8_t>(i / 700 % 5);
  const struct {
    const char* name;
    const std::vector<uint8_t>* image;
    int level, strategy;
  } cases[] = {
      {"stored", &noise, 0, Z_DEFAULT_STRATEGY},      {"dynamic", &runs, 9, Z_DEFAULT_STRATEGY},
      {"fixed", &runs, 6, Z_FIXED},                   {"literals", &noise, 6, Z_HUFFMAN_ONLY},
      {"run length", &runs, 6, Z_RLE},                {"fast", &noise, 1, Z_DEFAULT_STRATEGY},
  };
  for (const auto& c : cases) {
    for (bool with_extra : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (with_extra ? " with extra data" : ""));
      size_t image_end = 0;
      const std::vector<uint8_t> stream =
          Compress(*c.image, with_extra ? extra : std::vector<uint8_t>(), c.level, c.strategy,
                   &image_end);
      // In pieces, as IDAT chunks split it.
      ZlibPieces pieces;
      for (size_t at = 0; at < stream.size(); at += 8191)
        pieces.push_back({stream.data() + at, std::min<size_t>(8191, stream.size() - at)});
      uint64_t rest = 0;
      ASSERT_EQ(ZlibBytesAfter(pieces, c.image->size(), &rest), 1);
      if (with_extra) {
        // The flush's empty stored block (5 bytes) may sit on either side.
        EXPECT_NEAR(static_cast<double>(rest), static_cast<double>(stream.size() - image_end), 8);
      } else {
        EXPECT_LE(rest, 8u);  // the end code and the checksum
      }
      // Asking for more than the stream holds, or cutting it, fails.
      EXPECT_EQ(ZlibBytesAfter(pieces, c.image->size() + extra.size() * with_extra + 1, &rest), 0);
      pieces.resize(pieces.size() / 2);
      EXPECT_EQ(ZlibBytesAfter(pieces, c.image->size(), &rest), 0);
    }
  }
}

TEST(ZlibWalk, RefusesWhatNoStreamHolds) {
  const std::vector<std::vector<uint8_t>> damaged = {
      {},                                // nothing
      {0x78, 0x9C + 1, 0x03, 0x00},      // header checksum wrong
      {0x78, 0x9C, 0x07},                // block type 3
      {0x78, 0x9C, 0x01, 0x05, 0x00, 0x00, 0x00},  // stored length and its complement disagree
      {0x78, 0x9C, 0x63, 0x00, 0x00},    // fixed block: a literal, then cut
      {0x78, 0x9C, 0x03, 0x41, 0x00},    // fixed block: a match before any byte
  };
  for (const auto& stream : damaged) {
    uint64_t rest = 0;
    EXPECT_EQ(ZlibBytesAfter({{stream.data(), stream.size()}}, 4, &rest), 0) << stream.size();
  }
}

}  // namespace
