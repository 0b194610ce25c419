// The page's work on pictures, run in a Web Worker started from this
// function's own text (so it also works from file://), or on the page itself
// where no worker can be made. Messages carry an `id`; each gets one answer,
// after any number of {id, stage} notes for the progress display.

var modulePromise = createVld();
// The image being converted and the last reduction of it, kept here so that
// changing the anchor or the comment only encodes again.
var source = null;
var reduced = null;
var reducedKey = '';

function withColours(vld, picture) {
  picture.colours = picture.palette.map(function (word) { return vld.rgb(word); });
  return picture;
}

function pictureBuffers(picture) {
  return [picture.indices.buffer, picture.rgba.buffer, picture.comment.buffer];
}

// RGBA pixels of an image file as the browser decodes it, untouched by
// colour management, as vldtool reads the file's own samples.
function imagePixels(bitmap) {
  var canvas = new OffscreenCanvas(bitmap.width, bitmap.height);
  var context = canvas.getContext('2d');
  context.drawImage(bitmap, 0, 0);
  bitmap.close();
  return context.getImageData(0, 0, canvas.width, canvas.height).data;
}

function handleMessage(message, reply) {
  modulePromise.then(function (vld) {
    var id = message.id;
    var stage = function (name) { reply({ id: id, stage: name }); };
    try {
      if (message.op === 'decode') {
        var picture = withColours(vld, vld.decode(message.bytes));
        reply({ id: id, picture: picture }, pictureBuffers(picture));
      } else if (message.op === 'source') {
        stage('pixels');
        var rgba = message.rgba || imagePixels(message.bitmap);
        source = { rgba: rgba, width: message.width, height: message.height };
        reduced = null;
        reply({ id: id, ok: true });
      } else if (message.op === 'convert') {
        if (!source) throw new Error('open the image again');
        var options = message.options;
        var key = JSON.stringify(options);
        if (!reduced || key !== reducedKey) {
          stage('reduce');
          reduced = null;
          reduced = vld.reduce(source.rgba, source.width, source.height, options);
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
          indices: new Uint8Array(0), comment: new Uint8Array(0), rgba: new Uint8ClampedArray(0)
        });
        var transfer = [file.buffer];
        if (typeof OffscreenCanvas !== 'undefined') {
          // Drawn here, so the page only blits a bitmap, however large.
          var canvas = new OffscreenCanvas(reduced.width, reduced.height);
          canvas.getContext('2d').putImageData(new ImageData(reduced.rgba, reduced.width, reduced.height), 0, 0);
          shown.bitmap = canvas.transferToImageBitmap();
          transfer.push(shown.bitmap);
        } else {
          shown.rgba = reduced.rgba.slice();
          transfer.push(shown.rgba.buffer);
        }
        reply({ id: id, picture: shown, file: file }, transfer);
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
      reply({ id: id, error: error && error.message ? error.message : String(error) });
    }
  }, function (error) {
    reply({ id: message.id, error: 'the module did not start: ' + error });
  });
}

if (inWorker) {
  self.onmessage = function (event) {
    handleMessage(event.data, function (answer, transfer) { self.postMessage(answer, transfer || []); });
  };
}
return handleMessage;
