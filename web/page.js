// What the page's parts share: the Web Worker made from vldRuntime
// (vld-page.js) that does the module's work, and drawing helpers.
(function (page) {
  'use strict';
  var $ = page.$ = function (id) { return document.getElementById(id); };
  page.SCREEN_WIDTH = 768;
  page.SCREEN_HEIGHT = 512;

  // ---- The workers ----
  // A Web Worker made from vldRuntime's own text, or the same work on the
  // page where no worker can run (a host's policy). A WebAssembly memory
  // never shrinks, so a worker whose module has grown past 32 MB (a large
  // file read into it) is ended once it is idle, and a fresh one started
  // for the next request.
  var RETIRE_BYTES = 32 << 20;
  // `eager`: started now, so that its module is ready when it is first asked.
  page.makeEngine = function (eager) {
    var pending = new Map(), next = 1, worker = null, inPage = null, heap = 0, failed = false, alive = false;
    function receive(answer) {
      var entry = pending.get(answer.id);
      if (!entry) return;
      if (answer.stage) {
        if (entry.onStage) entry.onStage(answer.stage);
        return;
      }
      pending.delete(answer.id);
      heap = answer.heap || heap;
      if (answer.error) entry.reject(Object.assign(new Error(answer.error), { kind: answer.kind, code: answer.code }));
      else entry.resolve(answer);
    }
    function start() {
      if (failed) return;
      try {
        var blob = new Blob(['(' + vldRuntime.toString() + ')(true);'], { type: 'text/javascript' });
        var url = URL.createObjectURL(blob);
        worker = new Worker(url);
        URL.revokeObjectURL(url);
        worker.onmessage = function (event) {
          alive = true;
          receive(event.data);
        };
        worker.onerror = function (event) {
          // A worker that cannot start does the work on the page from then on;
          // one that stopped (out of memory) fails what it was doing.
          event.preventDefault();
          worker = null;
          failed = !alive;
          var message = event.message || 'the worker stopped';
          pending.forEach(function (entry) {
            entry.reject(Object.assign(new Error(message), { kind: /memory/i.test(message) ? 'memory' : undefined }));
          });
          pending.clear();
        };
      } catch (e) {
        failed = true;
        worker = null;
      }
    }
    if (eager) start();
    return {
      offscreen: function () { return !failed && typeof OffscreenCanvas !== 'undefined'; },
      request: function (message, transfer, onStage) {
        return new Promise(function (resolve, reject) {
          message.id = next++;
          pending.set(message.id, { resolve: resolve, reject: reject, onStage: onStage });
          if (!worker && !inPage) start();
          if (worker) {
            worker.postMessage(message, transfer || []);
          } else {
            inPage = inPage || vldRuntime(false);
            inPage(message, receive);
          }
        });
      },
      // Ends the worker, or drops the page's module, if it has grown large
      // and has nothing to do.
      recycle: function () {
        if (pending.size || heap <= RETIRE_BYTES) return;
        if (worker) worker.terminate();
        worker = null;
        inPage = null;
        heap = 0;
      }
    };
  };
  page.engine = page.makeEngine();

  page.status = function (text) { $('status').textContent = text; };

  function hex(value, digits) { return value.toString(16).toUpperCase().padStart(digits, '0'); }
  var cssColour = page.cssColour = function (rgb) { return '#' + rgb.map(function (v) { return hex(v, 2); }).join('').toLowerCase(); };

  page.fillPalette = function (list, picture) {
    list.textContent = '';
    picture.palette.forEach(function (word, i) {
      var item = document.createElement('li');
      var swatch = document.createElement('span');
      swatch.className = 'swatch';
      swatch.style.background = cssColour(picture.colours[i]);
      // The stored word matters only where it changes what the viewer
      // does: an exact black 0 lets the wallpaper through, a near one not.
      var stored = '0x' + hex(word, 4), black = cssColour(picture.colours[i]) === '#000000';
      var note = document.createElement('span');
      note.className = 'note';
      note.textContent = word === 0 && i === 0 ? page.t('paletteClear')
                       : black ? page.t('paletteOpaque', stored) : page.t('paletteStored', stored);
      item.append(swatch, i + ': ' + cssColour(picture.colours[i]) + ' ', note);
      list.append(item);
    });
  };

  // The pixels of part of a picture, 1:1, from its indices: all a page keeps
  // of it, so that only what is shown is ever coloured. With `seethrough`,
  // index 0 is left clear.
  page.regionImage = function (picture, left, top, width, height, seethrough) {
    var image = new ImageData(width, height);
    var out = new Uint32Array(image.data.buffer), colours = new Uint32Array(4);
    picture.colours.forEach(function (rgb, i) {
      colours[i] = seethrough && i === 0 ? 0 : new Uint32Array(new Uint8Array([rgb[0], rgb[1], rgb[2], 255]).buffer)[0];
    });
    var indices = picture.indices;
    for (var y = 0; y < height; ++y) {
      var from = (top + y) * picture.width + left, to = y * width;
      for (var x = 0; x < width; ++x) out[to + x] = colours[indices[from + x]];
    }
    return image;
  };

  page.imageCanvas = function (image) {
    var canvas = document.createElement('canvas');
    canvas.width = image.width;
    canvas.height = image.height;
    canvas.getContext('2d').putImageData(image, 0, 0);
    return canvas;
  };

  // The viewer's placement on a screen the size of the reference screen:
  // the anchor, moved so that a picture that fits stays on the screen.
  function placeAxis(screen, anchor, size) {
    if (size < screen) return Math.max(0, Math.min(anchor, screen - size));
    return anchor;
  }

  // `image` null: the part of the picture on the screen, from its indices.
  page.drawScreen = function (canvas, picture, image, anchorX, anchorY) {
    var context = canvas.getContext('2d');
    context.fillStyle = '#3a6ea5';
    context.fillRect(0, 0, page.SCREEN_WIDTH, page.SCREEN_HEIGHT);
    if (!picture) return;
    var x = placeAxis(page.SCREEN_WIDTH, anchorX, picture.width);
    var y = placeAxis(page.SCREEN_HEIGHT, anchorY, picture.height);
    var width = Math.min(picture.width, page.SCREEN_WIDTH - x), height = Math.min(picture.height, page.SCREEN_HEIGHT - y);
    if (image) context.drawImage(image, x, y);
    else if (width > 0 && height > 0) context.putImageData(page.regionImage(picture, 0, 0, width, height, false), x, y);
    context.strokeStyle = '#ffffff';
    context.lineWidth = 2;
    context.strokeRect(x - 1, y - 1, picture.width + 2, picture.height + 2);
  };

  // ISO 8859-1, byte for byte (TextDecoder's 'latin1' is windows-1252).
  page.latin1Of = function (bytes) {
    var text = '';
    for (var i = 0; i < bytes.length; ++i) text += String.fromCharCode(bytes[i]);
    return text;
  };
  page.baseName = function (name) { return name.replace(/^.*[\\/]/, '').replace(/\.[^.]*$/, '') || 'picture'; };

  page.download = function (bytesOrBlob, name, type) {
    var blob = bytesOrBlob instanceof Blob ? bytesOrBlob : new Blob([bytesOrBlob], { type: type });
    var link = document.createElement('a');
    link.href = URL.createObjectURL(blob);
    link.download = name;
    document.body.append(link);
    link.click();
    link.remove();
    setTimeout(function () { URL.revokeObjectURL(link.href); }, 10000);
  };

  // ---- Modes ----
  page.showMode = function (mode) {
    var viewer = mode === 'viewer';
    $('viewer').hidden = !viewer;
    $('converter').hidden = viewer;
    $('mode-viewer').setAttribute('aria-pressed', String(viewer));
    $('mode-converter').setAttribute('aria-pressed', String(!viewer));
    document.querySelector('.modes').hidden = !(page.entries.length && page.conversion.name);
    // The first screen's words and samples make room for what was opened.
    $('samples').hidden = true;
    document.querySelector('[data-t="tagline"]').hidden = true;
  };
  $('mode-viewer').onclick = function () { page.showMode('viewer'); };
  $('mode-converter').onclick = function () { page.showMode('converter'); };
})(vldPage);
