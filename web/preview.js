// The conversion's preview: the original and the result one over the other,
// split by a divider that a pointer drags and the arrow keys move; shown
// whole (scaled smoothly, as a photo viewer would) or 1:1 with panning, so
// that a dithered result shows the grain the file really has.
(function (page) {
  'use strict';
  var $ = page.$;
  var frame = $('compare'), inner = $('compare-inner'), divider = $('divider');
  var state = { width: 1, height: 1, actual: false, split: 0.5, pick: null };

  function layout() {
    var scale = 1;
    if (!state.actual) {
      var room = Math.max(64, $('preview').clientWidth);
      scale = Math.min(1, room / state.width, Math.max(160, window.innerHeight * 0.7) / state.height);
    }
    inner.style.width = Math.max(1, Math.round(state.width * scale)) + 'px';
    inner.style.height = Math.max(1, Math.round(state.height * scale)) + 'px';
    inner.querySelectorAll('canvas').forEach(function (c) { c.classList.toggle('smooth', scale < 1); });
    frame.classList.toggle('actual', state.actual);
    $('view-fit').setAttribute('aria-pressed', String(!state.actual));
    $('view-actual').setAttribute('aria-pressed', String(state.actual));
    place();
  }

  // The divider stays where it is in the frame while the picture pans
  // under it; the result shows to its right.
  function place() {
    var x = state.split * frame.clientWidth;
    divider.style.left = x + 'px';
    divider.style.height = frame.clientHeight + 'px';
    $('result').style.clipPath = 'inset(0 0 0 ' + (x + frame.scrollLeft) + 'px)';
    divider.setAttribute('aria-valuenow', String(Math.round(state.split * 100)));
    divider.setAttribute('aria-valuetext', Math.round(state.split * 100) + '%');
  }

  function setSplit(value) {
    state.split = Math.max(0, Math.min(1, value));
    place();
  }

  function splitAt(clientX) {
    var box = frame.getBoundingClientRect();
    setSplit((clientX - box.left) / Math.max(1, frame.clientWidth));
  }

  divider.addEventListener('pointerdown', function (event) {
    event.preventDefault();
    divider.setPointerCapture(event.pointerId);
    divider.focus();
  });
  divider.addEventListener('pointermove', function (event) {
    if (divider.hasPointerCapture(event.pointerId)) splitAt(event.clientX);
  });
  divider.addEventListener('keydown', function (event) {
    var step = event.shiftKey ? 0.01 : 0.05;
    var to = { ArrowLeft: state.split - step, ArrowDown: state.split - step, ArrowRight: state.split + step,
               ArrowUp: state.split + step, PageDown: state.split - 0.25, PageUp: state.split + 0.25, Home: 0, End: 1 }[event.key];
    if (to === undefined) return;
    event.preventDefault();
    setSplit(to);
  });

  // On the picture itself: a click picks a colour while picking; a drag
  // pans at 1:1 and moves the divider when the picture is shown whole.
  var drag = null;
  frame.addEventListener('pointerdown', function (event) {
    if (event.button !== 0) return;
    if (state.pick) {
      var box = inner.getBoundingClientRect();
      var original = $('original');
      var x = Math.floor((event.clientX - box.left) * original.width / box.width);
      var y = Math.floor((event.clientY - box.top) * original.height / box.height);
      if (x < 0 || y < 0 || x >= original.width || y >= original.height) return;
      var pixel = $('original').getContext('2d').getImageData(x, y, 1, 1).data;
      var done = state.pick;
      page.preview.pick(null);
      done([pixel[0], pixel[1], pixel[2]]);
      return;
    }
    event.preventDefault();
    frame.setPointerCapture(event.pointerId);
    drag = { x: event.clientX, y: event.clientY, left: frame.scrollLeft, top: frame.scrollTop };
    if (!state.actual) splitAt(event.clientX);
  });
  frame.addEventListener('pointermove', function (event) {
    if (!drag || !frame.hasPointerCapture(event.pointerId)) return;
    if (!state.actual) return splitAt(event.clientX);
    frame.scrollLeft = drag.left - (event.clientX - drag.x);
    frame.scrollTop = drag.top - (event.clientY - drag.y);
  });
  frame.addEventListener('pointerup', function () { drag = null; });
  frame.addEventListener('scroll', place);
  window.addEventListener('resize', layout);
  $('view-fit').onclick = function () { state.actual = false; layout(); };
  $('view-actual').onclick = function () { state.actual = true; layout(); };

  page.preview = {
    // A new image of this size, shown whole.
    show: function (width, height, keepScale) {
      state.width = width;
      state.height = height;
      if (!keepScale) state.actual = false;
      layout();
    },
    layout: layout,
    // `callback` gets the [r, g, b] of the next pixel clicked; null stops.
    pick: function (callback) {
      state.pick = callback;
      inner.classList.toggle('picking', !!callback);
    }
  };
})(vldPage);
