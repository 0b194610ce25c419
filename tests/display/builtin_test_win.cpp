// The built-in picture, its mask and the icon, loaded the way the viewer
// loads them from its own resources (this program links the same script).
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <vector>

#include "res/artwork.h"
#include "res/resource.h"
#include "tests/display/gdi_readback.h"

namespace {

const WORD kJapanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);

uint32_t StandardColour(uint8_t index) {
  return Rgb32(kStandardPalette[index][0], kStandardPalette[index][1], kStandardPalette[index][2]);
}

TEST(BuiltinResources, AreJapaneseLanguageResources) {
  HMODULE self = GetModuleHandleA(nullptr);
  EXPECT_EQ(kJapanese, 0x411);
  EXPECT_NE(FindResourceExA(self, RT_BITMAP, MAKEINTRESOURCEA(IDB_BUILTIN_PICTURE), kJapanese),
            nullptr);
  EXPECT_NE(FindResourceExA(self, RT_BITMAP, MAKEINTRESOURCEA(IDB_BUILTIN_MASK), kJapanese),
            nullptr);
  EXPECT_NE(FindResourceExA(self, RT_GROUP_ICON, MAKEINTRESOURCEA(IDI_VIEWER), kJapanese), nullptr);
}

TEST(BuiltinResources, ThePictureLoadsWithExactlyTheDrawnPixels) {
  std::vector<uint8_t> drawn(size_t(kBuiltinWidth) * kBuiltinHeight);
  DrawBuiltinPicture(drawn.data());
  HBITMAP picture = LoadBitmapA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDB_BUILTIN_PICTURE));
  ASSERT_NE(picture, nullptr);
  EXPECT_EQ(BitmapSize(picture), Size(kBuiltinWidth, kBuiltinHeight));
  const std::vector<uint32_t> pixels = ReadPixels(picture, kBuiltinWidth, kBuiltinHeight, nullptr);
  DeleteObject(picture);
  ASSERT_EQ(pixels.size(), drawn.size());
  for (size_t i = 0; i < drawn.size(); ++i) {
    ASSERT_EQ(pixels[i], StandardColour(drawn[i]))
        << "pixel " << i % kBuiltinWidth << "," << i / kBuiltinWidth;
  }
}

TEST(BuiltinResources, TheMaskIsWhiteExactlyOverTheLightGrey) {
  HMODULE self = GetModuleHandleA(nullptr);
  HBITMAP picture = LoadBitmapA(self, MAKEINTRESOURCEA(IDB_BUILTIN_PICTURE));
  HBITMAP mask = LoadBitmapA(self, MAKEINTRESOURCEA(IDB_BUILTIN_MASK));
  ASSERT_NE(picture, nullptr);
  ASSERT_NE(mask, nullptr);
  BITMAP info = {};
  ASSERT_EQ(GetObjectA(mask, sizeof info, &info), int{sizeof info});
  EXPECT_EQ(info.bmWidth, kBuiltinWidth);
  EXPECT_EQ(info.bmHeight, kBuiltinHeight);
  EXPECT_EQ(info.bmBitsPixel, 1);
  const std::vector<uint32_t> colours = ReadPixels(picture, kBuiltinWidth, kBuiltinHeight, nullptr);
  const std::vector<uint32_t> bits = ReadPixels(mask, kBuiltinWidth, kBuiltinHeight, nullptr);
  DeleteObject(picture);
  DeleteObject(mask);
  ASSERT_EQ(colours.size(), bits.size());
  ASSERT_FALSE(bits.empty());
  const uint32_t light_grey = StandardColour(kColourLightGrey);
  size_t white = 0;
  for (size_t i = 0; i < bits.size(); ++i) {
    ASSERT_TRUE(bits[i] == 0xFFFFFF || bits[i] == 0) << i;
    ASSERT_EQ(bits[i] == 0xFFFFFF, colours[i] == light_grey)
        << "pixel " << i % kBuiltinWidth << "," << i / kBuiltinWidth;
    white += bits[i] == 0xFFFFFF;
  }
  EXPECT_GT(white, 0u);
  EXPECT_LT(white, bits.size());
}

TEST(BuiltinResources, TheIconIsOne32By32SixteenColourImage) {
  HMODULE self = GetModuleHandleA(nullptr);
  HRSRC group = FindResourceA(self, MAKEINTRESOURCEA(IDI_VIEWER), RT_GROUP_ICON);
  ASSERT_NE(group, nullptr);
  const uint8_t* directory = static_cast<const uint8_t*>(LockResource(LoadResource(self, group)));
  ASSERT_NE(directory, nullptr);
  ASSERT_EQ(SizeofResource(self, group), 6u + 14u);  // one entry
  EXPECT_EQ(directory[4] | directory[5] << 8, 1);    // image count
  EXPECT_EQ(directory[6], 32);                       // width
  EXPECT_EQ(directory[7], 32);                       // height
  EXPECT_EQ(directory[8], 16);                       // colours
  EXPECT_EQ(directory[12] | directory[13] << 8, 4);  // bits per pixel

  HICON icon = LoadIconA(self, MAKEINTRESOURCEA(IDI_VIEWER));
  ASSERT_NE(icon, nullptr);
  ICONINFO parts = {};
  ASSERT_TRUE(GetIconInfo(icon, &parts));
  EXPECT_TRUE(parts.fIcon);
  EXPECT_EQ(BitmapSize(parts.hbmColor), Size(32, 32));

  // Opaque pixels show the drawn colours.
  std::vector<uint8_t> drawn(32 * 32), transparent(32 * 32);
  DrawViewerIcon(drawn.data(), transparent.data());
  const std::vector<uint32_t> pixels = ReadPixels(parts.hbmColor, 32, 32, nullptr);
  ASSERT_EQ(pixels.size(), drawn.size());
  for (size_t i = 0; i < drawn.size(); ++i) {
    if (!transparent[i]) {
      ASSERT_EQ(pixels[i], StandardColour(drawn[i])) << i;
    }
  }
  DeleteObject(parts.hbmColor);
  DeleteObject(parts.hbmMask);
  DestroyIcon(icon);
}

#ifdef VLD_VIEWER_EXE
// The raw bytes of one resource, or empty when it is missing.
std::vector<uint8_t> ResourceBytes(HMODULE module, LPCSTR type, WORD id) {
  HRSRC found = FindResourceExA(module, type, MAKEINTRESOURCEA(id), kJapanese);
  if (found == nullptr) return {};
  const uint8_t* data = static_cast<const uint8_t*>(LockResource(LoadResource(module, found)));
  if (data == nullptr) return {};
  return std::vector<uint8_t>(data, data + SizeofResource(module, found));
}

TEST(BuiltinResources, TheViewerCarriesTheSameResources) {
  HMODULE viewer = LoadLibraryExA(VLD_VIEWER_EXE, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(viewer, nullptr) << VLD_VIEWER_EXE;
  HMODULE self = GetModuleHandleA(nullptr);
  const struct {
    LPCSTR type;
    WORD id;
  } resources[] = {
      {RT_BITMAP, IDB_BUILTIN_PICTURE}, {RT_BITMAP, IDB_BUILTIN_MASK}, {RT_GROUP_ICON, IDI_VIEWER}};
  for (const auto& resource : resources) {
    const std::vector<uint8_t> own = ResourceBytes(self, resource.type, resource.id);
    ASSERT_FALSE(own.empty()) << resource.id;
    EXPECT_EQ(ResourceBytes(viewer, resource.type, resource.id), own) << resource.id;
  }
  FreeLibrary(viewer);
}
#endif

}  // namespace
