// See window_capture.h.
#include "tests/win32/window_capture.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint32_t Crc32(const std::uint8_t* data, std::size_t n, std::uint32_t crc = 0) {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k) {
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            }
            t[i] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (std::size_t i = 0; i < n; ++i) {
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    }
    return ~crc;
}

std::uint32_t Adler32(const Bytes& data) {
    std::uint32_t a = 1, b = 0;
    for (const std::uint8_t byte : data) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    return (b << 16) | a;
}

void PutBig32(Bytes& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<std::uint8_t>(v >> shift));
    }
}

// A chunk: its length, its type, its data and the CRC of type and data.
void PutChunk(Bytes& out, const char* type, const Bytes& data) {
    PutBig32(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t typeAt = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    PutBig32(out, Crc32(out.data() + typeAt, out.size() - typeAt));
}

}  // namespace

Bytes EncodePng(int width, int height, const Bytes& rgb) {
    Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes header;
    PutBig32(header, static_cast<std::uint32_t>(width));
    PutBig32(header, static_cast<std::uint32_t>(height));
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, no filter, no interlace
    PutChunk(out, "IHDR", header);

    // Each row led by its filter type, 0 (none).
    const std::size_t row = static_cast<std::size_t>(width) * 3;
    Bytes raw;
    raw.reserve((row + 1) * static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);
        const auto from =
            rgb.begin() + static_cast<std::ptrdiff_t>(row * static_cast<std::size_t>(y));
        raw.insert(raw.end(), from, from + static_cast<std::ptrdiff_t>(row));
    }
    // A zlib stream of stored blocks, at most 65535 bytes each.
    Bytes z = {0x78, 0x01};
    std::size_t at = 0;
    do {
        const std::size_t n = std::min<std::size_t>(raw.size() - at, 65535);
        const bool last = at + n == raw.size();
        z.push_back(last ? 1 : 0);
        z.push_back(static_cast<std::uint8_t>(n));
        z.push_back(static_cast<std::uint8_t>(n >> 8));
        z.push_back(static_cast<std::uint8_t>(~n));
        z.push_back(static_cast<std::uint8_t>(~n >> 8));
        z.insert(z.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
                 raw.begin() + static_cast<std::ptrdiff_t>(at + n));
        at += n;
    } while (at < raw.size());
    PutBig32(z, Adler32(raw));
    PutChunk(out, "IDAT", z);
    PutChunk(out, "IEND", {});
    return out;
}

bool SaveWindowPng(HWND window, const std::string& path, std::string& error) {
    RECT r{};
    if (!GetWindowRect(window, &r)) {
        error = "GetWindowRect: " + win32::SystemMessage(GetLastError());
        return false;
    }
    const int width = r.right - r.left, height = r.bottom - r.top;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap == nullptr) {
        error = "CreateDIBSection: " + win32::SystemMessage(GetLastError());
        return false;
    }
    HDC memory = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(memory, bitmap);
    // The window as drawn, frame included: the window's own pixels, not
    // the screen's (PrintWindow would have each control draw itself
    // again, which Wine's dialogs leave undone).
    HDC drawn = GetWindowDC(window);
    const bool copied = BitBlt(memory, 0, 0, width, height, drawn, 0, 0, SRCCOPY) != FALSE;
    ReleaseDC(window, drawn);
    GdiFlush();
    SelectObject(memory, old);
    DeleteDC(memory);
    if (!copied) {
        error = "BitBlt: " + win32::SystemMessage(GetLastError());
        DeleteObject(bitmap);
        return false;
    }
    Bytes rgb(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3);
    const auto* bgrx = static_cast<const std::uint8_t*>(bits);
    for (std::size_t i = 0; i < rgb.size() / 3; ++i) {
        rgb[3 * i] = bgrx[4 * i + 2];
        rgb[3 * i + 1] = bgrx[4 * i + 1];
        rgb[3 * i + 2] = bgrx[4 * i];
    }
    DeleteObject(bitmap);

    const Bytes png = EncodePng(width, height, rgb);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        error = "cannot create " + path;
        return false;
    }
    const bool written = std::fwrite(png.data(), 1, png.size(), f) == png.size();
    if (std::fclose(f) != 0 || !written) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}
