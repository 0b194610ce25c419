// The WIC decoder for "HK03" pictures: once registered, every program that
// reads images through WIC (Explorer's thumbnails and previews, Photos, and
// any program calling CreateDecoderFromFilename) opens .vld and .tft files,
// found by their first bytes, as one 2bppIndexed frame with its palette.
#include <windows.h>
#include <wincodec.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "vld.h"
#include "vld_wic.h"

HMODULE g_module = nullptr;

namespace {

LONG g_objects = 0;
LONG g_locks = 0;

HRESULT decode_error(int code) {
  switch (code) {
    case VLD_ERROR_BAD_MAGIC: return WINCODEC_ERR_UNKNOWNIMAGEFORMAT;
    case VLD_ERROR_NO_TERMINATOR:
    case VLD_ERROR_BAD_FORMAT:
    case VLD_ERROR_SHORT_HEADER:
    case VLD_ERROR_ZERO_SIZE: return WINCODEC_ERR_BADHEADER;
    case VLD_ERROR_TOO_LARGE: return WINCODEC_ERR_IMAGESIZEOUTOFRANGE;
    case VLD_ERROR_OUT_OF_MEMORY: return E_OUTOFMEMORY;
    case VLD_ERROR_SHORT_ROW: return WINCODEC_ERR_BADIMAGE;
    default: return E_FAIL;
  }
}

// What the decoder and its frame both answer: no metadata, no colour
// contexts, no thumbnail.
HRESULT no_metadata(IWICMetadataQueryReader **reader) {
  if (reader) *reader = nullptr;
  return WINCODEC_ERR_UNSUPPORTEDOPERATION;
}

HRESULT no_color_contexts(UINT *count) {
  if (!count) return E_INVALIDARG;
  *count = 0;
  return S_OK;
}

HRESULT no_thumbnail(IWICBitmapSource **thumbnail) {
  if (thumbnail) *thumbnail = nullptr;
  return WINCODEC_ERR_CODECNOTHUMBNAIL;
}

// Reads the stream from its start to its end, refusing at the library's file
// limit so that a huge or endless stream cannot take unbounded memory.
HRESULT read_stream(IStream *stream, uint8_t **data, size_t *size) {
  *data = nullptr;
  *size = 0;
  LARGE_INTEGER zero = {};
  HRESULT hr = stream->Seek(zero, STREAM_SEEK_SET, nullptr);
  if (FAILED(hr)) return hr;
  size_t capacity = 64 * 1024;
  STATSTG stat = {};
  if (SUCCEEDED(stream->Stat(&stat, STATFLAG_NONAME))) {
    if (stat.cbSize.QuadPart >= VLD_MAX_FILE_BYTES) return WINCODEC_ERR_IMAGESIZEOUTOFRANGE;
    if (stat.cbSize.QuadPart + 1 > capacity) capacity = static_cast<size_t>(stat.cbSize.QuadPart) + 1;
  }
  uint8_t *buffer = static_cast<uint8_t *>(std::malloc(capacity));
  if (!buffer) return E_OUTOFMEMORY;
  size_t used = 0;
  for (;;) {
    if (used == capacity) {
      if (capacity >= VLD_MAX_FILE_BYTES) {
        std::free(buffer);
        return WINCODEC_ERR_IMAGESIZEOUTOFRANGE;
      }
      size_t grown = capacity * 2 > VLD_MAX_FILE_BYTES ? static_cast<size_t>(VLD_MAX_FILE_BYTES)
                                                       : capacity * 2;
      uint8_t *bigger = static_cast<uint8_t *>(std::realloc(buffer, grown));
      if (!bigger) {
        std::free(buffer);
        return E_OUTOFMEMORY;
      }
      buffer = bigger;
      capacity = grown;
    }
    size_t want = capacity - used;
    if (want > 1u << 30) want = 1u << 30;
    ULONG got = 0;
    hr = stream->Read(buffer + used, static_cast<ULONG>(want), &got);
    if (FAILED(hr)) {
      std::free(buffer);
      return hr;
    }
    used += got;
    if (got == 0) break;
  }
  if (used >= VLD_MAX_FILE_BYTES) {
    std::free(buffer);
    return WINCODEC_ERR_IMAGESIZEOUTOFRANGE;
  }
  *data = buffer;
  *size = used;
  return S_OK;
}

class Decoder;

class Frame : public IWICBitmapFrameDecode {
 public:
  explicit Frame(Decoder *decoder);
  virtual ~Frame();

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
    if (!out) return E_INVALIDARG;
    if (iid == IID_IUnknown || iid == IID_IWICBitmapSource || iid == IID_IWICBitmapFrameDecode) {
      *out = static_cast<IWICBitmapFrameDecode *>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
  ULONG STDMETHODCALLTYPE Release() override {
    LONG left = InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return left;
  }

  HRESULT STDMETHODCALLTYPE GetSize(UINT *width, UINT *height) override;
  HRESULT STDMETHODCALLTYPE GetPixelFormat(WICPixelFormatGUID *format) override {
    if (!format) return E_INVALIDARG;
    *format = GUID_WICPixelFormat2bppIndexed;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetResolution(double *x, double *y) override {
    if (!x || !y) return E_INVALIDARG;
    *x = *y = 96.0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE CopyPalette(IWICPalette *palette) override;
  HRESULT STDMETHODCALLTYPE CopyPixels(const WICRect *rect, UINT stride, UINT size,
                                       BYTE *buffer) override;
  HRESULT STDMETHODCALLTYPE GetMetadataQueryReader(IWICMetadataQueryReader **reader) override {
    return no_metadata(reader);
  }
  HRESULT STDMETHODCALLTYPE GetColorContexts(UINT, IWICColorContext **, UINT *count) override {
    return no_color_contexts(count);
  }
  HRESULT STDMETHODCALLTYPE GetThumbnail(IWICBitmapSource **thumbnail) override {
    return no_thumbnail(thumbnail);
  }

 private:
  LONG refs_ = 1;
  Decoder *decoder_;
};

class Decoder : public IWICBitmapDecoder {
 public:
  Decoder() {
    InitializeCriticalSection(&lock_);
    InterlockedIncrement(&g_objects);
  }
  virtual ~Decoder() {
    vld_picture_free(&picture_);
    DeleteCriticalSection(&lock_);
    InterlockedDecrement(&g_objects);
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
    if (!out) return E_INVALIDARG;
    if (iid == IID_IUnknown || iid == IID_IWICBitmapDecoder) {
      *out = static_cast<IWICBitmapDecoder *>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
  ULONG STDMETHODCALLTYPE Release() override {
    LONG left = InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return left;
  }

  HRESULT STDMETHODCALLTYPE QueryCapability(IStream *stream, DWORD *capability) override {
    if (!stream || !capability) return E_INVALIDARG;
    *capability = 0;
    // The caller's stream position is left where it was.
    LARGE_INTEGER zero = {};
    ULARGE_INTEGER was = {};
    HRESULT hr = stream->Seek(zero, STREAM_SEEK_CUR, &was);
    if (FAILED(hr)) return hr;
    uint8_t *data = nullptr;
    size_t size = 0;
    hr = read_stream(stream, &data, &size);
    LARGE_INTEGER back;
    back.QuadPart = static_cast<LONGLONG>(was.QuadPart);
    stream->Seek(back, STREAM_SEEK_SET, nullptr);
    if (FAILED(hr)) return hr == WINCODEC_ERR_IMAGESIZEOUTOFRANGE ? S_OK : hr;
    // A header of ours is enough to claim the stream, as other codecs judge
    // by theirs; damaged rows are Initialize's to report, and a picture's
    // size, however large, costs nothing to read here.
    vld_picture header;
    if (vld_info(data, size, &header) == VLD_OK)
      *capability = WICBitmapDecoderCapabilityCanDecodeAllImages;
    std::free(data);
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE Initialize(IStream *stream, WICDecodeOptions) override {
    if (!stream) return E_INVALIDARG;
    EnterCriticalSection(&lock_);
    HRESULT hr = WINCODEC_ERR_WRONGSTATE;
    if (!ready_) {
      uint8_t *data = nullptr;
      size_t size = 0;
      hr = read_stream(stream, &data, &size);
      if (SUCCEEDED(hr)) {
        int code = vld_decode(data, size, &picture_);
        std::free(data);
        hr = code == VLD_OK ? S_OK : decode_error(code);
        ready_ = code == VLD_OK;
      }
    }
    LeaveCriticalSection(&lock_);
    return hr;
  }

  HRESULT STDMETHODCALLTYPE GetContainerFormat(GUID *format) override {
    if (!format) return E_INVALIDARG;
    *format = kContainerFormat;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetDecoderInfo(IWICBitmapDecoderInfo **info) override {
    if (!info) return E_INVALIDARG;
    *info = nullptr;
    IWICImagingFactory *factory = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IWICImagingFactory, reinterpret_cast<void **>(&factory));
    if (FAILED(hr)) return hr;
    IWICComponentInfo *component = nullptr;
    hr = factory->CreateComponentInfo(kDecoderClsid, &component);
    if (SUCCEEDED(hr)) {
      hr = component->QueryInterface(IID_IWICBitmapDecoderInfo, reinterpret_cast<void **>(info));
      component->Release();
    }
    factory->Release();
    return hr;
  }

  HRESULT STDMETHODCALLTYPE CopyPalette(IWICPalette *) override {
    return WINCODEC_ERR_PALETTEUNAVAILABLE;
  }
  HRESULT STDMETHODCALLTYPE GetMetadataQueryReader(IWICMetadataQueryReader **reader) override {
    return no_metadata(reader);
  }
  HRESULT STDMETHODCALLTYPE GetPreview(IWICBitmapSource **preview) override {
    if (preview) *preview = nullptr;
    return WINCODEC_ERR_UNSUPPORTEDOPERATION;
  }
  HRESULT STDMETHODCALLTYPE GetColorContexts(UINT, IWICColorContext **, UINT *count) override {
    return no_color_contexts(count);
  }
  HRESULT STDMETHODCALLTYPE GetThumbnail(IWICBitmapSource **thumbnail) override {
    return no_thumbnail(thumbnail);
  }
  HRESULT STDMETHODCALLTYPE GetFrameCount(UINT *count) override {
    if (!count) return E_INVALIDARG;
    if (!is_ready()) return WINCODEC_ERR_NOTINITIALIZED;
    *count = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetFrame(UINT index, IWICBitmapFrameDecode **frame) override {
    if (!frame) return E_INVALIDARG;
    *frame = nullptr;
    if (!is_ready()) return WINCODEC_ERR_NOTINITIALIZED;
    if (index != 0) return WINCODEC_ERR_FRAMEMISSING;
    *frame = new (std::nothrow) Frame(this);
    return *frame ? S_OK : E_OUTOFMEMORY;
  }

  // Set once by Initialize and never changed after, so frames read it
  // without the lock.
  const vld_picture &picture() const { return picture_; }

 private:
  bool is_ready() {
    EnterCriticalSection(&lock_);
    bool ready = ready_;
    LeaveCriticalSection(&lock_);
    return ready;
  }

  LONG refs_ = 1;
  CRITICAL_SECTION lock_;
  bool ready_ = false;
  vld_picture picture_ = {};
};

Frame::Frame(Decoder *decoder) : decoder_(decoder) {
  decoder_->AddRef();
  InterlockedIncrement(&g_objects);
}

Frame::~Frame() {
  decoder_->Release();
  InterlockedDecrement(&g_objects);
}

HRESULT Frame::GetSize(UINT *width, UINT *height) {
  if (!width || !height) return E_INVALIDARG;
  *width = decoder_->picture().width;
  *height = decoder_->picture().height;
  return S_OK;
}

HRESULT Frame::CopyPalette(IWICPalette *palette) {
  if (!palette) return E_INVALIDARG;
  WICColor colours[4];
  for (int i = 0; i < 4; ++i) {
    uint8_t rgb[3];
    vld_rgb(decoder_->picture().palette[i], rgb);
    colours[i] = 0xFF000000u | (uint32_t{rgb[0]} << 16) | (uint32_t{rgb[1]} << 8) | rgb[2];
  }
  return palette->InitializeCustom(colours, 4);
}

// Four pixels a byte, the leftmost in the top two bits, as WIC lays out
// 2bppIndexed.
HRESULT Frame::CopyPixels(const WICRect *rect, UINT stride, UINT size, BYTE *buffer) {
  const vld_picture &p = decoder_->picture();
  int64_t x0 = 0, y0 = 0, w = p.width, h = p.height;
  if (rect) {
    x0 = rect->X;
    y0 = rect->Y;
    w = rect->Width;
    h = rect->Height;
    if (x0 < 0 || y0 < 0 || w < 0 || h < 0 || x0 + w > p.width || y0 + h > p.height)
      return E_INVALIDARG;
  }
  if (w == 0 || h == 0) return S_OK;
  if (!buffer) return E_INVALIDARG;
  uint64_t row_bytes = (static_cast<uint64_t>(w) * 2 + 7) / 8;
  if (stride < row_bytes) return E_INVALIDARG;
  if (size < static_cast<uint64_t>(stride) * static_cast<uint64_t>(h - 1) + row_bytes)
    return WINCODEC_ERR_INSUFFICIENTBUFFER;
  for (int64_t y = 0; y < h; ++y) {
    BYTE *out = buffer + static_cast<size_t>(y) * stride;
    std::memset(out, 0, static_cast<size_t>(row_bytes));
    const uint8_t *in = p.indices + static_cast<size_t>(y0 + y) * p.width + x0;
    for (int64_t x = 0; x < w; ++x) out[x >> 2] |= static_cast<BYTE>(in[x] << (6 - 2 * (x & 3)));
  }
  return S_OK;
}

class Factory : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
    if (!out) return E_INVALIDARG;
    if (iid == IID_IUnknown || iid == IID_IClassFactory) {
      *out = static_cast<IClassFactory *>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  // One static factory for the life of the module.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID iid, void **out) override {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    Decoder *decoder = new (std::nothrow) Decoder();
    if (!decoder) return E_OUTOFMEMORY;
    HRESULT hr = decoder->QueryInterface(iid, out);
    decoder->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock)
      InterlockedIncrement(&g_locks);
    else
      InterlockedDecrement(&g_locks);
    return S_OK;
  }
};

Factory g_factory;

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void **out) {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  if (clsid != kDecoderClsid) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(iid, out);
}

HRESULT WINAPI DllCanUnloadNow() { return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE; }

}  // extern "C"
