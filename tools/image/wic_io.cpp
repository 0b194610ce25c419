// Image files on Windows through the Windows Imaging Component, the
// system's own codecs, so vldtool.exe needs no image library of its own.
// Only the five kinds of file the tool documents are accepted, each by its
// signature, so that a file is read or refused alike on every Windows
// version whatever other codecs it has installed.
#include <windows.h>
// The GUIDs that wincodec.h declares are defined in this file.
#include <initguid.h>
#include <shlwapi.h>
#include <wincodec.h>

#include <climits>
#include <cstdio>
#include <cstring>

#include "tools/image/header_checks.h"
#include "tools/image/image_io.h"

namespace {

// Releases a COM interface when it goes out of scope.
template <typename T>
struct Com {
  T* p = nullptr;
  Com() = default;
  Com(const Com&) = delete;
  Com& operator=(const Com&) = delete;
  ~Com() {
    if (p != nullptr) p->Release();
  }
  T** operator&() { return &p; }
  T* operator->() const { return p; }
};

std::string ErrorCode(HRESULT hr) {
  char text[32];
  std::snprintf(text, sizeof text, "error 0x%08lX", static_cast<unsigned long>(hr));
  return text;
}

std::string HresultReason(const char* what, HRESULT hr) {
  char text[96];
  if (hr == WINCODEC_ERR_BADHEADER || hr == WINCODEC_ERR_BADIMAGE ||
      hr == WINCODEC_ERR_BADSTREAMDATA || hr == WINCODEC_ERR_STREAMREAD ||
      hr == WINCODEC_ERR_STREAMNOTAVAILABLE || hr == WINCODEC_ERR_COMPONENTNOTFOUND ||
      hr == WINCODEC_ERR_UNKNOWNIMAGEFORMAT || hr == WINCODEC_ERR_FRAMEMISSING ||
      hr == HRESULT_FROM_WIN32(ERROR_HANDLE_EOF) || hr == E_FAIL) {
    std::snprintf(text, sizeof text, "the %s data is damaged or ends early", what);
  } else if (hr == WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT || hr == WINCODEC_ERR_UNSUPPORTEDOPERATION) {
    std::snprintf(text, sizeof text, "this system cannot read this kind of %s", what);
  } else if (hr == E_OUTOFMEMORY) {
    std::snprintf(text, sizeof text, "out of memory");
  } else {
    return std::string("cannot read the ") + what + " (" + ErrorCode(hr) + ")";
  }
  return text;
}

// COM is started once for the tool's whole run; a thread that already
// runs it in another mode can still use WIC.
IWICImagingFactory* Factory(std::string* error) {
  static IWICImagingFactory* factory = nullptr;
  if (factory != nullptr) return factory;
  const HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (FAILED(init) && init != RPC_E_CHANGED_MODE) {
    *error = "cannot start COM (" + ErrorCode(init) + ")";
    return nullptr;
  }
  const HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IWICImagingFactory, reinterpret_cast<void**>(&factory));
  if (FAILED(hr)) {
    factory = nullptr;
    *error = "the Windows Imaging Component is not available (" + ErrorCode(hr) + ")";
    return nullptr;
  }
  return factory;
}

// The codec WIC must have picked for each kind of file ImageKind names.
const GUID* Container(const char* kind) {
  static const struct {
    const char* kind;
    const GUID* container;
  } kContainers[] = {{"PNG", &GUID_ContainerFormatPng},
                     {"GIF", &GUID_ContainerFormatGif},
                     {"JPEG", &GUID_ContainerFormatJpeg},
                     {"BMP", &GUID_ContainerFormatBmp},
                     {"TIFF", &GUID_ContainerFormatTiff}};
  for (const auto& c : kContainers)
    if (kind != nullptr && std::strcmp(kind, c.kind) == 0) return c.container;
  return nullptr;
}

// Bits per pixel of the indexed formats, 0 for any other.
int IndexedBits(const WICPixelFormatGUID& format) {
  if (format == GUID_WICPixelFormat1bppIndexed) return 1;
  if (format == GUID_WICPixelFormat2bppIndexed) return 2;
  if (format == GUID_WICPixelFormat4bppIndexed) return 4;
  if (format == GUID_WICPixelFormat8bppIndexed) return 8;
  return 0;
}

// Indices and palette of an indexed frame; packed pixels are unpacked,
// leftmost pixel in the highest bits.
int ReadIndexed(IWICImagingFactory* factory, IWICBitmapFrameDecode* frame, int bits,
                const char* what, DecodedImage* image, std::string* error) {
  Com<IWICPalette> palette;
  UINT count = 0;
  HRESULT hr = factory->CreatePalette(&palette);
  if (SUCCEEDED(hr)) hr = frame->CopyPalette(palette.p);
  if (SUCCEEDED(hr)) hr = palette->GetColorCount(&count);
  WICColor colours[256];
  if (SUCCEEDED(hr) && (count == 0 || count > 256)) hr = WINCODEC_ERR_BADIMAGE;
  if (SUCCEEDED(hr)) hr = palette->GetColors(count, colours, &count);
  if (FAILED(hr)) {
    *error = HresultReason(what, hr);
    return 0;
  }
  image->palette_rgba.resize(size_t{count} * 4);
  for (UINT k = 0; k < count; ++k) {
    image->palette_rgba[4 * k + 0] = static_cast<uint8_t>(colours[k] >> 16);
    image->palette_rgba[4 * k + 1] = static_cast<uint8_t>(colours[k] >> 8);
    image->palette_rgba[4 * k + 2] = static_cast<uint8_t>(colours[k]);
    image->palette_rgba[4 * k + 3] = static_cast<uint8_t>(colours[k] >> 24);
  }
  const size_t width = image->width, height = image->height;
  const size_t stride = (width * bits + 7) / 8;
  std::vector<uint8_t> packed(stride * height);
  hr = frame->CopyPixels(nullptr, static_cast<UINT>(stride), static_cast<UINT>(packed.size()),
                         packed.data());
  if (FAILED(hr)) {
    *error = HresultReason(what, hr);
    return 0;
  }
  if (bits == 8) {
    image->indices.swap(packed);
  } else {
    image->indices.resize(width * height);
    const int per_byte = 8 / bits;
    const unsigned mask = (1u << bits) - 1;
    for (size_t y = 0; y < height; ++y) {
      for (size_t x = 0; x < width; ++x) {
        const unsigned byte = packed[y * stride + x / per_byte];
        const int shift = 8 - bits * static_cast<int>(x % per_byte + 1);
        image->indices[y * width + x] = static_cast<uint8_t>((byte >> shift) & mask);
      }
    }
  }
  image->indexed = 1;
  if (!CheckPaletteIndices(*image, error)) return 0;
  return 1;
}

int ReadRgba(IWICImagingFactory* factory, IWICBitmapFrameDecode* frame, const char* what,
             DecodedImage* image, std::string* error) {
  Com<IWICFormatConverter> converter;
  HRESULT hr = factory->CreateFormatConverter(&converter);
  if (SUCCEEDED(hr))
    hr = converter->Initialize(frame, GUID_WICPixelFormat32bppRGBA, WICBitmapDitherTypeNone,
                               nullptr, 0.0, WICBitmapPaletteTypeCustom);
  const size_t stride = size_t{image->width} * 4;
  if (SUCCEEDED(hr)) {
    image->rgba.resize(stride * image->height);
    hr = converter->CopyPixels(nullptr, static_cast<UINT>(stride),
                               static_cast<UINT>(image->rgba.size()), image->rgba.data());
  }
  if (FAILED(hr)) {
    *error = HresultReason(what, hr);
    return 0;
  }
  return 1;
}

int Decode(const std::vector<uint8_t>& bytes, DecodedImage* image, std::string* error) {
  const char* what = ImageKind(bytes);
  const GUID* expected = Container(what);
  if (expected == nullptr) {
    *error = "cannot read this kind of file";
    return 0;
  }
  uint64_t declared_width = 0, declared_height = 0;
  if (DeclaredSize(bytes, what, &declared_width, &declared_height) &&
      !CheckImageSize(declared_width, declared_height, error))
    return 0;
  std::vector<uint8_t> cut;
  const std::vector<uint8_t>* given = &bytes;
  if (!BoundImage(what, &given, &cut, error)) return 0;
  IWICImagingFactory* factory = Factory(error);
  if (factory == nullptr) return 0;
  if (given->size() > UINT_MAX) {
    *error = "the file is too large";
    return 0;
  }
  Com<IStream> stream;
  stream.p = SHCreateMemStream(given->data(), static_cast<UINT>(given->size()));
  if (stream.p == nullptr) {
    *error = "out of memory";
    return 0;
  }
  Com<IWICBitmapDecoder> decoder;
  GUID container{};
  HRESULT hr =
      factory->CreateDecoderFromStream(stream.p, nullptr, WICDecodeMetadataCacheOnDemand, &decoder);
  if (SUCCEEDED(hr)) hr = decoder->GetContainerFormat(&container);
  if (FAILED(hr)) {
    *error = HresultReason(what, hr);
    return 0;
  }
  if (container != *expected) {
    *error = "cannot read this kind of file";
    return 0;
  }
  Com<IWICBitmapFrameDecode> frame;
  UINT width = 0, height = 0;
  WICPixelFormatGUID format{};
  hr = decoder->GetFrame(0, &frame);
  if (SUCCEEDED(hr)) hr = frame->GetSize(&width, &height);
  if (SUCCEEDED(hr)) hr = frame->GetPixelFormat(&format);
  if (FAILED(hr)) {
    *error = HresultReason(what, hr);
    return 0;
  }
  if (!CheckImageSize(width, height, error)) return 0;
  image->width = width;
  image->height = height;
  const int bits = IndexedBits(format);
  return bits != 0 ? ReadIndexed(factory, frame.p, bits, what, image, error)
                   : ReadRgba(factory, frame.p, what, image, error);
}

}  // namespace

int ReadImage(const std::vector<uint8_t>& bytes, DecodedImage* image, std::string* error) {
  *image = DecodedImage{};
  if (!Decode(bytes, image, error)) {
    *image = DecodedImage{};
    return 0;
  }
  return 1;
}

int WritePalettePng(uint32_t width, uint32_t height, const uint8_t* rows, size_t stride,
                    const uint8_t palette_rgb[4][3], int transparent_zero,
                    std::vector<uint8_t>* out, std::string* error) {
  out->clear();
  IWICImagingFactory* factory = Factory(error);
  if (factory == nullptr) return 0;
  WICColor colours[4];
  for (int k = 0; k < 4; ++k) {
    const WICColor alpha = (k == 0 && transparent_zero) ? 0 : 0xFF;
    colours[k] = alpha << 24 | WICColor{palette_rgb[k][0]} << 16 |
                 WICColor{palette_rgb[k][1]} << 8 | palette_rgb[k][2];
  }
  Com<IStream> stream;
  stream.p = SHCreateMemStream(nullptr, 0);
  Com<IWICBitmapEncoder> encoder;
  Com<IWICBitmapFrameEncode> frame;
  Com<IPropertyBag2> options;
  Com<IWICPalette> palette;
  WICPixelFormatGUID format = GUID_WICPixelFormat8bppIndexed;
  HRESULT hr = stream.p != nullptr ? S_OK : E_OUTOFMEMORY;
  if (SUCCEEDED(hr)) hr = factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder);
  if (SUCCEEDED(hr)) hr = encoder->Initialize(stream.p, WICBitmapEncoderNoCache);
  if (SUCCEEDED(hr)) hr = encoder->CreateNewFrame(&frame, &options);
  if (SUCCEEDED(hr)) hr = frame->Initialize(options.p);
  if (SUCCEEDED(hr)) hr = frame->SetSize(width, height);
  if (SUCCEEDED(hr)) hr = frame->SetPixelFormat(&format);
  if (SUCCEEDED(hr) && format != GUID_WICPixelFormat8bppIndexed)
    hr = WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT;
  if (SUCCEEDED(hr)) hr = factory->CreatePalette(&palette);
  if (SUCCEEDED(hr)) hr = palette->InitializeCustom(colours, 4);
  if (SUCCEEDED(hr)) hr = frame->SetPalette(palette.p);
  if (SUCCEEDED(hr) && stride * height > UINT_MAX) hr = E_OUTOFMEMORY;
  if (SUCCEEDED(hr))
    hr = frame->WritePixels(height, static_cast<UINT>(stride), static_cast<UINT>(stride * height),
                            const_cast<BYTE*>(rows));
  if (SUCCEEDED(hr)) hr = frame->Commit();
  if (SUCCEEDED(hr)) hr = encoder->Commit();
  STATSTG stat{};
  if (SUCCEEDED(hr)) hr = stream->Stat(&stat, STATFLAG_NONAME);
  if (SUCCEEDED(hr) && stat.cbSize.QuadPart > UINT_MAX) hr = E_OUTOFMEMORY;
  ULONG got = 0;
  if (SUCCEEDED(hr)) {
    out->resize(static_cast<size_t>(stat.cbSize.QuadPart));
    LARGE_INTEGER start{};
    hr = stream->Seek(start, STREAM_SEEK_SET, nullptr);
  }
  if (SUCCEEDED(hr)) hr = stream->Read(out->data(), static_cast<ULONG>(out->size()), &got);
  if (SUCCEEDED(hr) && got != out->size()) hr = E_FAIL;
  if (FAILED(hr)) {
    out->clear();
    *error = "cannot write the PNG (" + ErrorCode(hr) + ")";
    return 0;
  }
  return 1;
}
