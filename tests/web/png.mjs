// Just enough PNG for the web tests: 8-bit images without interlacing, read
// (grey, RGB, palette, RGBA: what vldtool and Chromium write) and written
// (RGBA, for vldtool encode to read).
import zlib from 'node:zlib';

const SIGNATURE = Buffer.from([137, 80, 78, 71, 13, 10, 26, 10]);

function chunk(type, data) {
  const head = Buffer.alloc(8);
  head.writeUInt32BE(data.length, 0);
  head.write(type, 4, 'latin1');
  const crc = Buffer.alloc(4);
  crc.writeUInt32BE(zlib.crc32(Buffer.concat([head.subarray(4), data])) >>> 0, 0);
  return Buffer.concat([head, data, crc]);
}

// `texts`: [type, keyword, text] chunks (tEXt in Latin-1, iTXt in UTF-8).
export function writeRgbaPng(width, height, rgba, texts = []) {
  const header = Buffer.alloc(13);
  header.writeUInt32BE(width, 0);
  header.writeUInt32BE(height, 4);
  header.set([8, 6, 0, 0, 0], 8);
  const raw = Buffer.alloc((width * 4 + 1) * height);
  for (let y = 0; y < height; ++y)
    raw.set(rgba.subarray(y * width * 4, (y + 1) * width * 4), y * (width * 4 + 1) + 1);
  const text = texts.map(([type, keyword, value]) => chunk(type, type === 'iTXt'
    ? Buffer.concat([Buffer.from(keyword + '\0\0\0\0\0', 'latin1'), Buffer.from(value, 'utf8')])
    : Buffer.from(keyword + '\0' + value, 'latin1')));
  return Buffer.concat([SIGNATURE, chunk('IHDR', header), ...text, chunk('IDAT', zlib.deflateSync(raw)),
                        chunk('IEND', Buffer.alloc(0))]);
}

// An 8-bit palette PNG whose image data goes on with `after` zero bytes
// past its last row, as a hostile file does.
export function writePalettePng(width, height, palette, after) {
  const header = Buffer.alloc(13);
  header.writeUInt32BE(width, 0);
  header.writeUInt32BE(height, 4);
  header.set([8, 3, 0, 0, 0], 8);
  const data = zlib.deflateSync(Buffer.alloc((width + 1) * height + after), { level: 1 });
  return Buffer.concat([SIGNATURE, chunk('IHDR', header), chunk('PLTE', Buffer.from(palette.flat())),
                        chunk('IDAT', data), chunk('IEND', Buffer.alloc(0))]);
}

function paeth(a, b, c) {
  const p = a + b - c, pa = Math.abs(p - a), pb = Math.abs(p - b), pc = Math.abs(p - c);
  return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// {width, height, rgba, indices (palette images only), palette: [[r,g,b,a]...]}
export function readPng(bytes) {
  if (!SIGNATURE.equals(bytes.subarray(0, 8))) throw new Error('not a PNG');
  let offset = 8, header = null, palette = [], alpha = [];
  const data = [];
  while (offset < bytes.length) {
    const length = bytes.readUInt32BE(offset), type = bytes.toString('latin1', offset + 4, offset + 8);
    const body = bytes.subarray(offset + 8, offset + 8 + length);
    if (type === 'IHDR') header = { width: body.readUInt32BE(0), height: body.readUInt32BE(4), depth: body[8], kind: body[9], interlace: body[12] };
    if (type === 'PLTE') for (let i = 0; i < length; i += 3) palette.push([body[i], body[i + 1], body[i + 2], 255]);
    if (type === 'tRNS') alpha = [...body];
    if (type === 'IDAT') data.push(body);
    offset += 12 + length;
  }
  alpha.forEach((a, i) => { palette[i][3] = a; });
  const channels = { 0: 1, 2: 3, 3: 1, 6: 4 }[header.kind];
  if (header.depth !== 8 || header.interlace || !channels) throw new Error('unsupported PNG');
  const { width, height } = header, stride = width * channels;
  const raw = zlib.inflateSync(Buffer.concat(data));
  const pixels = Buffer.alloc(stride * height);
  for (let y = 0; y < height; ++y) {
    const filter = raw[y * (stride + 1)], line = raw.subarray(y * (stride + 1) + 1, (y + 1) * (stride + 1));
    for (let x = 0; x < stride; ++x) {
      const a = x >= channels ? pixels[y * stride + x - channels] : 0;
      const b = y > 0 ? pixels[(y - 1) * stride + x] : 0;
      const c = x >= channels && y > 0 ? pixels[(y - 1) * stride + x - channels] : 0;
      const predictor = [0, a, b, (a + b) >> 1, paeth(a, b, c)][filter];
      pixels[y * stride + x] = (line[x] + predictor) & 255;
    }
  }
  const rgba = new Uint8Array(width * height * 4);
  for (let i = 0; i < width * height; ++i) {
    const p = pixels.subarray(i * channels, (i + 1) * channels);
    const colour = header.kind === 3 ? palette[p[0]] : header.kind === 0 ? [p[0], p[0], p[0], 255]
                 : header.kind === 2 ? [p[0], p[1], p[2], 255] : p;
    rgba.set(colour, i * 4);
  }
  return { width, height, rgba, indices: header.kind === 3 ? new Uint8Array(pixels) : null, palette };
}
