// What the page shares with vldtool beyond the library, compiled from
// vldtool's own portable sources: the text a PNG carries (read with the
// number rule vldtool's options use), and the limit on the compressed data
// a PNG may hold after its last row. The page reads these through
// vld_api.js, so the rules live once, in C++.
#include <emscripten.h>

#include <cstdint>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "tools/image/header_checks.h"
#include "tools/text/png_text.h"

extern "C" {

// Bytes the page copies a file into, so that a large PNG is held once in
// the module's memory.
EMSCRIPTEN_KEEPALIVE std::vector<uint8_t>* web_bytes_new(uint32_t size) {
  auto* bytes = new (std::nothrow) std::vector<uint8_t>();
  if (bytes != nullptr) bytes->resize(size);
  return bytes;
}
EMSCRIPTEN_KEEPALIVE uint8_t* web_bytes_data(std::vector<uint8_t>* bytes) { return bytes->data(); }
EMSCRIPTEN_KEEPALIVE void web_bytes_delete(std::vector<uint8_t>* bytes) { delete bytes; }

// The text of a PNG, to be read with web_png_text_fields and
// web_png_comment, then given back with web_png_text_delete.
EMSCRIPTEN_KEEPALIVE PngText* web_png_text(const std::vector<uint8_t>* png) {
  auto* text = new (std::nothrow) PngText();
  if (text != nullptr) ReadPngText(*png, text);
  return text;
}
// has_comment, the comment's size, has_anchor, the anchor's two words,
// has_palette and the four palette words.
EMSCRIPTEN_KEEPALIVE void web_png_text_fields(const PngText* text, uint32_t fields[10]) {
  const uint32_t values[10] = {uint32_t(text->has_comment), uint32_t(text->comment.size()),
                               uint32_t(text->has_anchor),  text->anchor[0],
                               text->anchor[1],             uint32_t(text->has_palette),
                               text->palette[0],            text->palette[1],
                               text->palette[2],            text->palette[3]};
  for (int i = 0; i < 10; ++i) fields[i] = values[i];
}
EMSCRIPTEN_KEEPALIVE const char* web_png_comment(const PngText* text) { return text->comment.data(); }
EMSCRIPTEN_KEEPALIVE void web_png_text_delete(PngText* text) { delete text; }

// 0 for a PNG vldtool reads, or 1 with its reason for refusing it before
// any decoder sees it (`reason`: 200 bytes), as vldtool.exe does: at most
// 64 KiB of compressed data after the last row, so that a small file cannot
// make the browser inflate gigabytes.
EMSCRIPTEN_KEEPALIVE int web_png_refusal(const std::vector<uint8_t>* png, char* reason) {
  std::vector<uint8_t> cut;
  std::string error;
  if (BoundImage("PNG", &png, &cut, &error)) return 0;
  std::snprintf(reason, 200, "%s", error.c_str());
  return 1;
}

}  // extern "C"
