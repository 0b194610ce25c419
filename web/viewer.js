// Viewing a picture: the picture at the zoom chosen, its facts, and where
// the viewer places it on the reference screen.
(function (page) {
  'use strict';
  var t = page.t, $ = page.$;
  var currentEntry = null;

  page.showEntry = function (entry) {
    currentEntry = entry;
    page.showMode('viewer');
    page.entries.forEach(function (e) { e.button.setAttribute('aria-current', String(e === entry)); });
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
    page.fillPalette($('fact-palette'), picture);
    drawPicture();
  };

  function drawPicture() {
    var picture = currentEntry && currentEntry.picture;
    if (!picture) return;
    var canvas = $('picture');
    canvas.width = picture.width;
    canvas.height = picture.height;
    var zoom = Number($('zoom').value);
    canvas.style.width = picture.width * zoom + 'px';
    canvas.style.height = picture.height * zoom + 'px';
    var image = page.pictureImage(picture, $('seethrough').checked && picture.palette[0] === 0);
    canvas.getContext('2d').putImageData(image, 0, 0);
    snapToPixels(canvas);
    page.drawScreen($('viewer-screen'), picture, canvas, picture.anchorX, picture.anchorY);
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
    var name = page.baseName(currentEntry.name) + '.png';
    $('picture').toBlob(function (blob) { page.download(blob, name); }, 'image/png');
  };
})(vldPage);
