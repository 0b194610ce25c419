// What the page's parts share: the Web Worker made from vldRuntime
// (vld-page.js) that does the module's work, and drawing helpers.
(function (page) {
  'use strict';
  var $ = page.$ = function (id) { return document.getElementById(id); };
  page.SCREEN_WIDTH = 768;
  page.SCREEN_HEIGHT = 512;

  // ---- The worker ----
  page.engine = (function () {
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
      item.append(swatch, i + ': 0x' + hex(word, 4) + ' ' + cssColour(picture.colours[i]));
      list.append(item);
    });
  };

  // Image data for a picture; with `seethrough`, index 0 is left clear.
  page.pictureImage = function (picture, seethrough) {
    var image = new ImageData(new Uint8ClampedArray(picture.rgba), picture.width, picture.height);
    if (seethrough) {
      for (var i = 0; i < picture.indices.length; ++i) if (picture.indices[i] === 0) image.data[i * 4 + 3] = 0;
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

  page.drawScreen = function (canvas, picture, image, anchorX, anchorY) {
    var context = canvas.getContext('2d');
    context.fillStyle = '#3a6ea5';
    context.fillRect(0, 0, page.SCREEN_WIDTH, page.SCREEN_HEIGHT);
    if (!picture) return;
    var x = placeAxis(page.SCREEN_WIDTH, anchorX, picture.width);
    var y = placeAxis(page.SCREEN_HEIGHT, anchorY, picture.height);
    context.drawImage(image, x, y);
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
  };
  $('mode-viewer').onclick = function () { page.showMode('viewer'); };
  $('mode-converter').onclick = function () { page.showMode('converter'); };
})(vldPage);
