// Viewing a picture: the picture at the zoom chosen, its facts, and where
// the viewer places it on the reference screen. A picture is kept as its
// indices alone, so only the part of it on screen is ever coloured.
(function (page) {
  'use strict';
  var t = page.t, $ = page.$;
  var currentEntry = null;
  var drawQueued = false;
  var zoomedOutSource = { picture: null, seethrough: false, canvas: null };

  page.showEntry = function (entry) {
    if (entry && page.entries.indexOf(entry) < 0) return;
    currentEntry = entry;
    zoomedOutSource.picture = zoomedOutSource.canvas = null;
    page.showMode('viewer');
    page.entries.forEach(function (e) { e.button.setAttribute('aria-current', String(e === entry)); });
    $('viewer-name').textContent = entry ? entry.name : '';
    $('close-picture').hidden = !entry;
    $('viewer-error').hidden = !(entry && entry.error);
    $('viewer-error').textContent = (entry && entry.error) || '';
    $('viewer-body').hidden = !(entry && entry.picture);
    if (!entry || !entry.picture) return;
    var picture = entry.picture;
    var allowed = picture.palette[0] === 0;
    var box = $('seethrough');
    box.disabled = !allowed;
    if (!allowed) box.checked = false;
    // Said beside the box, where touch and keyboard users read it too.
    $('seethrough-note').textContent = allowed ? '' : t('seethroughOff');
    var comment = new TextDecoder('shift_jis').decode(picture.comment);
    $('fact-comment').textContent = comment || t('noComment');
    $('picture').setAttribute('aria-label', entry.name + (comment ? ': ' + comment : ''));
    $('fact-size').textContent = picture.width + ' × ' + picture.height;
    $('fact-anchor').textContent = picture.anchorX + ', ' + picture.anchorY;
    page.fillPalette($('fact-palette'), picture);
    $('stage').scrollTo(0, 0);
    drawPicture();
    page.drawScreen($('viewer-screen'), picture, null, picture.anchorX, picture.anchorY);
  };

  // Fit: a small picture at the largest whole zoom that fits the page's
  // width and the window's height below it, a large one scaled down to fit.
  function zoomOf(picture) {
    var chosen = $('zoom').value;
    if (chosen !== 'fit') return Number(chosen);
    var stage = $('stage'), tall = innerHeight * 0.75;
    var room = Math.max(16, stage.parentElement.clientWidth);
    // A phone's header takes most of its screen: there the picture may
    // start below the fold rather than shrink to a stamp.
    var below = innerHeight - (stage.getBoundingClientRect().top + scrollY) - 16;
    var fits = Math.min(room / picture.width, Math.min(tall, below < innerHeight / 2 ? tall : below) / picture.height);
    return fits >= 1 ? Math.floor(fits) : fits;
  }

  function drawPicture() {
    drawQueued = false;
    var picture = currentEntry && currentEntry.picture;
    if (!picture) return;
    var zoom = zoomOf(picture);
    var stage = $('stage'), sizer = $('picture-sizer'), canvas = $('picture');
    var seethrough = $('seethrough').checked && picture.palette[0] === 0;
    if (zoom < 1) {
      drawZoomedOut(picture, zoom, sizer, canvas, seethrough);
    } else {
      sizer.style.width = picture.width * zoom + 'px';
      sizer.style.height = picture.height * zoom + 'px';
      // The picture's pixels that the stage shows, whole pixels only.
      var left = Math.floor(stage.scrollLeft / zoom), top = Math.floor(stage.scrollTop / zoom);
      var right = Math.min(picture.width, Math.ceil((stage.scrollLeft + stage.clientWidth) / zoom));
      var bottom = Math.min(picture.height, Math.ceil((stage.scrollTop + stage.clientHeight) / zoom));
      var width = Math.max(1, right - left), height = Math.max(1, bottom - top);
      canvas.width = width;
      canvas.height = height;
      canvas.style.imageRendering = '';
      place(canvas, left * zoom, top * zoom, width * zoom, height * zoom);
      canvas.getContext('2d').putImageData(page.regionImage(picture, left, top, width, height, seethrough), 0, 0);
    }
    snapToPixels(stage);
  }

  // Smaller than 1:1 the whole picture is on screen, scaled smoothly from
  // the copy the worker averaged down from its rows, or for a picture that
  // small from its indices.
  function drawZoomedOut(picture, zoom, sizer, canvas, seethrough) {
    var width = Math.max(1, Math.round(picture.width * zoom)), height = Math.max(1, Math.round(picture.height * zoom));
    sizer.style.width = width + 'px';
    sizer.style.height = height + 'px';
    var ratio = window.devicePixelRatio || 1;
    canvas.width = Math.round(width * ratio);
    canvas.height = Math.round(height * ratio);
    canvas.style.imageRendering = 'auto';
    place(canvas, 0, 0, width, height);
    var source = zoomedOutSource;
    if (source.picture !== picture || source.seethrough !== seethrough) {
      var small = picture.zoomedOut;
      source.canvas = page.imageCanvas(small ? new ImageData(small.rgba, small.width, small.height)
                                             : page.regionImage(picture, 0, 0, picture.width, picture.height, seethrough));
      source.picture = picture;
      source.seethrough = seethrough;
    }
    var context = canvas.getContext('2d');
    context.imageSmoothingQuality = 'high';
    context.drawImage(source.canvas, 0, 0, canvas.width, canvas.height);
  }

  function place(canvas, left, top, width, height) {
    canvas.style.left = left + 'px';
    canvas.style.top = top + 'px';
    canvas.style.width = width + 'px';
    canvas.style.height = height + 'px';
  }

  function queueDraw() {
    if (drawQueued) return;
    drawQueued = true;
    requestAnimationFrame(drawPicture);
  }

  // Text and controls leave the picture at fractions of a pixel, where the
  // browser would blur it over two; move it onto whole device pixels.
  function snapToPixels(element) {
    element.style.margin = '0';
    var box = element.getBoundingClientRect(), ratio = window.devicePixelRatio || 1;
    var dx = Math.ceil(box.left * ratio) / ratio - box.left, dy = Math.ceil(box.top * ratio) / ratio - box.top;
    element.style.margin = dy + 'px 0 0 ' + dx + 'px';
  }
  window.addEventListener('resize', queueDraw);
  $('stage').addEventListener('scroll', queueDraw, { passive: true });
  $('zoom').onchange = drawPicture;
  $('seethrough').onchange = drawPicture;

  // The PNG is the whole picture as shown, drawn a band of rows at a time so
  // that the page never stops for long.
  $('download-png').onclick = function () {
    var entry = currentEntry, picture = entry && entry.picture;
    if (!picture) return;
    if (picture.width > 32767 || picture.height > 32767 || picture.width * picture.height > (1 << 26)) {
      page.status(t('pngTooLarge'));
      return;
    }
    var seethrough = $('seethrough').checked && picture.palette[0] === 0;
    var canvas = document.createElement('canvas');
    canvas.width = picture.width;
    canvas.height = picture.height;
    var context = canvas.getContext('2d'), band = Math.max(1, Math.floor((1 << 20) / picture.width));
    (function drawBand(top) {
      if (top >= picture.height) {
        canvas.toBlob(function (blob) { page.download(blob, page.baseName(entry.name) + '.png'); }, 'image/png');
        return;
      }
      var height = Math.min(band, picture.height - top);
      context.putImageData(page.regionImage(picture, 0, top, picture.width, height, seethrough), 0, top);
      setTimeout(drawBand, 0, top + height);
    })(0);
  };

  // Closing a picture lets its memory go.
  $('close-picture').onclick = function () {
    if (currentEntry) page.closeEntry(currentEntry);
  };
})(vldPage);
