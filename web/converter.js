// Converting an image: the options, the result beside the original, and
// the file vldtool encode would write for them.
(function (page) {
  'use strict';
  var t = page.t, $ = page.$, engine = page.engine, status = page.status;
  var SCREEN_WIDTH = page.SCREEN_WIDTH, SCREEN_HEIGHT = page.SCREEN_HEIGHT;
  var latin1Of = page.latin1Of, drawScreen = page.drawScreen, fillPalette = page.fillPalette, cssColour = page.cssColour;

  var conversion = page.conversion = { name: '', width: 0, height: 0, ready: false, busy: false, again: false, file: null, picture: null };

  function loadBitmap(file) {
    var options = { premultiplyAlpha: 'none', colorSpaceConversion: 'none' };
    return createImageBitmap(file, options).catch(function () {
      // Some kinds (SVG) only decode through an image element.
      return new Promise(function (resolve, reject) {
        var image = new Image();
        image.onload = function () { resolve(createImageBitmap(image, options)); };
        image.onerror = reject;
        image.src = URL.createObjectURL(file);
      });
    });
  }

  // The comment and anchor a PNG carries as text (as vldtool decode writes
  // them), which vldtool encode takes unless told otherwise. Chunks that are
  // damaged or compressed are passed over, as vldtool does.
  var crcTable = null;
  function crc32(bytes) {
    if (!crcTable) {
      crcTable = new Int32Array(256);
      for (var n = 0; n < 256; ++n) {
        var c = n;
        for (var k = 0; k < 8; ++k) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
        crcTable[n] = c;
      }
    }
    var crc = -1;
    for (var i = 0; i < bytes.length; ++i) crc = crcTable[(crc ^ bytes[i]) & 255] ^ (crc >>> 8);
    return (crc ^ -1) >>> 0;
  }
  // A number as vldtool reads one: decimal or 0x hex ("010" is ten).
  function wordNumber(text) {
    if (!/^(0[xX][0-9a-fA-F]+|[0-9]+)$/.test(text)) return -1;
    var value = /^0[xX]/.test(text) ? parseInt(text.slice(2), 16) : parseInt(text, 10);
    return value <= 65535 ? value : -1;
  }
  function pngText(bytes) {
    var found = {};
    var view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
    var utf8 = new TextDecoder('utf-8');
    for (var at = 8; at + 12 <= bytes.length;) {
      var length = view.getUint32(at);
      if (length > bytes.length - at - 12) break;
      var type = latin1Of(bytes.subarray(at + 4, at + 8));
      var data = bytes.subarray(at + 8, at + 8 + length);
      var intact = crc32(bytes.subarray(at + 4, at + 8 + length)) === view.getUint32(at + 8 + length);
      at += length + 12;
      if (type === 'IDAT' || type === 'IEND') break;
      if (!intact || (type !== 'tEXt' && type !== 'iTXt')) continue;
      var end = data.indexOf(0);
      if (end < 0) continue;
      var keyword = latin1Of(data.subarray(0, end)), text = data.subarray(end + 1);
      if (type === 'iTXt') {
        if (text.length < 2 || text[0] !== 0) continue;
        var language = text.indexOf(0, 2), translated = language < 0 ? -1 : text.indexOf(0, language + 1);
        if (translated < 0) continue;
        text = text.subarray(translated + 1);
      }
      var value = type === 'iTXt' ? utf8.decode(text) : latin1Of(text);
      if (keyword === 'Comment') found.comment = value;
      if (keyword === 'Palette') {
        var entries = value.split(',').map(wordNumber);
        found.palette = entries.length === 4 && entries.every(function (w) { return w >= 0; }) ? entries : undefined;
      }
      if (keyword === 'Anchor') {
        var words = value.split(',').map(wordNumber);
        found.anchor = words.length === 2 && words.every(function (w) { return w >= 0; }) ? words : undefined;
      }
    }
    return found;
  }

  page.startConversion = function (file) {
    page.showMode('converter');
    conversion.ready = false;
    conversion.file = null;
    $('download-vld').disabled = true;
    stageShown('load');
    // Each image starts from vldtool encode's defaults for it.
    var png = null, known = null;
    var textRead = file.arrayBuffer().then(function (buffer) {
      var bytes = new Uint8Array(buffer);
      png = bytes.length > 8 && latin1Of(bytes.subarray(0, 4)) === '\x89PNG' ? bytes : null;
      var text = png ? pngText(bytes) : {};
      $('comment').value = text.comment === undefined ? '' : text.comment;
      $('anchor-x').value = text.anchor ? text.anchor[0] : 0;
      $('anchor-y').value = text.anchor ? text.anchor[1] : 0;
      known = text.palette || null;
    });
    return track(Promise.all([loadBitmap(file), textRead]).then(function (loaded) {
      var bitmap = loaded[0];
      conversion.name = file.name;
      conversion.width = bitmap.width;
      conversion.height = bitmap.height;
      page.showMode('converter');
      $('converter-name').textContent = file.name;
      var large = bitmap.width > SCREEN_WIDTH || bitmap.height > SCREEN_HEIGHT;
      $('converter-warning').hidden = !large;
      $('converter-warning').textContent = large ? t('tooLarge', bitmap.width, bitmap.height) : '';
      var original = $('original');
      original.width = bitmap.width;
      original.height = bitmap.height;
      var context = original.getContext('2d');
      context.clearRect(0, 0, bitmap.width, bitmap.height);
      context.drawImage(bitmap, 0, 0);
      $('result').width = bitmap.width;
      $('result').height = bitmap.height;
      $('compare').style.aspectRatio = bitmap.width + ' / ' + bitmap.height;
      $('compare').style.maxWidth = bitmap.width + 'px';
      // A palette PNG goes along too: vldtool keeps the indices of one that
      // uses only the first four entries.
      var message = { op: 'source', width: bitmap.width, height: bitmap.height, png: png, knownWords: known };
      var transfer = png ? [png.buffer] : [];
      if (engine.offscreen()) {
        message.bitmap = bitmap;
        transfer.push(bitmap);
      } else {
        message.rgba = context.getImageData(0, 0, bitmap.width, bitmap.height).data;
        transfer.push(message.rgba.buffer);
        bitmap.close();
      }
      drawScreen($('converter-screen'), null);
      return engine.request(message, transfer, stageShown);
    })).then(function () {
      conversion.ready = true;
      convert();
    }, function (error) {
      status(t('notImage', file.name) + (error && error.message ? ' (' + error.message + ')' : ''));
    });
  };

  // Progress for work that takes long enough to notice.
  var progressTimer = 0;
  function stageShown(stage) {
    $('progress-text').textContent = t({ load: 'stageLoad', pixels: 'stagePixels', reduce: 'stageReduce', encode: 'stageEncode' }[stage]);
  }
  function track(promise) {
    clearTimeout(progressTimer);
    progressTimer = setTimeout(function () { $('progress-row').hidden = false; }, 150);
    var done = function () { clearTimeout(progressTimer); $('progress-row').hidden = true; };
    promise.then(done, done);
    return promise;
  }

  function currentComment() {
    var result = cp932.encode($('comment').value, 127);
    var box = $('comment-error');
    box.hidden = !result.error;
    $('comment').setAttribute('aria-invalid', String(!!result.error));
    box.textContent = result.error === 'character' ? t('commentCharacter', result.character, result.name)
                    : result.error === 'terminator' ? t('commentTerminator')
                    : result.error === 'long' ? t('commentLong', result.length) : '';
    return result.bytes || null;
  }

  function anchorValue(input) {
    var value = Math.floor(Number(input.value));
    return Number.isFinite(value) ? Math.max(0, Math.min(65535, value)) : 0;
  }

  // Runs the conversion with the options as they are now; a change while it
  // runs is picked up when it ends.
  function convert() {
    if (!conversion.ready) return;
    // Until the file for the options as they now are is made, there is
    // nothing to download: the last one would not match what is shown.
    $('download-vld').disabled = true;
    if (conversion.busy) { conversion.again = true; return; }
    var comment = currentComment();
    if (!comment) {
      $('download-vld').disabled = true;
      return;
    }
    var options = { dither: $('dither').value };
    var given = document.querySelector('input[name="colours"]:checked').value === 'given';
    var colourInputs = [0, 1, 2, 3].map(function (i) { return $('colour-' + i); });
    colourInputs.forEach(function (input) { input.disabled = !given; });
    var words = given ? Promise.all(colourInputs.map(function (input) {
      var v = parseInt(input.value.slice(1), 16);
      return engine.request({ op: 'word', r: v >> 16, g: (v >> 8) & 255, b: v & 255 });
    })) : Promise.resolve(null);
    conversion.busy = true;
    var anchorX = anchorValue($('anchor-x')), anchorY = anchorValue($('anchor-y'));
    var job = words.then(function (answers) {
      if (answers) options.palette = answers.map(function (a) { return a.word; });
      return engine.request({ op: 'convert', options: options, anchorX: anchorX, anchorY: anchorY, comment: comment },
                            [], stageShown);
    });
    track(job).then(function (answer) {
      conversion.picture = answer.picture;
      conversion.file = answer.file;
      conversion.anchorX = anchorX;
      conversion.anchorY = anchorY;
      var result = $('result');
      var context = result.getContext('2d');
      if (answer.picture.bitmap) {
        context.clearRect(0, 0, result.width, result.height);
        context.drawImage(answer.picture.bitmap, 0, 0);
        answer.picture.bitmap.close();
      } else {
        context.putImageData(page.pictureImage(answer.picture, false), 0, 0);
      }
      fillPalette($('result-palette'), answer.picture);
      // The pickers show the colours in use, ready to be changed by hand.
      if (!options.palette) {
        answer.picture.colours.forEach(function (rgb, i) { $('colour-' + i).value = cssColour(rgb); });
      }
      drawScreen($('converter-screen'), answer.picture, result, anchorX, anchorY);
      $('result-size').textContent = t('fileSize', answer.file.length);
      $('download-vld').disabled = conversion.again;
      status('');
    }, function (error) {
      status(error.message);
    }).then(function () {
      conversion.busy = false;
      if (conversion.again) {
        conversion.again = false;
        convert();
      }
    });
  }

  ['dither', 'anchor-x', 'anchor-y', 'comment', 'colour-0', 'colour-1', 'colour-2', 'colour-3'].forEach(function (id) {
    $(id).addEventListener('input', convert);
  });
  document.querySelectorAll('input[name="colours"]').forEach(function (radio) { radio.addEventListener('change', convert); });
  $('download-vld').onclick = function () {
    if (conversion.file) page.download(conversion.file, page.baseName(conversion.name) + '.vld', 'application/octet-stream');
  };
  $('split').addEventListener('input', function () {
    $('result').style.clipPath = 'inset(0 0 0 ' + $('split').value + '%)';
  });

  function setAnchor(x, y) {
    $('anchor-x').value = Math.max(0, Math.min(65535, x));
    $('anchor-y').value = Math.max(0, Math.min(65535, y));
    convert();
  }
  $('converter-screen').addEventListener('click', function (event) {
    var box = event.currentTarget.getBoundingClientRect();
    setAnchor(Math.floor((event.clientX - box.left) * SCREEN_WIDTH / box.width),
              Math.floor((event.clientY - box.top) * SCREEN_HEIGHT / box.height));
  });
  $('converter-screen').addEventListener('keydown', function (event) {
    var step = event.shiftKey ? 16 : 1;
    var moves = { ArrowLeft: [-step, 0], ArrowRight: [step, 0], ArrowUp: [0, -step], ArrowDown: [0, step] };
    var move = moves[event.key];
    if (!move) return;
    event.preventDefault();
    setAnchor(anchorValue($('anchor-x')) + move[0], anchorValue($('anchor-y')) + move[1]);
  });
  $('result').style.clipPath = 'inset(0 0 0 50%)';
})(vldPage);
