// Reads pictures as any WIC program does, through the imaging factory and
// whatever decoder the system registered for the file's first bytes, and
// writes what it got, one line a file, for wic_install.py to compare with
// `vldtool decode`:
//   FILE ok decoder=NAME format=GUID size=WxH palette=AARRGGBB,...
//        pixels=0123... rect=same|differs bounds=refused|accepted
//   FILE error=0xHRESULT
// usage: wic_decode OUTPUT FILE...
#include <windows.h>
#include <wincodec.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string narrow(const wchar_t *text) {
  int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(size > 0 ? size - 1 : 0, '\0');
  if (size > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], size, nullptr, nullptr);
  return out;
}

template <typename Info, typename Get>
std::string info_text(Info *info, Get get) {
  UINT size = 0;
  if (FAILED((info->*get)(0, nullptr, &size)) || size == 0) return "?";
  std::vector<wchar_t> text(size);
  if (FAILED((info->*get)(size, text.data(), &size))) return "?";
  return narrow(text.data());
}

std::string guid_text(const GUID &guid) {
  wchar_t text[64];
  StringFromGUID2(guid, text, 64);
  return narrow(text);
}

template <typename T>
void release(T *&p) {
  if (p) p->Release();
  p = nullptr;
}

// One file; returns the line's text after the file name, or an HRESULT.
HRESULT describe(IWICImagingFactory *factory, const wchar_t *path, std::string &line) {
  IWICBitmapDecoder *decoder = nullptr;
  HRESULT hr = factory->CreateDecoderFromFilename(path, nullptr, GENERIC_READ,
                                                  WICDecodeMetadataCacheOnDemand, &decoder);
  if (FAILED(hr)) return hr;
  IWICBitmapDecoderInfo *info = nullptr;
  IWICBitmapFrameDecode *frame = nullptr;
  IWICPalette *palette = nullptr;
  UINT frames = 0, width = 0, height = 0, count = 0;
  GUID format = {};
  char text[64];
  std::vector<BYTE> full, part;
  std::vector<WICColor> colours(256);
  if (SUCCEEDED(hr = decoder->GetDecoderInfo(&info))) {
    line += " ok decoder=" + info_text(info, &IWICBitmapDecoderInfo::GetFriendlyName);
  }
  if (SUCCEEDED(hr) && SUCCEEDED(hr = decoder->GetFrameCount(&frames)) &&
      SUCCEEDED(hr = decoder->GetFrame(0, &frame)) && SUCCEEDED(hr = frame->GetSize(&width, &height)) &&
      SUCCEEDED(hr = frame->GetPixelFormat(&format)) &&
      SUCCEEDED(hr = factory->CreatePalette(&palette)) &&
      SUCCEEDED(hr = frame->CopyPalette(palette)) &&
      SUCCEEDED(hr = palette->GetColors(256, colours.data(), &count))) {
    line += frames == 1 ? " format=" + guid_text(format) : " frames=many";
    std::snprintf(text, sizeof text, " size=%ux%u palette=", width, height);
    line += text;
    for (UINT i = 0; i < count; ++i) {
      std::snprintf(text, sizeof text, "%s%08lX", i ? "," : "", static_cast<unsigned long>(colours[i]));
      line += text;
    }
  }
  // The whole frame with the tightest stride, then an inner rectangle that
  // starts mid-byte, with a stride of its own.
  UINT stride = (width * 2 + 7) / 8;
  if (SUCCEEDED(hr)) {
    full.resize(static_cast<size_t>(stride) * height);
    hr = frame->CopyPixels(nullptr, stride, static_cast<UINT>(full.size()), full.data());
  }
  if (SUCCEEDED(hr)) {
    line += " pixels=";
    for (UINT y = 0; y < height; ++y)
      for (UINT x = 0; x < width; ++x)
        line += static_cast<char>('0' + ((full[y * stride + x / 4] >> (6 - 2 * (x % 4))) & 3));
  }
  if (SUCCEEDED(hr) && width > 2 && height > 2) {
    WICRect rect = {1, 1, static_cast<INT>(width - 2), static_cast<INT>(height - 2)};
    UINT part_stride = (rect.Width * 2 + 7) / 8 + 5;
    part.assign(static_cast<size_t>(part_stride) * rect.Height, 0xEE);
    hr = frame->CopyPixels(&rect, part_stride, static_cast<UINT>(part.size()), part.data());
    bool same = SUCCEEDED(hr);
    for (INT y = 0; same && y < rect.Height; ++y)
      for (INT x = 0; same && x < rect.Width; ++x) {
        UINT fx = x + 1, fy = y + 1;
        int a = (full[fy * stride + fx / 4] >> (6 - 2 * (fx % 4))) & 3;
        int b = (part[y * part_stride + x / 4] >> (6 - 2 * (x % 4))) & 3;
        same = a == b;
      }
    line += same ? " rect=same" : " rect=differs";
  }
  // A rectangle outside the frame and a buffer one byte short are refused,
  // and nothing is written past the buffer given.
  if (SUCCEEDED(hr)) {
    WICRect outside = {static_cast<INT>(width) - 1, 0, 2, 1};
    WICRect whole = {0, 0, static_cast<INT>(width), static_cast<INT>(height)};
    std::vector<BYTE> guard(full.size() + 1, 0xEE);
    bool refused = FAILED(frame->CopyPixels(&outside, stride, static_cast<UINT>(full.size()),
                                            guard.data())) &&
                   FAILED(frame->CopyPixels(&whole, stride, static_cast<UINT>(full.size() - 1),
                                            guard.data())) &&
                   FAILED(frame->CopyPixels(&whole, stride - 1, static_cast<UINT>(full.size()),
                                            guard.data()));
    line += refused && guard.back() == 0xEE ? " bounds=refused" : " bounds=accepted";
  }
  release(palette);
  release(frame);
  release(info);
  release(decoder);
  return hr;
}

}  // namespace

int wmain(int argc, wchar_t **argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: wic_decode OUTPUT FILE...\n");
    return 2;
  }
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
  IWICImagingFactory *factory = nullptr;
  HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IWICImagingFactory, reinterpret_cast<void **>(&factory));
  if (FAILED(hr)) {
    std::fprintf(stderr, "wic_decode: no imaging factory: 0x%08lX\n", static_cast<unsigned long>(hr));
    return 1;
  }
  FILE *out = _wfopen(argv[1], L"wb");
  if (!out) {
    std::fprintf(stderr, "wic_decode: cannot write the output\n");
    return 1;
  }
  for (int i = 2; i < argc; ++i) {
    std::string line = narrow(argv[i]);
    HRESULT result = describe(factory, argv[i], line);
    if (FAILED(result)) {
      char text[32];
      std::snprintf(text, sizeof text, " error=0x%08lX", static_cast<unsigned long>(result));
      line = narrow(argv[i]) + text;
    }
    std::fprintf(out, "%s\n", line.c_str());
  }
  std::fclose(out);
  factory->Release();
  CoUninitialize();
  return 0;
}
