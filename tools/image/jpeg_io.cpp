// JPEG through libjpeg(-turbo). Its errors end in a longjmp instead of
// exit(): the function that calls setjmp holds only plain locals, and every
// buffer it fills is owned by the caller, so the jump skips no destructor.
#include <cstdio>
// jpeglib.h needs FILE and size_t declared first.
#include <jerror.h>
#include <jpeglib.h>

#include <csetjmp>

#include "tools/image/image_io.h"

namespace {

struct ErrorSink {
  jpeg_error_mgr manager;
  jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void OnJpegError(j_common_ptr info) {
  ErrorSink* sink = reinterpret_cast<ErrorSink*>(info->err);
  (*info->err->format_message)(info, sink->message);
  std::longjmp(sink->jump, 1);
}

// Warnings are silent, except that data ending early is a failure here:
// libjpeg would otherwise fill the missing rows with grey.
void OnJpegMessage(j_common_ptr info, int level) {
  if (level < 0 && info->err->msg_code == JWRN_JPEG_EOF) {
    ErrorSink* sink = reinterpret_cast<ErrorSink*>(info->err);
    std::snprintf(sink->message, sizeof sink->message, "the JPEG data ends early");
    std::longjmp(sink->jump, 1);
  }
}

void OnProgress(j_common_ptr info) {
  j_decompress_ptr decompress = reinterpret_cast<j_decompress_ptr>(info);
  if (decompress->input_scan_number > kMaxJpegScans) {
    ErrorSink* sink = reinterpret_cast<ErrorSink*>(info->err);
    std::snprintf(sink->message, sizeof sink->message, "the JPEG holds over %d scans",
                  kMaxJpegScans);
    std::longjmp(sink->jump, 1);
  }
}

// Adobe's CMYK JPEGs store the inks inverted: 255 is no ink.
void CmykToRgba(const uint8_t* cmyk, uint8_t* rgba) {
  for (int c = 0; c < 3; ++c) rgba[c] = static_cast<uint8_t>((cmyk[c] * cmyk[3] + 127) / 255);
  rgba[3] = 0xFF;
}

int Decode(const std::vector<uint8_t>& bytes, DecodedImage* image, ErrorSink* sink,
           std::vector<uint8_t>* cmyk_row) {
  jpeg_decompress_struct info;
  jpeg_progress_mgr progress;
  info.err = jpeg_std_error(&sink->manager);
  sink->manager.error_exit = OnJpegError;
  sink->manager.emit_message = OnJpegMessage;
  sink->message[0] = 0;
  if (setjmp(sink->jump)) {
    jpeg_destroy_decompress(&info);
    return 0;
  }
  jpeg_create_decompress(&info);
  progress.progress_monitor = OnProgress;
  info.progress = &progress;
  jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
  jpeg_read_header(&info, TRUE);
  {
    std::string reason;
    if (!CheckImageSize(info.image_width, info.image_height, &reason)) {
      std::snprintf(sink->message, sizeof sink->message, "%s", reason.c_str());
      jpeg_destroy_decompress(&info);
      return 0;
    }
  }
  const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
  info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_RGBA;
  jpeg_start_decompress(&info);
  image->width = info.output_width;
  image->height = info.output_height;
  image->rgba.assign(size_t{image->width} * image->height * 4, 0);
  if (cmyk) cmyk_row->assign(size_t{image->width} * 4, 0);
  while (info.output_scanline < info.output_height) {
    uint8_t* target = image->rgba.data() + size_t{info.output_scanline} * image->width * 4;
    JSAMPROW row = cmyk ? cmyk_row->data() : target;
    jpeg_read_scanlines(&info, &row, 1);
    if (cmyk)
      for (uint32_t x = 0; x < image->width; ++x) CmykToRgba(&(*cmyk_row)[4 * x], &target[4 * x]);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return 1;
}

}  // namespace

int ReadJpegImage(const std::vector<uint8_t>& bytes, DecodedImage* image, std::string* error) {
  *image = DecodedImage{};
  ErrorSink sink;
  std::vector<uint8_t> cmyk_row;
  if (!Decode(bytes, image, &sink, &cmyk_row)) {
    *image = DecodedImage{};
    *error = sink.message[0] != 0 ? sink.message : "cannot read the JPEG";
    return 0;
  }
  return 1;
}
