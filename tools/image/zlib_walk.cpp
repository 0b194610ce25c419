// A deflate decoder that keeps no window and writes nothing: it decodes the
// codes, adds up the lengths they stand for and checks every distance
// against what came before, which is all it takes to know where the output
// reaches a given size.
#include "tools/image/zlib_walk.h"

namespace {

constexpr int kMaxBits = 15;
constexpr int kFastBits = 9;

// Reads bits least significant first, across the pieces. Bytes asked for
// past the end read as zero and are counted, so a code that needed them
// shows the stream was cut.
struct BitReader {
  const ZlibPieces* pieces;
  size_t piece = 0, at = 0;
  uint64_t buffer = 0;
  int count = 0;
  uint64_t fetched = 0;   // bytes taken into the buffer
  uint64_t past_end = 0;  // of those, how many lay beyond the stream

  uint32_t NextByte() {
    while (piece < pieces->size() && at >= (*pieces)[piece].second) {
      ++piece;
      at = 0;
    }
    ++fetched;
    if (piece >= pieces->size()) {
      ++past_end;
      return 0;
    }
    return (*pieces)[piece].first[at++];
  }
  void Need(int bits) {
    while (count < bits) {
      buffer |= uint64_t{NextByte()} << count;
      count += 8;
    }
  }
  uint32_t Peek(int bits) {
    Need(bits);
    return static_cast<uint32_t>(buffer & ((uint64_t{1} << bits) - 1));
  }
  void Drop(int bits) {
    buffer >>= bits;
    count -= bits;
  }
  uint32_t Get(int bits) {
    const uint32_t value = Peek(bits);
    Drop(bits);
    return value;
  }
  void ToByte() { Drop(count % 8); }
  // Bytes read so far, the buffered ones not counted, and whether any of
  // them lay past the end.
  uint64_t Used() const { return fetched - static_cast<uint64_t>(count / 8); }
  bool Overran() const { return past_end * 8 > static_cast<uint64_t>(count); }
};

// A canonical Huffman code: a table for codes of up to kFastBits bits, and
// the counts and sorted symbols for the longer ones.
struct Huffman {
  uint16_t fast[1 << kFastBits];  // symbol << 4 | length; 0 when longer
  uint16_t counts[kMaxBits + 1];
  uint16_t symbols[288];
};

uint32_t Reverse(uint32_t code, int length) {
  uint32_t out = 0;
  for (int k = 0; k < length; ++k, code >>= 1) out = out << 1 | (code & 1);
  return out;
}

// Returns 0 for an over-subscribed set of lengths, which no stream can use.
int Build(Huffman* h, const uint8_t* lengths, int n) {
  for (int k = 0; k <= kMaxBits; ++k) h->counts[k] = 0;
  for (int s = 0; s < n; ++s) ++h->counts[lengths[s]];
  h->counts[0] = 0;
  int left = 1;
  for (int len = 1; len <= kMaxBits; ++len) {
    left = left * 2 - h->counts[len];
    if (left < 0) return 0;
  }
  uint16_t offsets[kMaxBits + 2];
  offsets[1] = 0;
  for (int len = 1; len <= kMaxBits; ++len) offsets[len + 1] = offsets[len] + h->counts[len];
  for (int s = 0; s < n; ++s)
    if (lengths[s] != 0) h->symbols[offsets[lengths[s]]++] = static_cast<uint16_t>(s);
  for (auto& entry : h->fast) entry = 0;
  uint32_t code = 0;
  int index = 0;
  for (int len = 1; len <= kFastBits; ++len, code <<= 1)
    for (int k = 0; k < h->counts[len]; ++k, ++code, ++index) {
      const uint32_t reversed = Reverse(code, len);
      for (uint32_t fill = reversed; fill < (1u << kFastBits); fill += 1u << len)
        h->fast[fill] = static_cast<uint16_t>(h->symbols[index] << 4 | len);
    }
  return 1;
}

// The next symbol, or -1 for a code the set does not hold.
int Decode(BitReader* in, const Huffman& h) {
  const uint16_t entry = h.fast[in->Peek(kFastBits)];
  if (entry != 0) {
    in->Drop(entry & 15);
    return entry >> 4;
  }
  const uint32_t bits = in->Peek(kMaxBits);
  int code = 0, first = 0, index = 0;
  for (int len = 1; len <= kMaxBits; ++len) {
    code |= (bits >> (len - 1)) & 1;
    const int count = h.counts[len];
    if (code - first < count) {
      in->Drop(len);
      return h.symbols[index + code - first];
    }
    index += count;
    first = (first + count) << 1;
    code <<= 1;
  }
  return -1;
}

const uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const uint16_t kDistanceBase[30] = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,
                                    33,   49,   65,   97,   129,  193,   257,   385,   513, 769,
                                    1025, 1537, 2049, 3073, 4097, 6145,  8193,  12289, 16385,
                                    24577};
const uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// The code lengths of a dynamic block's two codes.
int ReadDynamic(BitReader* in, Huffman* lengths_code, Huffman* literals, Huffman* distances) {
  static const uint8_t kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
  const int literal_count = static_cast<int>(in->Get(5)) + 257;
  const int distance_count = static_cast<int>(in->Get(5)) + 1;
  const int code_count = static_cast<int>(in->Get(4)) + 4;
  if (literal_count > 286 || distance_count > 30) return 0;
  uint8_t lengths[286 + 30] = {};
  for (int k = 0; k < code_count; ++k) lengths[kOrder[k]] = static_cast<uint8_t>(in->Get(3));
  if (!Build(lengths_code, lengths, 19)) return 0;
  const int total = literal_count + distance_count;
  for (int k = 0; k < total;) {
    const int symbol = Decode(in, *lengths_code);
    if (symbol < 0) return 0;
    if (symbol < 16) {
      lengths[k++] = static_cast<uint8_t>(symbol);
      continue;
    }
    uint8_t value = 0;
    int repeat;
    if (symbol == 16) {
      if (k == 0) return 0;
      value = lengths[k - 1];
      repeat = 3 + static_cast<int>(in->Get(2));
    } else if (symbol == 17) {
      repeat = 3 + static_cast<int>(in->Get(3));
    } else {
      repeat = 11 + static_cast<int>(in->Get(7));
    }
    if (k + repeat > total) return 0;
    while (repeat-- > 0) lengths[k++] = value;
  }
  if (lengths[256] == 0) return 0;  // a block must be able to end
  return Build(literals, lengths, literal_count) &&
         Build(distances, lengths + literal_count, distance_count);
}

}  // namespace

int ZlibBytesAfter(const ZlibPieces& pieces, uint64_t wanted, uint64_t* rest) {
  uint64_t total = 0;
  for (const auto& piece : pieces) total += piece.second;
  BitReader in{&pieces};
  const uint32_t method = in.Get(8);
  const uint32_t header = method << 8 | in.Get(8);
  if ((header >> 8 & 15) != 8 || header % 31 != 0 || (header & 0x20) != 0) return 0;
  Huffman lengths_code, literals, distances;
  uint64_t out = 0;
  for (int last = 0; !last && out < wanted;) {
    last = static_cast<int>(in.Get(1));
    const uint32_t type = in.Get(2);
    if (type == 0) {
      in.ToByte();
      const uint32_t length = in.Get(16);
      if ((in.Get(16) ^ 0xFFFF) != length) return 0;
      // Stored bytes are whole bytes: once wanted is inside them, the rest
      // of the block still lies after the point where it is reached.
      const uint64_t needed = wanted - out;
      const uint64_t take = needed < length ? needed : length;
      for (uint64_t k = 0; k < take; ++k) in.Get(8);
      out += take;
      if (out >= wanted) break;
      continue;
    }
    if (type == 3) return 0;
    if (type == 1) {
      uint8_t lengths[288 + 32];
      for (int k = 0; k < 288; ++k) lengths[k] = k < 144 ? 8 : k < 256 ? 9 : k < 280 ? 7 : 8;
      for (int k = 0; k < 32; ++k) lengths[288 + k] = 5;
      Build(&literals, lengths, 288);
      Build(&distances, lengths + 288, 32);
    } else if (!ReadDynamic(&in, &lengths_code, &literals, &distances)) {
      return 0;
    }
    for (;;) {
      const int symbol = Decode(&in, literals);
      if (symbol < 0 || in.Overran()) return 0;
      if (symbol < 256) {
        ++out;
      } else if (symbol == 256) {
        break;
      } else {
        if (symbol > 285) return 0;
        const uint32_t length = kLengthBase[symbol - 257] + in.Get(kLengthExtra[symbol - 257]);
        const int code = Decode(&in, distances);
        if (code < 0 || code > 29) return 0;
        const uint32_t distance = kDistanceBase[code] + in.Get(kDistanceExtra[code]);
        if (distance > out) return 0;
        out += length;
      }
      if (out >= wanted) break;
    }
  }
  if (in.Overran() || out < wanted) return 0;
  *rest = total - (in.Used() < total ? in.Used() : total);
  return 1;
}
