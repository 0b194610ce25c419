// The file list: pictures opened from the pickers, dropped on the page or
// named with ?open=, each with its thumbnail or the reason it failed.
(function (page) {
  'use strict';
  var t = page.t, $ = page.$;
  var entries = page.entries = [];  // {name, picture | error, button}
  // Pictures are decoded in a worker of their own, which page.js ends once
  // a large file has grown its memory; the converter's keeps its image.
  var decoder = page.makeEngine(true);

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
      if (entries.indexOf(entry) < 0) return;  // closed while it loaded
      entry.picture = answer.picture;
      // Averaged down in the worker where the picture is larger than that.
      var small = answer.picture.thumb, picture = answer.picture;
      var thumb = page.imageCanvas(small ? new ImageData(small.rgba, small.width, small.height)
                                         : page.regionImage(picture, 0, 0, picture.width, picture.height, false));
      picture.thumb = null;
      thumb.className = 'thumb';
      thumb.setAttribute('aria-hidden', 'true');
      button.prepend(thumb);
    }, function (error) {
      entry.error = error.kind === 'memory' ? t('noMemory') : page.reason(error);
      var reason = document.createElement('span');
      reason.className = 'entry-error';
      reason.textContent = entry.error;
      button.append(reason);
    }).then(function () { return entry; });
  }

  var openBytes = page.openBytes = function (list) {
    if (!list.length) return;
    page.showMode('viewer');
    page.status(t('opening', list.map(function (f) { return f.name; }).join(', ')));
    var promises = list.map(function (file) {
      return addEntry(file.name, file.bytes.then(function (bytes) {
        var decoded = decoder.request({ op: 'decode', bytes: bytes }, [bytes.buffer]);
        decoded.then(decoder.recycle, decoder.recycle);
        return decoded;
      }));
    });
    promises[0].then(page.showEntry);
    Promise.all(promises).then(function (done) {
      var bad = done.filter(function (e) { return e.error; });
      page.status(bad.length ? bad.map(function (e) { return t('damaged', e.name, e.error); }).join(' / ')
                        : page.count('opened', done.length));
    });
  };

  // Drops the entry, and with it the only reference to its indices.
  page.closeEntry = function (entry) {
    var at = entries.indexOf(entry);
    if (at < 0) return;
    entries.splice(at, 1);
    entry.button.parentElement.remove();
    entry.picture = null;
    $('picture-list').hidden = entries.length < 2;
    page.showEntry(entries[Math.min(at, entries.length - 1)] || null);
  };

  function readFile(file) {
    return file.arrayBuffer().then(function (buffer) { return new Uint8Array(buffer); });
  }

  // ---- Files from the pickers, drops and ?open= ----
  // Pictures are known by their first bytes, as the desktop's loaders know
  // them, whatever their names say.
  page.isPicture = function (file) {
    return file.slice(0, 4).arrayBuffer().then(function (buffer) {
      return page.latin1Of(new Uint8Array(buffer)) === 'HK03';
    });
  };

  function takeFiles(files) {
    files = Array.from(files);
    Promise.all(files.map(page.isPicture)).then(function (kinds) {
      var pictures = files.filter(function (f, i) { return kinds[i]; });
      var images = files.filter(function (f, i) { return !kinds[i]; });
      if (pictures.length) openBytes(pictures.map(function (f) { return { name: f.name, bytes: readFile(f) }; }));
      else if (images.length) page.startConversion(images[0]);
    });
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

  // The name a picture named in ?open= goes by: its path from the page's
  // own folder where it lies there, else the last part of its path, with
  // whole percent escapes decoded; a data: URL has no name of its own.
  function nameOfUrl(text) {
    var url;
    try {
      url = new URL(text, location.href);
    } catch (e) {
      return text;
    }
    if (url.protocol === 'data:') return t('linkPicture');
    var folder = location.href.replace(/[?#].*$/, '').replace(/[^/]*$/, '');
    var path = url.href.replace(/[?#].*$/, '');
    var name = path.startsWith(folder) ? path.slice(folder.length) : path.replace(/^.*\//, '');
    try {
      name = decodeURIComponent(name);
    } catch (e) {
      // A bare % stays as it was written.
    }
    return name || text;
  }

  // Each address opens, or fails with its reason, on its own.
  openBytes(new URLSearchParams(location.search).getAll('open').map(function (url) {
    var name = nameOfUrl(url);
    return {
      name: name,
      bytes: Promise.resolve().then(function () { return fetch(url); }).then(function (response) {
        if (!response.ok) throw new Error(response.status === 404 ? t('http404') : t('httpOther', response.status));
        return response.arrayBuffer();
      }, function () {
        throw new Error(t('unreachable'));
      }).then(function (buffer) { return new Uint8Array(buffer); })
    };
  }));

  // The samples shipped with the site, each a click away on the first screen.
  var samples = typeof vldSamples === 'undefined' ? {} : vldSamples;
  Object.keys(samples).forEach(function (name) {
    var bytes = new Uint8Array(samples[name].match(/../g).map(function (h) { return parseInt(h, 16); }));
    var item = document.createElement('li'), button = document.createElement('button');
    button.type = 'button';
    button.className = 'sample';
    button.textContent = name;
    button.onclick = function () { openBytes([{ name: name, bytes: Promise.resolve(bytes.slice()) }]); };
    item.append(button);
    $('sample-list').append(item);
    page.engine.request({ op: 'decode', bytes: bytes.slice() }).then(function (answer) {
      var picture = answer.picture;
      var thumb = page.imageCanvas(page.regionImage(picture, 0, 0, picture.width, picture.height, false));
      thumb.setAttribute('aria-hidden', 'true');
      button.prepend(thumb);
    }, function () {});
  });
})(vldPage);
