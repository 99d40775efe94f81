// Pictures of the test runner's windows, for the documentation: a window
// as it is drawn, frame and all, saved as a PNG file.
#pragma once

#include "framework/win32/win32.h"

#include <cstdint>
#include <string>
#include <vector>

// A PNG file's bytes for an image of width x height pixels, rgb holding
// three bytes a pixel, row by row from the top. Written plainly: the
// image data goes in stored (uncompressed) deflate blocks.
std::vector<std::uint8_t> EncodePng(int width, int height, const std::vector<std::uint8_t>& rgb);

// Copies the window (its frame, its client area and its controls) as it
// is drawn now and writes it to path as a PNG file. False, with the
// reason in error, when it cannot.
bool SaveWindowPng(HWND window, const std::string& path, std::string& error);
