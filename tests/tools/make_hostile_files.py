#!/usr/bin/env python3
"""usage: make_hostile_files.py DIR

Writes, at full size, the hostile files that vldtool's hostile tests use
small, for timing vldtool and vldtool.exe by hand (/usr/bin/time -v):
  comment200m.vld  a picture with a 200 MiB comment (info)
  text100m.png     a PNG whose comment is 100 million characters (encode)
  extra20g.png     a 1x1 PNG with 20 GiB of zeros after its row, in 20 MB
  comments2m.gif   a GIF with 2,000,000 comments before its image
  huge.tif         a TIFF declaring 65496 x 65496
These are large: keep them out of the repository.
"""
import struct
import sys
import zlib


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def png(width, height, colour, idat, extra=b""):
    header = struct.pack(">IIBBBBB", width, height, 8, colour, 0, 0, 0)
    body = chunk(b"IHDR", header)
    if colour == 3:
        body += chunk(b"PLTE", bytes([0, 0, 0, 255, 255, 255]))
    body += extra
    for at in range(0, len(idat), 1 << 20):
        body += chunk(b"IDAT", idat[at:at + (1 << 20)])
    return b"\x89PNG\r\n\x1a\n" + body + chunk(b"IEND", b"")


def zeros_stream(gib):
    # Each GiB compressed once: after a full flush the compressor starts
    # afresh, so the next GiB's bytes are the same.
    compressor = zlib.compressobj(9)
    zero = bytes(1 << 20)
    first = b"".join(compressor.compress(zero) for _ in range(1024))
    first += compressor.flush(zlib.Z_FULL_FLUSH)
    total = gib << 30
    adler = ((total % 65521) << 16) | 1
    return first + first[2:] * (gib - 1) + b"\x03\x00" + struct.pack(">I", adler)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    folder = sys.argv[1]
    picture_tail = bytes.fromhex("1a0200640032000800020000f80007c0003e00f0ccc0")
    with open(folder + "/comment200m.vld", "wb") as out:
        out.write(b"HK03" + b"\x82\xa0" * (100 << 20) + picture_tail)
    comment = chunk(b"iTXt", b"Comment\0\0\0\0\0" + b"a" * 100000000)
    with open(folder + "/text100m.png", "wb") as out:
        out.write(png(4, 4, 3, zlib.compress(b"\0\0\0\0\0" * 4), comment))
    with open(folder + "/extra20g.png", "wb") as out:
        out.write(png(1, 1, 0, zeros_stream(20)))
    gif = b"GIF89a\x08\x00\x08\x00\x80\x00\x00" + b"\0\0\0\xff\xff\xff"
    gif += b"\x21\xfe\x01x\x00" * 2000000
    # 64 pixels of colour 0 in three-bit codes: a clear code before every
    # two, so the code size never grows; then the end code.
    bits = 0
    for k, code in enumerate([4, 0, 0] * 32 + [5]):
        bits |= code << (3 * k)
    data = bits.to_bytes((3 * 97 + 7) // 8, "little")
    gif += b"\x2c\0\0\0\0\x08\0\x08\0\0\x02" + bytes([len(data)]) + data + b"\x00\x3b"
    with open(folder + "/comments2m.gif", "wb") as out:
        out.write(gif)
    entries = [(256, 4, 65496), (257, 4, 65496), (258, 3, 8), (259, 3, 1), (262, 3, 1),
               (273, 4, 122), (277, 3, 1), (278, 4, 65496), (279, 4, 1)]
    tiff = b"II*\0" + struct.pack("<IH", 8, len(entries))
    for tag, kind, value in entries:
        tiff += struct.pack("<HHII", tag, kind, 1, value)
    with open(folder + "/huge.tif", "wb") as out:
        out.write(tiff + b"\0\0\0\0\0")


main()
