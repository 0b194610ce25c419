// The file list: pictures opened from the pickers, dropped on the page or
// named with ?open=, each with its thumbnail or the reason it failed.
(function (page) {
  'use strict';
  var t = page.t, $ = page.$;
  var entries = page.entries = [];  // {name, picture | error, button}

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
    button.onclick = function () { page.showEntry(entry); };
    item.append(button);
    $('picture-list').querySelector('ul').append(item);
    entry.button = button;
    $('picture-list').hidden = entries.length < 2;
    return promise.then(function (answer) {
      entry.picture = answer.picture;
      var thumb = page.imageCanvas(page.pictureImage(entry.picture, false));
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
    page.showMode('viewer');
    page.status(t('opening', list.map(function (f) { return f.name; }).join(', ')));
    var promises = list.map(function (file) {
      return addEntry(file.name, file.bytes.then(function (bytes) {
        return page.engine.request({ op: 'decode', bytes: bytes }, [bytes.buffer]);
      }));
    });
    promises[0].then(page.showEntry);
    Promise.all(promises).then(function (done) {
      var bad = done.filter(function (e) { return e.error; });
      page.status(bad.length ? bad.map(function (e) { return t('damaged', e.name, e.error); }).join(' / ')
                        : t('opened', done.length));
    });
  }

  function readFile(file) {
    return file.arrayBuffer().then(function (buffer) { return new Uint8Array(buffer); });
  }

  // ---- Files from the pickers, drops and ?open= ----
  function isPictureFile(file) { return /\.(vld|tft)$/i.test(file.name); }

  function takeFiles(files) {
    files = Array.from(files);
    var pictures = files.filter(isPictureFile);
    var images = files.filter(function (f) { return !isPictureFile(f); });
    if (pictures.length) openBytes(pictures.map(function (f) { return { name: f.name, bytes: readFile(f) }; }));
    else if (images.length) page.startConversion(images[0]);
  }
  $('open-input').onchange = function (event) {
    openBytes(Array.from(event.target.files).map(function (f) { return { name: f.name, bytes: readFile(f) }; }));
    event.target.value = '';
  };
  $('convert-input').onchange = function (event) {
    if (event.target.files.length) page.startConversion(event.target.files[0]);
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
})(vldPage);
