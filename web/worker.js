// The page's work on pictures, run in a Web Worker started from this
// function's own text (so it also works from file://), or on the page itself
// where no worker can be made. Messages carry an `id`; each gets one answer,
// after any number of {id, stage} notes for the progress display.

var modulePromise = createVld();
// The image being converted and the last reduction of it, kept here so that
// changing the anchor or the comment only encodes again.
var source = null;
// The PNG being converted, held from its text's reading to its pixels'.
var sourcePng = null;
var reduced = null;
var reducedKey = '';

function withColours(vld, picture) {
  picture.colours = picture.palette.map(function (word) { return vld.rgb(word); });
  return picture;
}

// The boxes a picture is averaged down to fit when it is larger: the list's
// thumbnail, and the view of it zoomed out.
var SHRINK_BOXES = [256, 128, 2048, 1024];

// RGBA pixels of an image file as the browser decodes it, untouched by
// colour management, as vldtool reads the file's own samples.
function imagePixels(bitmap) {
  var canvas = new OffscreenCanvas(bitmap.width, bitmap.height);
  var context = canvas.getContext('2d');
  context.drawImage(bitmap, 0, 0);
  bitmap.close();
  return context.getImageData(0, 0, canvas.width, canvas.height).data;
}

// The indices and entries of a palette PNG (null for any other PNG, and
// for an interlaced one, which is then reduced like true colour).
function paletteIndices(bytes) {
  var view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  var header = null, entries = [], alphas = [], data = [];
  for (var at = 8; at + 12 <= bytes.length;) {
    var length = view.getUint32(at), type = String.fromCharCode.apply(null, bytes.subarray(at + 4, at + 8));
    var body = bytes.subarray(at + 8, Math.min(at + 8 + length, bytes.length));
    if (type === 'IHDR' && length >= 13)
      header = { width: view.getUint32(at + 8), height: view.getUint32(at + 12), depth: body[8], kind: body[9], interlace: body[12] };
    if (type === 'PLTE') for (var e = 0; e + 3 <= length; e += 3) entries.push([body[e], body[e + 1], body[e + 2], 255]);
    if (type === 'tRNS') alphas = Array.from(body);
    if (type === 'IDAT') data.push(body);
    if (type === 'IEND') break;
    at += length + 12;
  }
  if (!header || header.kind !== 3 || header.interlace || [1, 2, 4, 8].indexOf(header.depth) < 0) return Promise.resolve(null);
  alphas.forEach(function (a, k) { if (k < entries.length) entries[k][3] = a; });
  var inflated = new Blob(data).stream().pipeThrough(new DecompressionStream('deflate'));
  return new Response(inflated).arrayBuffer().then(function (buffer) {
    var raw = new Uint8Array(buffer), width = header.width, depth = header.depth;
    var stride = Math.ceil(width * depth / 8);
    if (raw.length < (stride + 1) * header.height) return null;
    var row = new Uint8Array(stride), previous = new Uint8Array(stride);
    var indices = new Uint8Array(width * header.height);
    for (var y = 0; y < header.height; ++y) {
      var filter = raw[y * (stride + 1)], line = raw.subarray(y * (stride + 1) + 1, (y + 1) * (stride + 1));
      for (var x = 0; x < stride; ++x) {
        var a = x ? row[x - 1] : 0, b = previous[x], c = x ? previous[x - 1] : 0, p = a + b - c;
        var paeth = Math.abs(p - a) <= Math.abs(p - b) && Math.abs(p - a) <= Math.abs(p - c) ? a : Math.abs(p - b) <= Math.abs(p - c) ? b : c;
        row[x] = (line[x] + [0, a, b, (a + b) >> 1, paeth][filter]) & 255;
      }
      for (x = 0; x < width; ++x) {
        var bit = x * depth;
        indices[y * width + x] = (row[bit >> 3] >> (8 - depth - (bit & 7))) & ((1 << depth) - 1);
      }
      previous.set(row);
    }
    return { width: width, height: header.height, indices: indices, entries: entries };
  });
}

function handleMessage(message, send) {
  modulePromise.then(function (vld) {
    var id = message.id;
    // Each answer says how large the module has grown; the page ends a
    // worker that has grown large (see page.js).
    var reply = function (answer, transfer) {
      answer.heap = vld.heapBytes();
      send(answer, transfer);
    };
    var stage = function (name) { reply({ id: id, stage: name }); };
    try {
      if (message.op === 'decode') {
        var picture = withColours(vld, vld.decodeView(message.bytes, SHRINK_BOXES));
        picture.thumb = picture.shrunk[0];
        picture.zoomedOut = picture.shrunk[1];
        delete picture.shrunk;
        var buffers = [picture.indices.buffer, picture.comment.buffer];
        [picture.thumb, picture.zoomedOut].forEach(function (copy) { if (copy) buffers.push(copy.rgba.buffer); });
        reply({ id: id, picture: picture }, buffers);
      } else if (message.op === 'png') {
        sourcePng = null;
        var refusal = vld.pngRefusal(message.png);
        if (refusal) throw new Error(refusal);
        var text = vld.pngText(message.png);
        sourcePng = message.png;
        reply({ id: id, text: text });
      } else if (message.op === 'source') {
        stage('pixels');
        var rgba = message.rgba || imagePixels(message.bitmap);
        source = null;
        reduced = null;
        // Without a deflate stream (older browsers) the image is reduced.
        Promise.resolve().then(function () {
          var png = message.png ? sourcePng : null;
          sourcePng = null;
          return png && typeof DecompressionStream !== 'undefined' ? paletteIndices(png) : null;
        }).catch(function () { return null; }).then(function (png) {
          source = { rgba: rgba, width: message.width, height: message.height,
                     kept: png && vld.keepPalette(png.indices, png.width, png.height, png.entries, message.knownWords) };
          reply({ id: id, ok: true, resizes: typeof vld.resize === 'function' });
        }).catch(function (error) { reply({ id: id, error: String(error) }); });
      } else if (message.op === 'convert') {
        if (!source) throw new Error('open the image again');
        var options = message.options;
        var key = JSON.stringify([options, message.resize]);
        if (!reduced || key !== reducedKey) {
          reduced = null;
          // As vldtool encode --resize GEOMETRY: the size and the resampling
          // are the module's, the same code as vldtool's.
          var image = source;
          if (message.resize) {
            stage('resize');
            var size = vld.resizeSize(source.width, source.height, message.resize);
            if (size[0] !== source.width || size[1] !== source.height)
              image = { width: size[0], height: size[1], rgba: vld.resize(source.rgba, source.width, source.height, size[0], size[1]) };
          }
          stage('reduce');
          // As vldtool encode: a palette image's own indices unless colours are given.
          reduced = image === source && source.kept && !options.palette ? vld.decode(vld.encode(source.kept))
                  : vld.reduce(image.rgba, image.width, image.height, options);
          reducedKey = key;
        }
        stage('encode');
        var file = vld.encode({
          width: reduced.width, height: reduced.height, palette: reduced.palette,
          indices: reduced.indices, anchorX: message.anchorX, anchorY: message.anchorY,
          comment: message.comment
        });
        var shown = withColours(vld, {
          width: reduced.width, height: reduced.height, palette: reduced.palette.slice(),
          indices: new Uint8Array(0), comment: new Uint8Array(0)
        });
        var transfer = [file.buffer];
        if (typeof OffscreenCanvas !== 'undefined') {
          // Drawn here, so the page only blits a bitmap, however large.
          var canvas = new OffscreenCanvas(reduced.width, reduced.height);
          canvas.getContext('2d').putImageData(new ImageData(reduced.rgba, reduced.width, reduced.height), 0, 0);
          shown.bitmap = canvas.transferToImageBitmap();
          transfer.push(shown.bitmap);
        } else {
          shown.indices = reduced.indices.slice();
          transfer.push(shown.indices.buffer);
        }
        reply({ id: id, picture: shown, file: file }, transfer);
      } else if (message.op === 'substitutes') {
        reply({ id: id, replacements: message.characters.map(function (c) { return vld.substitute(c); }) });
      } else if (message.op === 'word') {
        reply({ id: id, word: vld.word(message.r, message.g, message.b) });
      } else {
        throw new Error('unknown request ' + message.op);
      }
    } catch (error) {
      if (error instanceof WebAssembly.RuntimeError) {
        // An abort (memory exhausted inside the library) leaves the module
        // unusable: start a fresh one for the next request.
        modulePromise = createVld();
        source = null;
        reduced = null;
      }
      reply({ id: id, error: error && error.message ? error.message : String(error), code: error && error.code,
              kind: error instanceof RangeError && message.op === 'decode' ? 'memory' : undefined });
    }
  }, function (error) {
    send({ id: message.id, error: 'the module did not start: ' + error });
  });
}

if (inWorker) {
  self.onmessage = function (event) {
    handleMessage(event.data, function (answer, transfer) { self.postMessage(answer, transfer || []); });
  };
  // Running: a failure from now on is this worker's, not one of starting.
  self.postMessage({});
}
return handleMessage;
