// The codec's registration: the decoder's class and WIC category entries,
// and the entries through which Explorer shows the pictures as pictures.
// Installs in other folders may follow one another, and other programs may
// take the extensions over, so unregistering removes only what still names
// this very file and what no other program's association relies on.
#include <windows.h>
#include <shlobj.h>
#include <olectl.h>

#include <cwchar>

#include "vld.h"
#include "vld_wic.h"

namespace {

const wchar_t kDecoderKey[] = L"CLSID\\{c532b2a5-0c73-4e8d-ab7a-19c2257b66c5}";
const wchar_t kInstanceKey[] =
    L"CLSID\\{7ED96837-96F0-4812-B211-F13C24117ED3}\\Instance\\"
    L"{c532b2a5-0c73-4e8d-ab7a-19c2257b66c5}";
const wchar_t kDecoderClsidText[] = L"{c532b2a5-0c73-4e8d-ab7a-19c2257b66c5}";
const wchar_t kContainerText[] = L"{4ce2ede8-9fdb-408d-ae92-b7f24b551e61}";
const wchar_t kVendorText[] = L"{7004e878-6ed7-4296-9c26-ef5044655c83}";
const wchar_t kFriendlyName[] = L"Velinde picture decoder";
const wchar_t kMimeType[] = L"image/x-vld";
const wchar_t *const kExtensions[] = {L".vld", L".tft"};
// The system's own photo thumbnail provider and preview handler serve any
// format that has a WIC decoder; the extension only has to name them.
const wchar_t kThumbnailHandler[] = L"ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}";
const wchar_t kThumbnailProvider[] = L"{C7657C4A-9F68-40fa-A4DF-96BC08EB3551}";
const wchar_t kPreviewHandler[] = L"ShellEx\\{8895b1c6-b41f-4c1c-a562-0d564250836f}";
const wchar_t kPhotoPreview[] = L"{FFE2A43C-56B9-4bf5-9A79-CC6D4285608A}";
const wchar_t kKindMap[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\KindMap";
// The installer's association; another name in an extension's default
// value is another program's.
const wchar_t kProgId[] = L"Velinde.Picture";
// HKCU\Software\Classes is merged into HKCR on Windows but not read by every
// Wine version, so the codec registers machine-wide, as installers run it.
const wchar_t kClasses[] = L"Software\\Classes";

LONG set_string(HKEY root, const wchar_t *key, const wchar_t *name, const wchar_t *value) {
  return RegSetKeyValueW(root, key, name, REG_SZ, value,
                         static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
}

LONG set_dword(HKEY root, const wchar_t *key, const wchar_t *name, DWORD value) {
  return RegSetKeyValueW(root, key, name, REG_DWORD, &value, sizeof value);
}

LONG set_binary(HKEY root, const wchar_t *key, const wchar_t *name, const void *value,
                DWORD size) {
  return RegSetKeyValueW(root, key, name, REG_BINARY, value, size);
}

// Removes `key` when nothing is left in it.
void delete_if_empty(HKEY root, const wchar_t *key) {
  HKEY k;
  if (RegOpenKeyExW(root, key, 0, KEY_READ, &k) != ERROR_SUCCESS) return;
  DWORD subkeys = 0, values = 0;
  LONG rc = RegQueryInfoKeyW(k, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                             nullptr, nullptr, nullptr, nullptr);
  RegCloseKey(k);
  if (rc == ERROR_SUCCESS && subkeys == 0 && values == 0) RegDeleteKeyW(root, key);
}

// Whether the string value `name` of `key` is `expected` (case aside); a
// missing value is `expected` when that is empty.
bool value_is(HKEY root, const wchar_t *key, const wchar_t *name, const wchar_t *expected) {
  wchar_t text[MAX_PATH + 1];
  DWORD size = sizeof text;
  LONG rc = RegGetValueW(root, key, name, RRF_RT_REG_SZ, nullptr, text, &size);
  if (rc == ERROR_FILE_NOT_FOUND) return *expected == 0;
  return rc == ERROR_SUCCESS && _wcsicmp(text, expected) == 0;
}

// Removes a value only while it still holds what registration wrote, so a
// setting another program made since is kept.
void delete_value_if(HKEY root, const wchar_t *key, const wchar_t *name, const wchar_t *value) {
  if (value_is(root, key, name, value)) RegDeleteKeyValueW(root, key, name);
}

HRESULT unregister(HKEY classes) {
  // The decoder registered from another file (an install elsewhere) is
  // that file's to remove, and so is everything that serves it.
  wchar_t path[MAX_PATH], server[160];
  DWORD length = GetModuleFileNameW(g_module, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return SELFREG_E_CLASS;
  swprintf(server, 160, L"%ls\\InprocServer32", kDecoderKey);
  HKEY k;
  if (RegOpenKeyExW(classes, server, 0, KEY_READ, &k) == ERROR_SUCCESS) {
    RegCloseKey(k);
    if (!value_is(classes, server, nullptr, path)) return S_OK;
  }
  RegDeleteTreeW(classes, kDecoderKey);
  RegDeleteTreeW(classes, kInstanceKey);
  for (const wchar_t *extension : kExtensions) {
    // Another program's association relies on the type and the thumbnails.
    if (!value_is(classes, extension, nullptr, L"") &&
        !value_is(classes, extension, nullptr, kProgId))
      continue;
    if (RegOpenKeyExW(classes, extension, 0, KEY_READ | KEY_WRITE, &k) != ERROR_SUCCESS) continue;
    delete_value_if(k, kThumbnailHandler, nullptr, kThumbnailProvider);
    delete_if_empty(k, kThumbnailHandler);
    delete_value_if(k, kPreviewHandler, nullptr, kPhotoPreview);
    delete_if_empty(k, kPreviewHandler);
    delete_if_empty(k, L"ShellEx");
    delete_value_if(k, nullptr, L"PerceivedType", L"image");
    delete_value_if(k, nullptr, L"Content Type", kMimeType);
    RegCloseKey(k);
    delete_if_empty(classes, extension);
    delete_value_if(HKEY_LOCAL_MACHINE, kKindMap, extension, L"picture");
  }
  return S_OK;
}

HRESULT register_all(HKEY classes) {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(g_module, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return SELFREG_E_CLASS;

  const wchar_t *key = kDecoderKey;
  wchar_t sub[160];
  LONG rc = ERROR_SUCCESS;
  auto check = [&rc](LONG result) {
    if (rc == ERROR_SUCCESS) rc = result;
  };
  check(set_string(classes, key, nullptr, kFriendlyName));
  check(set_string(classes, key, L"FriendlyName", kFriendlyName));
  check(set_string(classes, key, L"Author", L"the Velinde for Win developers"));
  check(set_string(classes, key, L"Vendor", kVendorText));
  check(set_string(classes, key, L"Version", L"" VLD_VERSION));
  check(set_string(classes, key, L"ContainerFormat", kContainerText));
  check(set_string(classes, key, L"FileExtensions", L".vld,.tft"));
  check(set_string(classes, key, L"MimeTypes", kMimeType));
  check(set_dword(classes, key, L"SupportAnimation", 0));
  check(set_dword(classes, key, L"SupportChromakey", 0));
  check(set_dword(classes, key, L"SupportLossless", 1));
  check(set_dword(classes, key, L"SupportMultiframe", 0));
  swprintf(sub, 160, L"%ls\\InprocServer32", key);
  check(set_string(classes, sub, nullptr, path));
  check(set_string(classes, sub, L"ThreadingModel", L"Both"));
  swprintf(sub, 160, L"%ls\\Formats\\{6fddc324-4e03-4bfe-b185-3d77768dc902}", key);
  check(RegSetKeyValueW(classes, sub, nullptr, REG_SZ, L"", sizeof(wchar_t)));
  swprintf(sub, 160, L"%ls\\Patterns\\0", key);
  const BYTE magic[4] = {'H', 'K', '0', '3'};
  const BYTE mask[4] = {0xFF, 0xFF, 0xFF, 0xFF};
  check(set_dword(classes, sub, L"Position", 0));
  check(set_dword(classes, sub, L"Length", 4));
  check(set_binary(classes, sub, L"Pattern", magic, 4));
  check(set_binary(classes, sub, L"Mask", mask, 4));
  check(set_dword(classes, sub, L"EndOfStream", 0));
  check(set_string(classes, kInstanceKey, L"CLSID", kDecoderClsidText));
  check(set_string(classes, kInstanceKey, L"FriendlyName", kFriendlyName));

  for (const wchar_t *extension : kExtensions) {
    swprintf(sub, 160, L"%ls\\%ls", extension, kThumbnailHandler);
    check(set_string(classes, sub, nullptr, kThumbnailProvider));
    swprintf(sub, 160, L"%ls\\%ls", extension, kPreviewHandler);
    check(set_string(classes, sub, nullptr, kPhotoPreview));
    check(set_string(classes, extension, L"PerceivedType", L"image"));
    check(set_string(classes, extension, L"Content Type", kMimeType));
    check(set_string(HKEY_LOCAL_MACHINE, kKindMap, extension, L"picture"));
  }
  if (rc != ERROR_SUCCESS) {
    unregister(classes);
    return HRESULT_FROM_WIN32(rc);
  }
  return S_OK;
}

HRESULT with_classes(HRESULT (*action)(HKEY)) {
  HKEY classes;
  LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kClasses, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &classes, nullptr);
  if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
  HRESULT hr = action(classes);
  RegCloseKey(classes);
  // Explorer caches thumbnails and file types; tell it they changed.
  SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
  return hr;
}

}  // namespace

extern "C" {

HRESULT WINAPI DllRegisterServer() { return with_classes(register_all); }

HRESULT WINAPI DllUnregisterServer() { return with_classes(unregister); }

}  // extern "C"
