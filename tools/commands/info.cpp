// vldtool info: what a picture file holds and what the viewer will make of it.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "app/viewer_rules.h"
#include "tools/commands/commands.h"
#include "tools/commands/picture_file.h"
#include "tools/commands/usage.h"
#include "tools/system/terminal.h"
#include "tools/text/cp932.h"
#include "tools/text/json.h"
#include "vld.hpp"

namespace {

const char kInfoUsage[] =
    "usage: vldtool info [--json] FILE...\n"
    "Describes picture files: comment, anchor, size, palette, row kinds and\n"
    "whether see-through can be offered. Exit status 1 if any file is rejected.\n"
    "FILE '-' is standard input. With --json, names and comments that are not\n"
    "valid text also come as hex bytes (file_bytes, comment_bytes).\n";

// A comment is shown up to this many bytes: far more than the viewer keeps,
// and few enough that a file whose comment fills it prints at once.
constexpr size_t kShownCommentBytes = 4096;

// Details of a file not decoded: no comment found.
vld_details NoDetails() {
  vld_details details = vld::Details();
  details.comment_size = -1;
  return details;
}

struct FileReport {
  std::string path;
  std::string error;  // empty when the file decoded
  vld_picture header = {};  // as vld_info gives it
  vld_details details = NoDetails();
  std::string comment_utf8;  // up to kShownCommentBytes of it, beyond the 127 the viewer keeps
  std::string comment_bytes;  // in hex, for JSON, when the comment is not valid code page 932
  bool comment_cut = false;   // only the start of the comment is shown
};

void Describe(const char* path, bool json, FileReport* report) {
  report->path = path;
  std::vector<uint8_t> data;
  std::string error;
  // The viewer's own limit, so every file it refuses for size is "too large".
  const ReadResult read = ReadPictureFile(path, false, &data, &error);
  if (read != kReadOk) {
    report->error = read == kReadTooLarge ? error : "cannot read: " + error;
    return;
  }
  // Row by row, the rows only counted: what info shows needs no picture
  // in memory, whatever its size.
  report->details = vld::Details();
  const int status = vld_decode_rows(
      data.data(), data.size(), &report->header,
      [](void*, uint32_t, const uint8_t*) { return 0; }, nullptr, &report->details);
  const vld_details& d = report->details;
  if (d.comment_size >= 0) {
    const char* comment = reinterpret_cast<const char*>(data.data()) + kPictureCommentOffset;
    const size_t length = static_cast<size_t>(d.comment_size);
    const size_t shown = Cp932Prefix(comment, length, kShownCommentBytes);
    report->comment_cut = shown < length;
    if (!Cp932ToUtf8(comment, shown, !json, &report->comment_utf8))
      report->comment_bytes = HexBytes(comment, shown);
  }
  if (status != VLD_OK) report->error = d.reason;
}

// The bytes between a row's starts in the decoder's buffer (vld.h).
unsigned Stride(uint32_t width) { return (width + 11) & ~3u; }

// A comment's length as the details give it: none found counts as empty.
size_t CommentLength(const FileReport& r) {
  return r.details.comment_size > 0 ? static_cast<size_t>(r.details.comment_size) : 0;
}

void PrintText(const FileReport& r) {
  const vld_picture& h = r.header;
  const vld_details& d = r.details;
  const size_t comment_length = CommentLength(r);
  std::printf("%s:\n", r.path.c_str());
  std::printf("  comment: \"%s\"%s (%zu bytes%s%s)\n", r.comment_utf8.c_str(),
              r.comment_cut ? "..." : "", comment_length,
              r.comment_cut ? ", cut here after the first 4096" : "",
              comment_length > kCommentSize - 1 ? "; the viewer shows the first 127" : "");
  std::printf("  comment menu item: %s\n", CommentMenuEnabled(comment_length) ? "enabled" : "greyed");
  std::printf("  anchor: %u,%u\n", unsigned{h.anchor_x}, unsigned{h.anchor_y});
  std::printf("  size: %ux%u\n", unsigned{h.width}, unsigned{h.height});
  std::printf("  stride: %u\n", Stride(h.width));
  for (int k = 0; k < 4; ++k) {
    uint8_t rgb[3];
    vld_rgb(h.palette[k], rgb);
    std::printf("  palette %d: 0x%04X  rgb(%u, %u, %u)\n", k, unsigned{h.palette[k]},
                unsigned{rgb[0]}, unsigned{rgb[1]}, unsigned{rgb[2]});
  }
  std::printf("  rows: %u literal, %u repeat, %u block\n", unsigned{d.literal_rows},
              unsigned{d.repeat_rows}, unsigned{d.block_rows});
  if (SeethroughDenied(h.palette[0]) == 0)
    std::printf("  see-through: possible\n");
  else
    std::printf("  see-through: not possible (palette word 0 is 0x%04X, not 0)\n",
                unsigned{h.palette[0]});
}

// The comment and its length, and its bytes when they are not valid text.
void PrintJsonComment(const FileReport& r) {
  std::printf("\"comment\": %s, \"comment_length\": %zu", JsonString(r.comment_utf8).c_str(),
              CommentLength(r));
  if (r.comment_cut) std::printf(", \"comment_cut\": true");
  if (!r.comment_bytes.empty()) std::printf(", \"comment_bytes\": \"%s\"", r.comment_bytes.c_str());
}

void PrintJson(const FileReport& r, bool last) {
  const vld_picture& h = r.header;
  const vld_details& d = r.details;
  std::string name;
  const bool name_is_text = NameToUtf8(r.path, &name);
  std::printf("  {\"file\": %s, ", JsonString(name).c_str());
  if (!name_is_text)
    std::printf("\"file_bytes\": \"%s\", ", HexBytes(r.path.data(), r.path.size()).c_str());
  if (!r.error.empty()) {
    std::printf("\"ok\": false, \"error\": %s", JsonString(r.error).c_str());
    if (d.comment_size >= 0) {
      std::printf(", ");
      PrintJsonComment(r);
    }
    std::printf("}%s\n", last ? "" : ",");
    return;
  }
  std::printf("\"ok\": true, ");
  PrintJsonComment(r);
  std::printf(", ");
  std::printf("\"anchor\": [%u, %u], \"width\": %u, \"height\": %u, \"stride\": %u, ",
              unsigned{h.anchor_x}, unsigned{h.anchor_y}, unsigned{h.width}, unsigned{h.height},
              Stride(h.width));
  std::printf("\"palette\": [");
  for (int k = 0; k < 4; ++k) {
    uint8_t rgb[3];
    vld_rgb(h.palette[k], rgb);
    std::printf("%s{\"word\": %u, \"rgb\": [%u, %u, %u]}", k ? ", " : "", unsigned{h.palette[k]},
                unsigned{rgb[0]}, unsigned{rgb[1]}, unsigned{rgb[2]});
  }
  std::printf("], \"rows\": {\"literal\": %u, \"repeat\": %u, \"block\": %u}, ",
              unsigned{d.literal_rows}, unsigned{d.repeat_rows}, unsigned{d.block_rows});
  std::printf("\"seethrough\": %s}%s\n", SeethroughDenied(h.palette[0]) == 0 ? "true" : "false",
              last ? "" : ",");
}

}  // namespace

int RunInfo(int argc, char** argv) {
  bool json = false;
  std::vector<const char*> files;
  bool options_done = false;
  for (int i = 0; i < argc; ++i) {
    if (!options_done && std::strcmp(argv[i], "--") == 0) {
      options_done = true;
    } else if (!options_done && std::strcmp(argv[i], "--json") == 0) {
      json = true;
    } else if (!options_done && IsHelp(argv[i])) {
      std::fputs(kInfoUsage, stdout);
      return 0;
    } else if (!options_done && argv[i][0] == '-' && argv[i][1] != 0) {
      return UsageError("info", std::string("unknown option '") + argv[i] + "'");
    } else {
      files.push_back(argv[i]);
    }
  }
  if (files.empty()) return UsageError("info", "no file given");
  // Comments are printed as UTF-8.
  ConsoleState console;
  BeginUtf8Console(&console);
  int status = 0;
  if (json) std::printf("[\n");
  for (size_t i = 0; i < files.size(); ++i) {
    FileReport report;
    // Running out of memory on one file fails that file, not the rest.
    try {
      Describe(files[i], json, &report);
    } catch (const std::bad_alloc&) {
      report.error = "out of memory";
      report.details = NoDetails();  // nothing of it is shown
      std::string().swap(report.comment_utf8);
      std::string().swap(report.comment_bytes);
    }
    if (!report.error.empty()) {
      std::fflush(stdout);
      std::fprintf(stderr, "vldtool: info: %s: %s\n", files[i], report.error.c_str());
      std::fflush(stderr);
      status = 1;
    }
    if (json)
      PrintJson(report, i + 1 == files.size());
    else if (report.error.empty())
      PrintText(report);
  }
  if (json) std::printf("]\n");
  EndUtf8Console(console);
  return status;
}
