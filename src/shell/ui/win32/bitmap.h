// The brand pictures: read from the embedded BMP files, and made into bitmaps of
// the size the window shows them at.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "shell/ui/win32/resample.h"

namespace win32ui {

// The pixels of a BMP file's bytes; nothing when they are no BMP the system reads.
std::optional<picture::TPixels> DecodeBmp(const std::string& bytes);

// A bitmap of the pixels, resampled to width x height; null when the system has
// none to give.
HBITMAP MakeBitmap(const picture::TPixels& pixels, int width, int height);

}  // namespace win32ui
