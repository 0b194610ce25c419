// Text to code page 932 bytes as vldtool stores a comment. Browsers can only
// decode code page 932 (TextDecoder 'shift_jis'), so the table is that
// decoder run backwards: each character takes the first two-byte code that
// gives it, skipping the 0xED/0xEE rows, which repeat characters that code
// page 932 writes with their 0xFA-0xFC codes. A character is refused unless
// it comes back the same ("¥" would come back as a backslash).
var cp932 = (function () {
  'use strict';
  var table = null;

  function isLead(byte) {
    return (byte >= 0x81 && byte <= 0x9f) || (byte >= 0xe0 && byte <= 0xfc);
  }

  function buildTable() {
    var decoder = new TextDecoder('shift_jis', { fatal: true });
    var map = new Map();
    var pair = new Uint8Array(2);
    for (var lead = 0x81; lead <= 0xfc; ++lead) {
      if (!isLead(lead) || lead === 0xed || lead === 0xee) continue;
      pair[0] = lead;
      for (var trail = 0x40; trail <= 0xfc; ++trail) {
        if (trail === 0x7f) continue;
        pair[1] = trail;
        var text;
        try { text = decoder.decode(pair); } catch (e) { continue; }
        if (text.length === 1 && !map.has(text)) map.set(text, (lead << 8) | trail);
      }
    }
    for (var kana = 0xa1; kana <= 0xdf; ++kana) map.set(String.fromCharCode(0xff61 + kana - 0xa1), kana);
    return map;
  }

  function codePointName(character) {
    return 'U+' + character.codePointAt(0).toString(16).toUpperCase().padStart(4, '0');
  }

  // {bytes, length, bad, terminator}: `bytes` (null unless every character
  // has a code, no 0x1A is given and there are at most `limit` of them),
  // `length` the bytes the characters that have a code take, `bad` each
  // character without one, once, as {character, name}.
  function encode(text, limit) {
    var bytes = [], bad = [], terminator = false;
    for (var character of text) {
      var code = character.codePointAt(0);
      if (code === 0x1a) {
        terminator = true;
        continue;
      }
      if (code < 0x80) {
        bytes.push(code);
        continue;
      }
      if (!table) table = buildTable();
      var value = table.get(character);
      if (value === undefined) {
        if (bad.every(function (b) { return b.character !== character; }))
          bad.push({ character: character, name: codePointName(character) });
        continue;
      }
      if (value > 0xff) bytes.push(value >> 8);
      bytes.push(value & 0xff);
    }
    var fits = limit === undefined || bytes.length <= limit;
    return { bytes: !bad.length && !terminator && fits ? new Uint8Array(bytes) : null,
             length: bytes.length, bad: bad, terminator: terminator };
  }

  // The text with each {character, replacement} made.
  function replaceAll(text, pairs) {
    return Array.from(text).map(function (c) {
      var found = pairs.find(function (p) { return p.character === c; });
      return found ? found.replacement : c;
    }).join('');
  }

  return { encode: encode, replaceAll: replaceAll };
})();
