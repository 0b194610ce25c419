// The page: opening pictures and converting images. The module's work runs
// in the Web Worker made from vldRuntime (vld-page.js).
(function () {
  'use strict';

  var TEXT = {
    en: {
      title: 'Four-colour pictures',
      tagline: 'View .vld and .tft pictures, and make them from any image. Nothing leaves this device.',
      open: 'Open pictures…', convert: 'Convert an image…', drop: 'or drop files on this page',
      modes: 'Mode', modeViewer: 'Pictures', modeConverter: 'Conversion', list: 'Opened pictures',
      zoom: 'Zoom', seethrough: 'See-through', downloadPng: 'Download PNG',
      comment: 'Comment', size: 'Size', anchor: 'Anchor', palette: 'Palette',
      screenCaption: 'Where the viewer places it on a 768 × 512 screen',
      original: 'Original', result: 'Four colours', split: 'Split between original and result',
      dither: 'Dithering', ditherNone: 'None', ditherFs: 'Floyd–Steinberg', ditherOrdered: 'Ordered (4 × 4)',
      colours: 'Colours', coloursAuto: 'Chosen for the picture', coloursGiven: 'These four:',
      colour0: 'Colour 0', colour1: 'Colour 1', colour2: 'Colour 2', colour3: 'Colour 3',
      screenKeys: 'Screen: click or use the arrow keys to move the picture',
      screenClick: 'Click the 768 × 512 screen to put the picture\'s top-left corner there; arrow keys move it.',
      downloadVld: 'Download .vld',
      noComment: '(none)',
      seethroughDenied: 'See-through needs palette word 0 to be 0x0000',
      opening: 'Opening {0}…', opened: '{0} pictures opened', damaged: '{0}: {1}',
      fetchFailed: 'Cannot load {0}: {1}',
      notImage: '{0} is not an image this browser can read',
      stageLoad: 'Opening the image…', stagePixels: 'Reading the pixels…', stageReduce: 'Choosing the colours…', stageEncode: 'Encoding…',
      tooLarge: '{0} × {1} is larger than the 768 × 512 reference screen; the viewer cannot keep it whole on a smaller screen.',
      commentCharacter: 'The character "{0}" ({1}) cannot be stored exactly in code page 932.',
      commentTerminator: 'The comment cannot hold the character 0x1A, which ends it in the file.',
      commentLong: 'The comment is {0} bytes in code page 932; the viewer keeps at most 127.',
      fileSize: '{0} bytes', word: 'word'
    },
    ja: {
      title: '4色画像ビューア',
      tagline: '.vld / .tft 画像を表示し、どんな画像からでも作れます。ファイルはこの端末の外に送られません。',
      open: '画像を開く…', convert: '画像を変換…', drop: 'またはこのページにファイルをドロップ',
      modes: 'モード', modeViewer: '表示', modeConverter: '変換', list: '開いた画像',
      zoom: '拡大', seethrough: '壁紙透過', downloadPng: 'PNG で保存',
      comment: 'コメント', size: 'サイズ', anchor: '表示位置', palette: 'パレット',
      screenCaption: '768 × 512 の画面でビューアが置く位置',
      original: '元の画像', result: '4色', split: '元の画像と結果の境目',
      dither: 'ディザ', ditherNone: 'なし', ditherFs: 'Floyd–Steinberg', ditherOrdered: '組織的 (4 × 4)',
      colours: '色', coloursAuto: '画像に合わせて選ぶ', coloursGiven: '次の4色:',
      colour0: '色 0', colour1: '色 1', colour2: '色 2', colour3: '色 3',
      screenKeys: '画面: クリックまたは矢印キーで画像を動かします',
      screenClick: '768 × 512 の画面をクリックすると、画像の左上がそこに来ます。矢印キーでも動かせます。',
      downloadVld: '.vld で保存',
      noComment: '(なし)',
      seethroughDenied: '壁紙透過はパレット 0 が 0x0000 のときだけ使えます',
      opening: '{0} を開いています…', opened: '{0} 枚の画像を開きました', damaged: '{0}: {1}',
      fetchFailed: '{0} を読み込めません: {1}',
      notImage: '{0} はこのブラウザで読める画像ではありません',
      stageLoad: '画像を開いています…', stagePixels: '画素を読み込み中…', stageReduce: '色を選んでいます…', stageEncode: '符号化中…',
      tooLarge: '{0} × {1} は基準画面 768 × 512 より大きく、小さな画面ではビューアが全体を表示できません。',
      commentCharacter: '文字「{0}」({1}) はコードページ 932 で正確に保存できません。',
      commentTerminator: 'コメントには文字 0x1A を入れられません (ファイルではコメントの終わりを表します)。',
      commentLong: 'コメントはコードページ 932 で {0} バイトです。ビューアが保つのは 127 バイトまでです。',
      fileSize: '{0} バイト', word: 'ワード'
    }
  };
  var lang = /^ja\b/i.test(navigator.language || '') ? 'ja' : 'en';
  function t(key) {
    var args = arguments;
    return TEXT[lang][key].replace(/\{(\d)\}/g, function (_, n) { return args[Number(n) + 1]; });
  }
  document.documentElement.lang = lang;
  document.title = t('title');
  document.querySelectorAll('[data-t]').forEach(function (e) { e.textContent = t(e.dataset.t); });
  document.querySelectorAll('[data-t-label]').forEach(function (e) { e.setAttribute('aria-label', t(e.dataset.tLabel)); });

  var $ = function (id) { return document.getElementById(id); };
  var SCREEN_WIDTH = 768, SCREEN_HEIGHT = 512;

  // ---- The worker ----
  var engine = (function () {
    var pending = new Map(), next = 1, worker = null, inPage = null;
    function receive(answer) {
      var entry = pending.get(answer.id);
      if (!entry) return;
      if (answer.stage) {
        if (entry.onStage) entry.onStage(answer.stage);
        return;
      }
      pending.delete(answer.id);
      if (answer.error) entry.reject(new Error(answer.error));
      else entry.resolve(answer);
    }
    try {
      var blob = new Blob(['(' + vldRuntime.toString() + ')(true);'], { type: 'text/javascript' });
      worker = new Worker(URL.createObjectURL(blob));
      worker.onmessage = function (event) { receive(event.data); };
      worker.onerror = function (event) {
        // A worker that cannot run (a host's policy): do the work on the page.
        event.preventDefault();
        worker = null;
        inPage = inPage || vldRuntime(false);
        pending.forEach(function (entry) { entry.reject(new Error(event.message || 'worker failed')); });
        pending.clear();
      };
    } catch (e) {
      worker = null;
    }
    return {
      offscreen: function () { return worker !== null && typeof OffscreenCanvas !== 'undefined'; },
      request: function (message, transfer, onStage) {
        return new Promise(function (resolve, reject) {
          message.id = next++;
          pending.set(message.id, { resolve: resolve, reject: reject, onStage: onStage });
          if (worker) {
            worker.postMessage(message, transfer || []);
          } else {
            inPage = inPage || vldRuntime(false);
            inPage(message, receive);
          }
        });
      }
    };
  })();

  function status(text) { $('status').textContent = text; }

  function hex(value, digits) { return value.toString(16).toUpperCase().padStart(digits, '0'); }
  function cssColour(rgb) { return '#' + rgb.map(function (v) { return hex(v, 2); }).join('').toLowerCase(); }

  function fillPalette(list, picture) {
    list.textContent = '';
    picture.palette.forEach(function (word, i) {
      var item = document.createElement('li');
      var swatch = document.createElement('span');
      swatch.className = 'swatch';
      swatch.style.background = cssColour(picture.colours[i]);
      item.append(swatch, i + ': 0x' + hex(word, 4) + ' ' + cssColour(picture.colours[i]));
      list.append(item);
    });
  }

  // Image data for a picture; with `seethrough`, index 0 is left clear.
  function pictureImage(picture, seethrough) {
    var image = new ImageData(new Uint8ClampedArray(picture.rgba), picture.width, picture.height);
    if (seethrough) {
      for (var i = 0; i < picture.indices.length; ++i) if (picture.indices[i] === 0) image.data[i * 4 + 3] = 0;
    }
    return image;
  }

  function imageCanvas(image) {
    var canvas = document.createElement('canvas');
    canvas.width = image.width;
    canvas.height = image.height;
    canvas.getContext('2d').putImageData(image, 0, 0);
    return canvas;
  }

  // The viewer's placement on a screen the size of the reference screen:
  // the anchor, moved so that a picture that fits stays on the screen.
  function placeAxis(screen, anchor, size) {
    if (size < screen) return Math.max(0, Math.min(anchor, screen - size));
    return anchor;
  }

  function drawScreen(canvas, picture, image, anchorX, anchorY) {
    var context = canvas.getContext('2d');
    context.fillStyle = '#3a6ea5';
    context.fillRect(0, 0, SCREEN_WIDTH, SCREEN_HEIGHT);
    if (!picture) return;
    var x = placeAxis(SCREEN_WIDTH, anchorX, picture.width);
    var y = placeAxis(SCREEN_HEIGHT, anchorY, picture.height);
    context.drawImage(image, x, y);
    context.strokeStyle = '#ffffff';
    context.lineWidth = 2;
    context.strokeRect(x - 1, y - 1, picture.width + 2, picture.height + 2);
  }

  // ISO 8859-1, byte for byte (TextDecoder's 'latin1' is windows-1252).
  function latin1Of(bytes) {
    var text = '';
    for (var i = 0; i < bytes.length; ++i) text += String.fromCharCode(bytes[i]);
    return text;
  }
  function baseName(name) { return name.replace(/^.*[\\/]/, '').replace(/\.[^.]*$/, '') || 'picture'; }

  function download(bytesOrBlob, name, type) {
    var blob = bytesOrBlob instanceof Blob ? bytesOrBlob : new Blob([bytesOrBlob], { type: type });
    var link = document.createElement('a');
    link.href = URL.createObjectURL(blob);
    link.download = name;
    document.body.append(link);
    link.click();
    link.remove();
    setTimeout(function () { URL.revokeObjectURL(link.href); }, 10000);
  }

  // ---- Modes ----
  function showMode(mode) {
    var viewer = mode === 'viewer';
    $('viewer').hidden = !viewer;
    $('converter').hidden = viewer;
    $('mode-viewer').setAttribute('aria-pressed', String(viewer));
    $('mode-converter').setAttribute('aria-pressed', String(!viewer));
    document.querySelector('.modes').hidden = !(entries.length && conversion.name);
  }
  $('mode-viewer').onclick = function () { showMode('viewer'); };
  $('mode-converter').onclick = function () { showMode('converter'); };

  // ---- Viewing pictures ----
  var entries = [];  // {name, picture | error, button}
  var currentEntry = null;

  function addEntry(name, promise) {
    var entry = { name: name, picture: null, error: null };
    entries.push(entry);
    var item = document.createElement('li');
    var button = document.createElement('button');
    button.type = 'button';
    button.className = 'entry';
    var label = document.createElement('span');
    label.className = 'entry-name';
    label.textContent = name;
    button.append(label);
    button.onclick = function () { showEntry(entry); };
    item.append(button);
    $('picture-list').querySelector('ul').append(item);
    entry.button = button;
    $('picture-list').hidden = entries.length < 2;
    return promise.then(function (answer) {
      entry.picture = answer.picture;
      var thumb = imageCanvas(pictureImage(entry.picture, false));
      thumb.className = 'thumb';
      thumb.setAttribute('aria-hidden', 'true');
      button.prepend(thumb);
    }, function (error) {
      entry.error = error.message;
      var reason = document.createElement('span');
      reason.className = 'entry-error';
      reason.textContent = error.message;
      button.append(reason);
    }).then(function () { return entry; });
  }

  function openBytes(list) {
    if (!list.length) return;
    showMode('viewer');
    status(t('opening', list.map(function (f) { return f.name; }).join(', ')));
    var promises = list.map(function (file) {
      return addEntry(file.name, file.bytes.then(function (bytes) {
        return engine.request({ op: 'decode', bytes: bytes }, [bytes.buffer]);
      }));
    });
    promises[0].then(showEntry);
    Promise.all(promises).then(function (done) {
      var bad = done.filter(function (e) { return e.error; });
      status(bad.length ? bad.map(function (e) { return t('damaged', e.name, e.error); }).join(' / ')
                        : t('opened', done.length));
    });
  }

  function readFile(file) {
    return file.arrayBuffer().then(function (buffer) { return new Uint8Array(buffer); });
  }

  function showEntry(entry) {
    currentEntry = entry;
    showMode('viewer');
    entries.forEach(function (e) { e.button.setAttribute('aria-current', String(e === entry)); });
    $('viewer-name').textContent = entry.name;
    $('viewer-error').hidden = !entry.error;
    $('viewer-error').textContent = entry.error || '';
    $('viewer-body').hidden = !entry.picture;
    if (!entry.picture) return;
    var picture = entry.picture;
    var allowed = picture.palette[0] === 0;
    var box = $('seethrough');
    box.disabled = !allowed;
    box.title = allowed ? '' : t('seethroughDenied');
    if (!allowed) box.checked = false;
    var comment = new TextDecoder('shift_jis').decode(picture.comment);
    $('fact-comment').textContent = comment || t('noComment');
    $('picture').setAttribute('aria-label', entry.name + (comment ? ': ' + comment : ''));
    $('fact-size').textContent = picture.width + ' × ' + picture.height;
    $('fact-anchor').textContent = picture.anchorX + ', ' + picture.anchorY;
    fillPalette($('fact-palette'), picture);
    drawPicture();
  }

  function drawPicture() {
    var picture = currentEntry && currentEntry.picture;
    if (!picture) return;
    var canvas = $('picture');
    canvas.width = picture.width;
    canvas.height = picture.height;
    var zoom = Number($('zoom').value);
    canvas.style.width = picture.width * zoom + 'px';
    canvas.style.height = picture.height * zoom + 'px';
    var image = pictureImage(picture, $('seethrough').checked && picture.palette[0] === 0);
    canvas.getContext('2d').putImageData(image, 0, 0);
    snapToPixels(canvas);
    drawScreen($('viewer-screen'), picture, canvas, picture.anchorX, picture.anchorY);
  }

  // Text and controls leave the picture at fractions of a pixel, where the
  // browser would blur it over two; move it onto whole device pixels.
  function snapToPixels(canvas) {
    canvas.style.margin = '0';
    var box = canvas.getBoundingClientRect(), ratio = window.devicePixelRatio || 1;
    var dx = Math.ceil(box.left * ratio) / ratio - box.left, dy = Math.ceil(box.top * ratio) / ratio - box.top;
    canvas.style.margin = dy + 'px 0 0 ' + dx + 'px';
  }
  window.addEventListener('resize', function () { snapToPixels($('picture')); });
  $('zoom').onchange = drawPicture;
  $('seethrough').onchange = drawPicture;
  $('download-png').onclick = function () {
    if (!currentEntry || !currentEntry.picture) return;
    var name = baseName(currentEntry.name) + '.png';
    $('picture').toBlob(function (blob) { download(blob, name); }, 'image/png');
  };

  // ---- Converting ----
  var conversion = { name: '', width: 0, height: 0, ready: false, busy: false, again: false, file: null, picture: null };

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

  function startConversion(file) {
    showMode('converter');
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
      showMode('converter');
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
  }

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
        context.putImageData(pictureImage(answer.picture, false), 0, 0);
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
    if (conversion.file) download(conversion.file, baseName(conversion.name) + '.vld', 'application/octet-stream');
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

  // ---- Files from the pickers, drops and ?open= ----
  function isPictureFile(file) { return /\.(vld|tft)$/i.test(file.name); }

  function takeFiles(files) {
    files = Array.from(files);
    var pictures = files.filter(isPictureFile);
    var images = files.filter(function (f) { return !isPictureFile(f); });
    if (pictures.length) openBytes(pictures.map(function (f) { return { name: f.name, bytes: readFile(f) }; }));
    else if (images.length) startConversion(images[0]);
  }
  $('open-input').onchange = function (event) {
    openBytes(Array.from(event.target.files).map(function (f) { return { name: f.name, bytes: readFile(f) }; }));
    event.target.value = '';
  };
  $('convert-input').onchange = function (event) {
    if (event.target.files.length) startConversion(event.target.files[0]);
    event.target.value = '';
  };
  document.addEventListener('dragover', function (event) {
    event.preventDefault();
    document.body.classList.add('dragging');
  });
  document.addEventListener('dragleave', function (event) {
    if (!event.relatedTarget) document.body.classList.remove('dragging');
  });
  document.addEventListener('drop', function (event) {
    event.preventDefault();
    document.body.classList.remove('dragging');
    if (event.dataTransfer && event.dataTransfer.files.length) takeFiles(event.dataTransfer.files);
  });

  var urls = new URLSearchParams(location.search).getAll('open');
  openBytes(urls.map(function (url) {
    var name = decodeURIComponent(url.replace(/[?#].*$/, '').replace(/^.*\//, '')) || url;
    return {
      name: name,
      bytes: fetch(url).then(function (response) {
        if (!response.ok) throw new Error(response.status + ' ' + response.statusText);
        return response.arrayBuffer();
      }).then(function (buffer) { return new Uint8Array(buffer); }, function (error) {
        throw new Error(t('fetchFailed', url, error.message));
      })
    };
  }));
  window.vldPage = { entries: entries, conversion: conversion };
})();
