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

  // What went wrong, where the preview was; nothing else of the last image
  // stays to mislead.
  function failed(text, action) {
    conversion.ready = false;
    conversion.file = null;
    ['preview', 'options', 'converter-warning'].forEach(function (id) { $(id).hidden = true; });
    document.querySelector('.download-bar').hidden = true;
    var box = $('convert-error');
    box.textContent = text;
    if (action) box.append(document.createElement('br'), action);
    box.hidden = false;
  }

  page.startConversion = function (file) {
    return page.isPicture(file).then(function (picture) {
      if (!picture) return convertImage(file);
      page.showMode('converter');
      $('converter-name').textContent = file.name;
      var open = document.createElement('button');
      open.type = 'button';
      open.textContent = t('openIt');
      open.onclick = function () {
        page.openBytes([{ name: file.name, bytes: file.arrayBuffer().then(function (b) { return new Uint8Array(b); }) }]);
      };
      failed(t('isPicture', file.name), open);
    });
  };

  function convertImage(file) {
    // A new image: the last one's memory may go with its worker.
    engine.recycle();
    page.showMode('converter');
    conversion.ready = false;
    conversion.file = null;
    conversion.originalBytes = file.size;
    $('download-vld').disabled = true;
    $('result-size').textContent = '';
    stageShown('load');
    // Each image starts from vldtool encode's defaults for it: a PNG's text
    // gives the comment, the anchor and the palette words, read by vldtool's
    // own code in the module, which also refuses a PNG whose compressed data
    // goes on after its last row before the browser decodes it.
    var png = false, known = null;
    var textRead = file.arrayBuffer().then(function (buffer) {
      var bytes = new Uint8Array(buffer);
      png = bytes.length > 8 && latin1Of(bytes.subarray(0, 4)) === '\x89PNG';
      return png ? engine.request({ op: 'png', png: bytes }, [bytes.buffer]).catch(function (error) {
        error.png = true;
        throw error;
      }) : { text: {} };
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
      $('convert-error').hidden = true;
      ['preview', 'options'].forEach(function (id) { $(id).hidden = false; });
      document.querySelector('.download-bar').hidden = false;
      // Larger than the reference screen: fitted to it unless the person says otherwise.
      $('fit-screen').checked = bitmap.width > SCREEN_WIDTH || bitmap.height > SCREEN_HEIGHT;
      conversion.sizeEdited = null;
      $('size-w').value = bitmap.width;
      $('size-h').value = bitmap.height;
      $('size-note').textContent = t('sizeNote', bitmap.width, bitmap.height);
      $('converter-warning').hidden = true;
      var original = $('original');
      original.width = bitmap.width;
      original.height = bitmap.height;
      var context = original.getContext('2d');
      context.clearRect(0, 0, bitmap.width, bitmap.height);
      context.drawImage(bitmap, 0, 0);
      $('result').width = bitmap.width;
      $('result').height = bitmap.height;
      $('result').getContext('2d').clearRect(0, 0, bitmap.width, bitmap.height);
      $('result-palette').textContent = '';
      page.preview.show(bitmap.width, bitmap.height);
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
    })).then(function (answer) {
      $('size-options').hidden = !answer.resizes;
      conversion.ready = true;
      convert();
    }, function (error) {
      $('converter-name').textContent = file.name;
      // vldtool's refusal of a PNG whose data would inflate far past its pixels.
      failed(error && error.png ? t('pngRefused', file.name, error.message) : t('cannotConvert', file.name));
    });
  }

  // The size as vldtool encode --resize takes it: the reference screen's
  // box, shrinking only, or the width or height typed, the other following
  // the image's shape. The module works out the size, as vldtool does.
  function resizeGeometry() {
    if ($('size-options').hidden) return null;
    if ($('fit-screen').checked) return SCREEN_WIDTH + 'x' + SCREEN_HEIGHT + '>';
    var typed = conversion.sizeEdited && Math.floor(Number($(conversion.sizeEdited).value));
    if (!(typed >= 1 && typed <= 65535)) return null;
    return conversion.sizeEdited === 'size-w' ? typed + 'x' : 'x' + typed;
  }
  ['size-w', 'size-h'].forEach(function (id) {
    $(id).addEventListener('input', function () {
      conversion.sizeEdited = id;
      $('fit-screen').checked = false;
      convert();
    });
  });
  $('fit-screen').addEventListener('change', function () {
    conversion.sizeEdited = null;
    convert();
  });

  // The result's size in the fields (but the one being typed) and on the
  // preview, which shows the result 1:1 and the original over it.
  function showSize(picture) {
    $('size-note').textContent = t('sizeNote', conversion.width, conversion.height);
    ['size-w', 'size-h'].forEach(function (id, i) {
      if (document.activeElement !== $(id)) $(id).value = i ? picture.height : picture.width;
    });
    var large = picture.width > SCREEN_WIDTH || picture.height > SCREEN_HEIGHT;
    $('converter-warning').hidden = !large;
    $('converter-warning').textContent = large ? t('tooLarge', picture.width, picture.height) : '';
    if ($('result').width !== picture.width || $('result').height !== picture.height) {
      $('result').width = picture.width;
      $('result').height = picture.height;
      page.preview.show(picture.width, picture.height, true);
    }
  }

  // Progress for work that takes long enough to notice.
  var progressTimer = 0;
  function stageShown(stage) {
    $('progress-text').textContent = t({ load: 'stageLoad', pixels: 'stagePixels', resize: 'stageResize', reduce: 'stageReduce', encode: 'stageEncode' }[stage]);
  }
  function track(promise) {
    clearTimeout(progressTimer);
    progressTimer = setTimeout(function () { $('progress-row').hidden = false; }, 150);
    var done = function () { clearTimeout(progressTimer); $('progress-row').hidden = true; };
    promise.then(done, done);
    return promise;
  }

  // Every character code page 932 lacks, named at once, with the usual
  // stand-in where there is one; and the bytes counted as the viewer counts.
  function currentComment() {
    var result = cp932.encode($('comment').value, 127);
    var box = $('comment-error');
    box.textContent = '';
    var lines = [];
    var say = function (line) {
      var p = document.createElement('p');
      p.textContent = line;
      box.append(p);
    };
    if (result.bad.length) lines.push(t('commentBad', result.bad.map(function (b) { return t('commentNone', '“' + b.character + '”', b.name); }).join(t('and'))));
    if (result.terminator) lines.push(t('commentTerminator'));
    if (result.length > 127) lines.push(t('commentLong', result.length));
    lines.forEach(say);
    box.hidden = !lines.length;
    // The stand-ins come from vldtool's table in the module.
    var text = $('comment').value;
    if (result.bad.length) engine.request({ op: 'substitutes', characters: result.bad.map(function (b) { return b.character; }) }).then(function (answer) {
      var pairs = result.bad.map(function (b, i) { return { character: b.character, replacement: answer.replacements[i] }; })
                            .filter(function (p) { return p.replacement; });
      if ($('comment').value !== text || !pairs.length) return;
      say(pairs.map(function (p) { return t('commentSuggest', '“' + p.replacement + '”', '“' + p.character + '”'); }).join(' '));
      var fix = document.createElement('button');
      fix.type = 'button';
      fix.id = 'comment-fix';
      fix.textContent = t('commentReplace');
      fix.onclick = function () {
        $('comment').value = cp932.replaceAll($('comment').value, pairs);
        convert();
      };
      box.append(fix);
    });
    $('comment').setAttribute('aria-invalid', String(!!lines.length));
    $('comment-count').textContent = t('commentCount', result.length);
    return result.bytes;
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
    // The comment's problems show as it is typed, even while a run goes on.
    var comment = currentComment();
    if (conversion.busy) { conversion.again = true; return; }
    if (!comment) return;
    var options = { dither: $('dither').value };
    var given = document.querySelector('input[name="colours"]:checked').value === 'given';
    var colourInputs = [0, 1, 2, 3].map(function (i) { return $('colour-' + i); });
    var words = given ? Promise.all(colourInputs.map(function (input) {
      var v = parseInt(input.value.slice(1), 16);
      return engine.request({ op: 'word', r: v >> 16, g: (v >> 8) & 255, b: v & 255 });
    })) : Promise.resolve(null);
    conversion.busy = true;
    var anchorX = anchorValue($('anchor-x')), anchorY = anchorValue($('anchor-y'));
    var job = words.then(function (answers) {
      if (answers) options.palette = answers.map(function (a) { return a.word; });
      return engine.request({ op: 'convert', options: options, anchorX: anchorX, anchorY: anchorY, comment: comment, resize: resizeGeometry() },
                            [], stageShown);
    });
    track(job).then(function (answer) {
      conversion.picture = answer.picture;
      conversion.file = answer.file;
      conversion.anchorX = anchorX;
      conversion.anchorY = anchorY;
      var result = $('result');
      showSize(answer.picture);
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
      var kb = function (n) { return (n / 1024).toFixed(1); };
      $('result-size').textContent = t('fileSizes', kb(answer.file.length), kb(conversion.originalBytes));
      $('download-vld').disabled = conversion.again;
      status('');
    }, function (error) {
      // A size no picture can take is said beside the size fields.
      if (error.code === 'resize') $('size-note').textContent = t('sizeRefused');
      else status(page.reason(error));
    }).then(function () {
      conversion.busy = false;
      if (conversion.again) {
        conversion.again = false;
        convert();
      }
    });
  }

  ['dither', 'anchor-x', 'anchor-y', 'comment'].forEach(function (id) {
    $(id).addEventListener('input', convert);
  });
  // A colour well chooses "these four" by being used, not only after the
  // radio button; picking from the image fills the well used last.
  var lastWell = 0;
  function useWells() {
    document.querySelector('input[name="colours"][value="given"]').checked = true;
    convert();
  }
  [0, 1, 2, 3].forEach(function (i) {
    var well = $('colour-' + i);
    well.addEventListener('input', useWells);
    well.addEventListener('click', function () { lastWell = i; });
    well.addEventListener('focus', function () { lastWell = i; });
  });
  $('pick-colour').onclick = function () {
    var on = $('pick-colour').getAttribute('aria-pressed') !== 'true';
    var stop = function () {
      $('pick-colour').setAttribute('aria-pressed', 'false');
      $('pick-note').hidden = true;
    };
    $('pick-colour').setAttribute('aria-pressed', String(on));
    $('pick-note').hidden = !on;
    $('pick-note').textContent = t('pickNote', lastWell);
    page.preview.pick(on ? function (rgb) {
      stop();
      $('colour-' + lastWell).value = cssColour(rgb);
      useWells();
    } : null);
    if (!on) stop();
  };
  document.querySelectorAll('input[name="colours"]').forEach(function (radio) { radio.addEventListener('change', convert); });
  $('download-vld').onclick = function () {
    if (conversion.file) page.download(conversion.file, page.baseName(conversion.name) + '.vld', 'application/octet-stream');
  };

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
})(vldPage);
