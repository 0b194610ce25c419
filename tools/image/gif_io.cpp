// GIF through giflib. Only the first image is read, record by record, so a
// file with thousands of frames costs no more than its first one; its own
// size (not the logical screen's) is the picture's, as the system codecs
// on Windows report it.
#include <gif_lib.h>

#include <cstring>

#include "tools/image/image_io.h"

namespace {

struct ReadCursor {
  const uint8_t* data;
  size_t size;
  size_t offset;
};

int ReadFromMemory(GifFileType* gif, GifByteType* out, int length) {
  ReadCursor* cursor = static_cast<ReadCursor*>(gif->UserData);
  const size_t left = cursor->size - cursor->offset;
  const size_t count = length < 0 ? 0 : (static_cast<size_t>(length) < left ? length : left);
  std::memcpy(out, cursor->data + cursor->offset, count);
  cursor->offset += count;
  return static_cast<int>(count);
}

std::string GifReason(int code) {
  if (code == D_GIF_ERR_READ_FAILED || code == D_GIF_ERR_EOF_TOO_SOON)
    return "the GIF data ends early";
  const char* text = GifErrorString(code);
  return std::string("cannot read the GIF: ") + (text != nullptr ? text : "damaged data");
}

int ReadFirstImage(GifFileType* gif, DecodedImage* image, std::string* error) {
  int transparent = NO_TRANSPARENT_COLOR;
  for (;;) {
    GifRecordType record;
    if (DGifGetRecordType(gif, &record) == GIF_ERROR) {
      *error = GifReason(gif->Error);
      return 0;
    }
    if (record == TERMINATE_RECORD_TYPE) {
      *error = "the GIF holds no image";
      return 0;
    }
    if (record == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* block = nullptr;
      if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) {
        *error = GifReason(gif->Error);
        return 0;
      }
      GraphicsControlBlock control;
      if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr &&
          DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK)
        transparent = control.TransparentColor;
      while (block != nullptr) {
        if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) {
          *error = GifReason(gif->Error);
          return 0;
        }
      }
      continue;
    }
    if (record != IMAGE_DESC_RECORD_TYPE) {
      *error = GifReason(D_GIF_ERR_WRONG_RECORD);
      return 0;
    }
    if (DGifGetImageDesc(gif) == GIF_ERROR) {
      *error = GifReason(gif->Error);
      return 0;
    }
    break;
  }
  const GifImageDesc& desc = gif->Image;
  if (desc.Width < 0 || desc.Height < 0 || !CheckImageSize(desc.Width, desc.Height, error))
    return 0;
  const ColorMapObject* map = desc.ColorMap != nullptr ? desc.ColorMap : gif->SColorMap;
  if (map == nullptr || map->ColorCount <= 0 || map->ColorCount > 256) {
    *error = "the GIF has no colour table";
    return 0;
  }
  image->width = static_cast<uint32_t>(desc.Width);
  image->height = static_cast<uint32_t>(desc.Height);
  image->indexed = 1;
  image->palette_rgba.assign(size_t(map->ColorCount) * 4, 0xFF);
  for (int k = 0; k < map->ColorCount; ++k) {
    image->palette_rgba[4 * k + 0] = map->Colors[k].Red;
    image->palette_rgba[4 * k + 1] = map->Colors[k].Green;
    image->palette_rgba[4 * k + 2] = map->Colors[k].Blue;
    if (k == transparent) image->palette_rgba[4 * k + 3] = 0;
  }
  // Interlaced rows arrive in four passes: every 8th row from 0, every 8th
  // from 4, every 4th from 2, every 2nd from 1.
  static const uint32_t kFirst[4] = {0, 4, 2, 1};
  static const uint32_t kStep[4] = {8, 8, 4, 2};
  const int passes = desc.Interlace ? 4 : 1;
  image->indices.assign(size_t{image->width} * image->height, 0);
  for (int pass = 0; pass < passes; ++pass) {
    const uint32_t first = desc.Interlace ? kFirst[pass] : 0;
    const uint32_t step = desc.Interlace ? kStep[pass] : 1;
    for (uint32_t y = first; y < image->height; y += step) {
      if (DGifGetLine(gif, image->indices.data() + size_t{y} * image->width, desc.Width) ==
          GIF_ERROR) {
        *error = GifReason(gif->Error);
        return 0;
      }
    }
  }
  if (!CheckPaletteIndices(*image, error)) return 0;
  return 1;
}

}  // namespace

int ReadGifImage(const std::vector<uint8_t>& bytes, DecodedImage* image, std::string* error) {
  *image = DecodedImage{};
  ReadCursor cursor{bytes.data(), bytes.size(), 0};
  int code = 0;
  GifFileType* gif = DGifOpen(&cursor, ReadFromMemory, &code);
  if (gif == nullptr) {
    *error = GifReason(code);
    return 0;
  }
  const int ok = ReadFirstImage(gif, image, error);
  DGifCloseFile(gif, &code);
  if (!ok) *image = DecodedImage{};
  return ok;
}
