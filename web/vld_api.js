// The module's JavaScript interface over the exported C functions (see
// vld_web.c). Runs inside Emscripten's factory, so HEAPU8 and friends are
// always the current views, even after the memory has grown.

// A Map, so that names an object would inherit ('toString', '__proto__')
// are unknown names like any other.
var DITHER = new Map([['none', 0], ['floyd-steinberg', 1], ['ordered', 2]]);
var PICTURE_BYTES = 36;

function vldBytes(bytes, what) {
  if (bytes instanceof Uint8Array) return bytes;
  if (bytes instanceof ArrayBuffer) return new Uint8Array(bytes);
  if (ArrayBuffer.isView(bytes)) return new Uint8Array(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  throw new TypeError(what + ' must be a Uint8Array');
}

function vldAlloc(size) {
  var pointer = _malloc(Math.max(size, 1));
  if (!pointer) throw new Error('out of memory');
  return pointer;
}

function vldCopyIn(bytes) {
  var pointer = vldAlloc(bytes.length);
  HEAPU8.set(bytes, pointer);
  return pointer;
}

function vldSize(value, what) {
  if (!Number.isInteger(value) || value < 1 || value > 65535)
    throw new RangeError(what + ' must be a whole number from 1 to 65535');
  return value;
}

function vldWord(value, what) {
  if (!Number.isInteger(value) || value < 0 || value > 65535)
    throw new RangeError(what + ' must be a whole number from 0 to 65535');
  return value;
}

function vldPalette(palette) {
  if (!palette || palette.length !== 4) throw new TypeError('palette must hold four words');
  var words = [];
  for (var i = 0; i < 4; ++i) words.push(vldWord(palette[i], 'palette word ' + i));
  return words;
}

// A JavaScript copy of the picture at `pointer`, rgba included, so that the
// module's memory can be given back at once.
function vldReadPicture(pointer) {
  var base = pointer >> 2;
  var width = HEAPU32[base], height = HEAPU32[base + 1];
  var count = width * height;
  var indices = HEAPU32[base + 6], comment = HEAPU32[base + 7], commentSize = HEAPU32[base + 8];
  var rgbaPointer = vldAlloc(count * 4);
  try {
    _vld_to_rgba(pointer, rgbaPointer);
    return {
      width: width,
      height: height,
      anchorX: HEAPU32[base + 2],
      anchorY: HEAPU32[base + 3],
      palette: Array.from(HEAPU16.subarray((pointer + 16) >> 1, (pointer + 24) >> 1)),
      indices: HEAPU8.slice(indices, indices + count),
      comment: commentSize ? HEAPU8.slice(comment, comment + commentSize) : new Uint8Array(0),
      rgba: new Uint8ClampedArray(HEAPU8.subarray(rgbaPointer, rgbaPointer + count * 4))
    };
  } finally {
    _free(rgbaPointer);
  }
}

function vldDecodeReason(input, size) {
  var buffer = vldAlloc(256);
  try {
    return UTF8ToString(_vld_decode_reason(input, size, buffer, 256));
  } finally {
    _free(buffer);
  }
}

// Decodes a picture file; a damaged one throws an Error whose message is
// the reason vldtool gives for it.
Module['decode'] = function (bytes) {
  bytes = vldBytes(bytes, 'the picture file');
  var input = vldCopyIn(bytes), picture = 0;
  try {
    picture = _web_picture_new();
    if (!picture) throw new Error('out of memory');
    var code = _vld_decode(input, bytes.length, picture);
    if (code !== 0) {
      // The code lets a page say the reason in its own language.
      var refusal = new Error(vldDecodeReason(input, bytes.length));
      refusal.code = code;
      throw refusal;
    }
    return vldReadPicture(picture);
  } finally {
    _web_picture_delete(picture);
    _free(input);
  }
};

// Decodes a picture file for showing it, row by row, holding no more of it
// in the module's memory than a few rows: the header's fields, the indices
// (width * height bytes), and for each of the two boxes ([width, height,
// width, height]) the picture averaged down to fit it, {width, height, rgba},
// or null where it fits as it is. A damaged file throws an Error with
// vldtool's reason, a picture whose indices find no memory a RangeError.
Module['decodeView'] = function (bytes, boxes) {
  bytes = vldBytes(bytes, 'the picture file');
  if (!boxes || boxes.length !== 4) throw new TypeError('boxes must hold two widths and heights');
  boxes = Array.from(boxes, function (side, i) { return vldSize(side, 'box side ' + i); });
  var input = vldCopyIn(bytes), header = 0, reason = 0, result = 0, sizes = 0, indices = null, refused = false;
  Module['vldTakeRow'] = function (y, row, width) {
    try {
      indices = indices || new Uint8Array(width * HEAPU32[(header >> 2) + 1]);
    } catch (e) {
      refused = true;
      return false;
    }
    indices.set(HEAPU8.subarray(row, row + width), y * width);
    return true;
  };
  try {
    header = vldAlloc(PICTURE_BYTES);
    reason = vldAlloc(96);
    result = vldAlloc(24);
    sizes = vldAlloc(16);
    HEAPU32.set(boxes, sizes >> 2);
    var code = _web_decode_view(input, bytes.length, header, sizes, reason, result);
    var base = header >> 2, width = HEAPU32[base], height = HEAPU32[base + 1];
    if (refused) throw new RangeError('no memory for ' + width + ' × ' + height + ' pixels');
    // The code lets a page say the reason in its own language.
    if (code !== 0) throw Object.assign(new Error(UTF8ToString(reason)), { code: code });
    var copies = [0, 1].map(function (i) {
      var at = (result >> 2) + 3 * i, rgba = HEAPU32[at + 2];
      if (!rgba) return null;
      var size = HEAPU32[at] * HEAPU32[at + 1] * 4;
      var copy = { width: HEAPU32[at], height: HEAPU32[at + 1], rgba: new Uint8ClampedArray(HEAPU8.slice(rgba, rgba + size).buffer) };
      _free(rgba);
      return copy;
    });
    return {
      width: width, height: height, anchorX: HEAPU32[base + 2], anchorY: HEAPU32[base + 3],
      palette: Array.from(HEAPU16.subarray((header + 16) >> 1, (header + 24) >> 1)),
      comment: HEAPU8.slice(input + 4, input + 4 + HEAPU32[base + 8]),
      indices: indices, shrunk: copies
    };
  } finally {
    Module['vldTakeRow'] = null;
    _free(sizes);
    _free(result);
    _free(reason);
    _free(header);
    _free(input);
  }
};

// The bytes of a picture file for `p` (as decode and reduce give).
Module['encode'] = function (p) {
  if (!p || typeof p !== 'object') throw new TypeError('encode wants a picture');
  var width = vldSize(p.width, 'width'), height = vldSize(p.height, 'height');
  var indices = vldBytes(p.indices, 'indices');
  if (indices.length !== width * height) throw new RangeError('indices must hold width * height bytes');
  var palette = vldPalette(p.palette);
  var anchorX = vldWord(p.anchorX || 0, 'anchorX'), anchorY = vldWord(p.anchorY || 0, 'anchorY');
  var comment = p.comment == null ? new Uint8Array(0) : vldBytes(p.comment, 'comment');
  var picture = 0, indexPointer = 0, commentPointer = 0, result = 0;
  try {
    picture = vldAlloc(PICTURE_BYTES);
    indexPointer = vldCopyIn(indices);
    commentPointer = vldCopyIn(comment);
    result = vldAlloc(8);
    var base = picture >> 2;
    HEAPU32[base] = width;
    HEAPU32[base + 1] = height;
    HEAPU32[base + 2] = anchorX;
    HEAPU32[base + 3] = anchorY;
    HEAPU16.set(palette, (picture + 16) >> 1);
    HEAPU32[base + 6] = indexPointer;
    HEAPU32[base + 7] = commentPointer;
    HEAPU32[base + 8] = comment.length;
    var code = _web_encode(picture, result);
    var data = HEAPU32[result >> 2], size = HEAPU32[(result >> 2) + 1];
    if (code !== 0) throw new Error(UTF8ToString(_vld_error_text(code)));
    var file = HEAPU8.slice(data, data + size);
    _vld_free(data);
    return file;
  } finally {
    _free(result);
    _free(commentPointer);
    _free(indexPointer);
    _free(picture);
  }
};

// The picture vldtool encode makes from these RGBA pixels and options.
Module['reduce'] = function (rgba, width, height, options) {
  rgba = vldBytes(rgba, 'rgba');
  vldSize(width, 'width');
  vldSize(height, 'height');
  if (rgba.length !== width * height * 4) throw new RangeError('rgba must hold width * height * 4 bytes');
  options = options || {};
  var dither = DITHER.get(options.dither === undefined ? 'none' : options.dither);
  if (dither === undefined) throw new RangeError('dither must be one of ' + Array.from(DITHER.keys()).join(', '));
  var palette = options.palette === undefined ? null : vldPalette(options.palette);
  var input = 0, palettePointer = 0, picture = 0;
  try {
    input = vldCopyIn(rgba);
    if (palette) {
      palettePointer = vldAlloc(8);
      HEAPU16.set(palette, palettePointer >> 1);
    }
    picture = _web_picture_new();
    if (!picture) throw new Error('out of memory');
    var code = _web_reduce(input, width, height, dither, palettePointer, picture);
    if (code !== 0) throw new Error(UTF8ToString(_vld_error_text(code)));
    return vldReadPicture(picture);
  } finally {
    _web_picture_delete(picture);
    _free(palettePointer);
    _free(input);
  }
};

// What vldtool encode keeps of a palette image whose pixels use entries 0-3
// only (entries: [[r, g, b, a], ...]; knownWords: the four words its PNG
// text gives, or undefined); null where it reduces the image instead.
Module['keepPalette'] = function (indices, width, height, entries, knownWords) {
  indices = vldBytes(indices, 'indices');
  vldSize(width, 'width');
  vldSize(height, 'height');
  if (indices.length !== width * height) throw new RangeError('indices must hold width * height bytes');
  var flat = new Uint8Array(4 * entries.length);
  entries.forEach(function (e, k) { flat.set(e, 4 * k); });
  var input = 0, colours = 0, words = 0, picture = 0;
  try {
    input = vldCopyIn(indices);
    colours = vldCopyIn(flat);
    if (knownWords) {
      words = vldAlloc(8);
      HEAPU16.set(vldPalette(knownWords), words >> 1);
    }
    picture = _web_picture_new();
    if (!picture) throw new Error('out of memory');
    var code = _vld_keep_palette(input, width, height, colours, entries.length, words, picture);
    if (code !== 0) return null;
    return vldReadPicture(picture);
  } finally {
    _web_picture_delete(picture);
    _free(words);
    _free(colours);
    _free(input);
  }
};

// A copy of `bytes` in the module's memory for vldtool's C++, to be given
// back with _web_bytes_delete.
function vldBytesIn(bytes) {
  var handle = _web_bytes_new(bytes.length);
  if (!handle) throw new Error('out of memory');
  HEAPU8.set(bytes, _web_bytes_data(handle));
  return handle;
}

// What a PNG's text chunks say, read as vldtool encode reads them:
// {comment, anchor: [x, y], palette: [four words]}, each only where the PNG
// gives it intact.
Module['pngText'] = function (png) {
  png = vldBytes(png, 'png');
  var handle = vldBytesIn(png), text = 0, fields = 0;
  try {
    text = _web_png_text(handle);
    fields = vldAlloc(40);
    if (!text) throw new Error('out of memory');
    _web_png_text_fields(text, fields);
    var f = HEAPU32.slice(fields >> 2, (fields >> 2) + 10), found = {};
    var comment = _web_png_comment(text);
    if (f[0]) found.comment = new TextDecoder().decode(HEAPU8.slice(comment, comment + f[1]));
    if (f[2]) found.anchor = [f[3], f[4]];
    if (f[5]) found.palette = Array.from(f.subarray(6, 10));
    return found;
  } finally {
    _free(fields);
    _web_png_text_delete(text);
    _web_bytes_delete(handle);
  }
};

// Why vldtool would refuse this PNG before decoding it (compressed data
// going on after the last row, say), or '' where it reads it.
Module['pngRefusal'] = function (png) {
  png = vldBytes(png, 'png');
  var handle = vldBytesIn(png), reason = 0;
  try {
    reason = vldAlloc(200);
    return _web_png_refusal(handle, reason) ? UTF8ToString(reason) : '';
  } finally {
    _free(reason);
    _web_bytes_delete(handle);
  }
};

// [red, green, blue] a palette word shows as, 8 bits each.
Module['rgb'] = function (word) {
  var packed = _web_rgb(vldWord(word, 'word'));
  return [packed & 255, (packed >> 8) & 255, (packed >> 16) & 255];
};

// The palette word nearest an 8-bit colour.
Module['word'] = function (r, g, b) {
  [r, g, b].forEach(function (v) {
    if (!Number.isInteger(v) || v < 0 || v > 255) throw new RangeError('colour levels must be whole numbers from 0 to 255');
  });
  return _vld_word(r, g, b);
};

Module['version'] = function () {
  return UTF8ToString(_vld_version());
};

// Bytes of memory the module holds; the tests watch it for leaks.
Module['heapBytes'] = function () {
  return HEAPU8.length;
};

// The size vldtool encode --resize GEOMETRY gives an image of width x
// height: [width, height].
Module['resizeSize'] = function (width, height, geometry) {
  vldSize(width, 'width');
  vldSize(height, 'height');
  var text = 0, out = 0;
  try {
    text = vldCopyIn(new TextEncoder().encode(String(geometry) + '\0'));
    out = vldAlloc(8);
    if (!_web_resized_size(text, width, height, out))
      throw Object.assign(new RangeError('cannot resize ' + width + 'x' + height + ' by ' + geometry), { code: 'resize' });
    return [HEAPU32[out >> 2], HEAPU32[(out >> 2) + 1]];
  } finally {
    _free(out);
    _free(text);
  }
};

// RGBA pixels resampled as vldtool encode --resize resamples them.
Module['resize'] = function (rgba, width, height, newWidth, newHeight) {
  rgba = vldBytes(rgba, 'rgba');
  [width, height, newWidth, newHeight].forEach(function (v) { vldSize(v, 'a size'); });
  if (rgba.length !== width * height * 4) throw new RangeError('rgba must hold width * height * 4 bytes');
  var input = 0, output = 0;
  try {
    input = vldCopyIn(rgba);
    output = vldAlloc(newWidth * newHeight * 4);
    if (!_web_resize(input, width, height, output, newWidth, newHeight)) throw new Error('out of memory');
    return new Uint8ClampedArray(HEAPU8.subarray(output, output + newWidth * newHeight * 4));
  } finally {
    _free(output);
    _free(input);
  }
};

// The character vldtool suggests instead of one code page 932 cannot
// hold ('￥' for '¥'), or null.
Module['substitute'] = function (character) {
  var text = vldCopyIn(new TextEncoder().encode(String(character) + '\0'));
  try {
    var found = _web_cp932_substitute(text);
    return found ? UTF8ToString(found) : null;
  } finally {
    _free(text);
  }
};
