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

  page.startConversion = function (file) {
    // A new image: the last one's memory may go with its worker.
    engine.recycle();
    page.showMode('converter');
    conversion.ready = false;
    conversion.file = null;
    $('download-vld').disabled = true;
    stageShown('load');
    // Each image starts from vldtool encode's defaults for it: a PNG's text
    // gives the comment, the anchor and the palette words, read by vldtool's
    // own code in the module, which also refuses a PNG whose compressed data
    // goes on after its last row before the browser decodes it.
    var png = false, known = null;
    var textRead = file.arrayBuffer().then(function (buffer) {
      var bytes = new Uint8Array(buffer);
      png = bytes.length > 8 && latin1Of(bytes.subarray(0, 4)) === '\x89PNG';
      return png ? engine.request({ op: 'png', png: bytes }, [bytes.buffer]) : { text: {} };
    }).then(function (answer) {
      var text = answer.text;
      $('comment').value = text.comment === undefined ? '' : text.comment;
      $('anchor-x').value = text.anchor ? text.anchor[0] : 0;
      $('anchor-y').value = text.anchor ? text.anchor[1] : 0;
      known = text.palette || null;
    });
    return track(textRead.then(function () { return loadBitmap(file); }).then(function (bitmap) {
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
      var transfer = [];
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
        context.putImageData(page.regionImage(answer.picture, 0, 0, answer.picture.width, answer.picture.height, false), 0, 0);
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
