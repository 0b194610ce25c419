// The page's words, in English and in Japanese; the browser's language
// chooses. Other scripts of the page take them through vldPage.t.
var vldPage = {};
(function (page) {
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
  page.t = function (key) {
    var args = arguments;
    return TEXT[lang][key].replace(/\{(\d)\}/g, function (_, n) { return args[Number(n) + 1]; });
  };
  document.documentElement.lang = lang;
  document.title = page.t('title');
  document.querySelectorAll('[data-t]').forEach(function (e) { e.textContent = page.t(e.dataset.t); });
  document.querySelectorAll('[data-t-label]').forEach(function (e) { e.setAttribute('aria-label', page.t(e.dataset.tLabel)); });
})(vldPage);
