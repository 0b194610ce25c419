// Following a zlib stream without inflating it, to tell how much compressed
// data lies past the point where it has given all the bytes an image needs.
// Windows' own PNG decoders may inflate a stream to its very end, and a few
// megabytes of well-made deflate data can stand for gigabytes; walking the
// codes costs only the compressed bytes up to the image's last row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

// The stream's bytes, in pieces (a PNG's IDAT chunks), in order.
using ZlibPieces = std::vector<std::pair<const uint8_t*, size_t>>;

// Walks the stream until it has produced `wanted` bytes. Returns 1 with
// *rest, the compressed bytes after that point (its end code and checksum
// included), or 0 when the stream is damaged or ends before that.
int ZlibBytesAfter(const ZlibPieces& pieces, uint64_t wanted, uint64_t* rest);
