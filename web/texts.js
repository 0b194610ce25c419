// The page's words, in English and in Japanese; the browser's language
// chooses. Other scripts of the page take them through vldPage.t.
var vldPage = {};
(function (page) {
  'use strict';

  var TEXT = {
    en: {
      title: 'Four-colour pictures',
      tagline: 'A .vld picture is a small image in four colours that a desktop viewer shows on top of the screen for a few seconds, at the place the picture asks for. View them here, or make one from any image: nothing leaves this device.',
      samples: 'Try a sample', viewFit: 'Fit', viewActual: '1:1', previewScale: 'Preview size', previewScroll: 'Preview: at 1:1 the arrow keys scroll it',
      seethroughOff: 'See-through is off for this picture: its background (colour 0) is not stored as exact black (0x0000), so the viewer always shows it.',
      paletteNote: 'Each pixel is one of these four colours. Colour 0 is the background: when it is stored as exact black (0x0000), the viewer can let the wallpaper show through it; a black stored as 0x0001 looks the same but always shows.',
      paletteStored: 'stored as {0}', paletteClear: 'exact black: the wallpaper can show through', paletteOpaque: 'stored as {0}: looks black but always shows',
      pictureSize: 'Size', fitScreen: 'Fit the 768 × 512 screen', width: 'Width', height: 'Height', sizeNote: 'The image is {0} × {1}.', sizeRefused: 'No picture can be that size: the viewer cannot hold it.',
      pickColour: 'Pick from the image', pickNote: 'Click the image to make its colour there colour {0}.',
      commentCount: '{0} of the 127 bytes the viewer shows', commentBad: 'Code page 932, which the picture stores, has no code for {0}.',
      commentSuggest: 'Use {0} instead of {1}?', commentReplace: 'Replace', commentNone: '{0} ({1})', and: ', ',
      fileSizes: '{0} KB; the original is {1} KB',
      isPicture: '{0} is already a four-colour picture, so there is nothing to convert.', openIt: 'Open it',
      cannotConvert: '{0} cannot be converted: this browser cannot read it as an image.', pngRefused: '{0} is refused: {1}.',
      openedOne: '1 picture opened', http404: 'the server has no such file (404)', httpOther: 'the server answered {0}',
      unreachable: 'the file could not be fetched',
      reason1: 'it is not a four-colour picture (it does not start with HK03)', reason2: 'the file is cut short inside its comment',
      reason3: 'it is of a kind this page does not know (format byte {0}, only 2 is known)', reason3Short: 'the file is cut short before its header',
      reason4: 'the file is cut short inside its header', reason5: 'its width or height is 0',
      reason6: 'it is too large: {0} × {1} pixels need more than {2} MiB', reason7: 'there is not enough memory to open it',
      reason8: 'the file is cut short: it ends inside row {0}',
      open: 'Open pictures…', convert: 'Convert an image…', drop: 'or drop files on this page',
      modes: 'Mode', modeViewer: 'Pictures', modeConverter: 'Conversion', list: 'Opened pictures',
      zoom: 'Zoom', zoomFit: 'Fit', close: 'Close', seethrough: 'See-through', downloadPng: 'Download PNG',
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
      noMemory: 'This browser has no memory left for a picture this large. Close other pictures or tabs and try again.',
      pngTooLarge: 'This picture is too large to save as a PNG here.',
      fetchFailed: 'Cannot load {0}: {1}', linkPicture: 'Picture in the link',
      notImage: '{0} is not an image this browser can read',
      stageLoad: 'Opening the image…', stagePixels: 'Reading the pixels…', stageResize: 'Resizing…', stageReduce: 'Choosing the colours…', stageEncode: 'Encoding…',
      tooLarge: '{0} × {1} is larger than the 768 × 512 reference screen; the viewer cannot keep it whole on a smaller screen.',
      commentCharacter: 'The character "{0}" ({1}) cannot be stored exactly in code page 932.',
      commentTerminator: 'The comment cannot hold the character 0x1A, which ends it in the file.',
      commentLong: 'The comment is {0} bytes in code page 932; the viewer keeps at most 127.',
      fileSize: '{0} bytes', word: 'word'
    },
    ja: {
      title: '4色画像ビューア',
      tagline: '.vld 画像は4色の小さな画像です。デスクトップのビューアが、画像の指定する位置に数秒間、画面の手前に表示します。ここで表示したり、どんな画像からでも作ったりできます。ファイルはこの端末の外に送られません。',
      samples: 'サンプルを開く', viewFit: '全体', viewActual: '1:1', previewScale: 'プレビューの大きさ', previewScroll: 'プレビュー: 1:1 では矢印キーでスクロールします',
      seethroughOff: 'この画像では壁紙透過を使えません: 背景 (色 0) が完全な黒 (0x0000) として保存されていないため、ビューアは常に表示します。',
      paletteNote: 'どの画素もこの4色のどれかです。色 0 は背景で、完全な黒 (0x0000) として保存されていると、ビューアはそこに壁紙を透かして見せられます。0x0001 の黒は見た目は同じでも常に表示されます。',
      paletteStored: '保存値 {0}', paletteClear: '完全な黒: 壁紙を透かせます', paletteOpaque: '保存値 {0}: 黒に見えますが常に表示されます',
      pictureSize: '大きさ', fitScreen: '768 × 512 の画面に収める', width: '幅', height: '高さ', sizeNote: '元の画像は {0} × {1} です。', sizeRefused: 'その大きさの画像は作れません: ビューアが扱えません。',
      pickColour: '画像から色を取る', pickNote: '画像をクリックすると、そこの色が色 {0} になります。',
      commentCount: '{0} バイト (ビューアが表示するのは 127 バイトまで)', commentBad: '画像が保存するコードページ 932 には {0} がありません。',
      commentSuggest: '{1} の代わりに {0} を使いますか?', commentReplace: '置き換える', commentNone: '{0} ({1})', and: '、',
      fileSizes: '{0} KB (元の画像は {1} KB)',
      isPicture: '{0} はすでに4色画像なので、変換するものはありません。', openIt: '表示する',
      cannotConvert: '{0} は変換できません: このブラウザでは画像として読めません。', pngRefused: '{0} は受け付けません: PNG の画像データが画素の数に比べて多すぎます。',
      openedOne: '1 枚の画像を開きました', http404: 'サーバーにそのファイルがありません (404)', httpOther: 'サーバーの応答は {0} でした',
      unreachable: 'ファイルを取得できませんでした',
      reason1: '4色画像ではありません (HK03 で始まっていません)', reason2: 'コメントの途中でファイルが切れています',
      reason3: 'このページの知らない形式です (形式バイト {0}、使えるのは 2 だけ)', reason3Short: 'ヘッダーの前でファイルが切れています',
      reason4: 'ヘッダーの途中でファイルが切れています', reason5: '幅か高さが 0 です',
      reason6: '大きすぎます: {0} × {1} 画素には {2} MiB を超えるメモリが要ります', reason7: '開くためのメモリが足りません',
      reason8: 'ファイルが途中で切れています: 行 {0} の途中で終わっています',
      open: '画像を開く…', convert: '画像を変換…', drop: 'またはこのページにファイルをドロップ',
      modes: 'モード', modeViewer: '表示', modeConverter: '変換', list: '開いた画像',
      zoom: '拡大', zoomFit: '全体', close: '閉じる', seethrough: '壁紙透過', downloadPng: 'PNG で保存',
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
      noMemory: 'この大きさの画像を開くメモリがブラウザに残っていません。ほかの画像やタブを閉じてから開き直してください。',
      pngTooLarge: 'この画像は大きすぎて、ここでは PNG で保存できません。',
      fetchFailed: '{0} を読み込めません: {1}', linkPicture: 'リンク内の画像',
      notImage: '{0} はこのブラウザで読める画像ではありません',
      stageLoad: '画像を開いています…', stagePixels: '画素を読み込み中…', stageResize: '大きさを変えています…', stageReduce: '色を選んでいます…', stageEncode: '符号化中…',
      tooLarge: '{0} × {1} は基準画面 768 × 512 より大きく、小さな画面ではビューアが全体を表示できません。',
      commentCharacter: '文字「{0}」({1}) はコードページ 932 で正確に保存できません。',
      commentTerminator: 'コメントには文字 0x1A を入れられません (ファイルではコメントの終わりを表します)。',
      commentLong: 'コメントはコードページ 932 で {0} バイトです。ビューアが保つのは 127 バイトまでです。',
      fileSize: '{0} バイト', word: 'ワード'
    }
  };
  var lang = /^ja\b/i.test(navigator.language || '') ? 'ja' : 'en';
  page.t = function (key) {
    var args = arguments;
    return TEXT[lang][key].replace(/\{(\d)\}/g, function (_, n) { return args[Number(n) + 1]; });
  };
  // `key` for one thing, `key` + 'One' where that reads differently.
  page.count = function (key, n) { return n === 1 && TEXT[lang][key + 'One'] ? page.t(key + 'One') : page.t(key, n); };
  // A refusal in the page's language: the library's reason carries its
  // numbers (row, size) in the order these texts take them.
  page.reason = function (error) {
    var numbers = String(error.message).match(/\d+/g) || [];
    var key = 'reason' + error.code;
    if (error.code === 3 && !numbers.length) key = 'reason3Short';
    if (!error.code || !TEXT[lang][key]) return error.message;
    return page.t.apply(null, [key].concat(numbers));
  };
  document.documentElement.lang = lang;
  document.title = page.t('title');
  document.querySelectorAll('[data-t]').forEach(function (e) { e.textContent = page.t(e.dataset.t); });
  document.querySelectorAll('[data-t-label]').forEach(function (e) { e.setAttribute('aria-label', page.t(e.dataset.tLabel)); });
})(vldPage);
