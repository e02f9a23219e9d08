#include "shell/ui/win32/bitmap.h"

#include <cstring>

namespace win32ui {

namespace {

// 32 bits a pixel, rows from the top (a negative height).
BITMAPINFO TopDown32(int width, int height) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  return info;
}

}  // namespace

std::optional<picture::TPixels> DecodeBmp(const std::string& bytes) {
  if (bytes.size() < sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER)) return std::nullopt;
  BITMAPFILEHEADER file;
  std::memcpy(&file, bytes.data(), sizeof file);
  const auto* info = reinterpret_cast<const BITMAPINFO*>(bytes.data() + sizeof(BITMAPFILEHEADER));
  if (file.bfType != 0x4D42 || file.bfOffBits >= bytes.size()) return std::nullopt;
  const LONG width = info->bmiHeader.biWidth, rows = info->bmiHeader.biHeight;
  if (width <= 0 || width > 4096 || rows == 0 || rows < -4096 || rows > 4096) return std::nullopt;
  const int height = rows < 0 ? -rows : rows;  // negative: stored from the top
  // The system reads the file's format, drawing it into 32-bit pixels of our own
  // (not through the screen's colour depth).
  picture::TPixels pixels{static_cast<int>(width), height, {}};
  BITMAPINFO want = TopDown32(pixels.Width, height);
  void* bits = nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP target = CreateDIBSection(dc, &want, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool read = false;
  if (target && bits) {
    HGDIOBJ old = SelectObject(dc, target);
    read = SetDIBitsToDevice(dc, 0, 0, static_cast<DWORD>(width), static_cast<DWORD>(height), 0, 0, 0,
                             static_cast<UINT>(height), bytes.data() + file.bfOffBits, info, DIB_RGB_COLORS) == height;
    GdiFlush();
    const auto* first = static_cast<const uint32_t*>(bits);
    if (read) pixels.Data.assign(first, first + static_cast<size_t>(width) * height);
    SelectObject(dc, old);
  }
  if (target) DeleteObject(target);
  DeleteDC(dc);
  if (!read) return std::nullopt;
  // The files carry no transparency: every pixel opaque, whatever the reader left there.
  for (uint32_t& p : pixels.Data) p |= 0xFF000000u;
  return pixels;
}

HBITMAP MakeBitmap(const picture::TPixels& pixels, int width, int height) {
  if (width <= 0 || height <= 0) return nullptr;
  const picture::TPixels sized =
      width == pixels.Width && height == pixels.Height ? pixels : picture::Resample(pixels, width, height);
  BITMAPINFO info = TopDown32(width, height);
  void* bits = nullptr;
  HBITMAP bmp = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bmp && bits) std::memcpy(bits, sized.Data.data(), sized.Data.size() * sizeof(uint32_t));
  return bmp;
}

}  // namespace win32ui
