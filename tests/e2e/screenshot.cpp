// Screen capture through GDI and a small PNG writer (stored deflate blocks: no compression
// library is needed, and a few hundred kilobytes per picture do not matter here).
#include "tests/e2e/screenshot.h"

#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

struct ProcessWindows {
    DWORD process;
    RECT bounds;
    bool any;
};

BOOL CALLBACK AddWindow(HWND window, LPARAM parameter) {
    auto* found = reinterpret_cast<ProcessWindows*>(parameter);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    RECT rect = {};
    if (process != found->process || !IsWindowVisible(window) || !GetWindowRect(window, &rect)) {
        return TRUE;
    }
    if (!found->any) {
        found->bounds = rect;
        found->any = true;
    } else {
        UnionRect(&found->bounds, &found->bounds, &rect);
    }
    return TRUE;
}

// Bottom-up BGR rows with 4-byte padding in, top-down RGB rows with a filter byte each out.
std::vector<uint8_t> CaptureRows(const RECT& area, std::string& problem) {
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    std::vector<uint8_t> rows;
    HDC screen = GetDC(nullptr);
    if (screen == nullptr) {
        problem = "no screen DC";
        return rows;
    }
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    if (memory != nullptr && bitmap != nullptr) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        const BOOL copied =
            BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
        SelectObject(memory, old);
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 24;
        info.bmiHeader.biCompression = BI_RGB;
        const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~static_cast<size_t>(3);
        std::vector<uint8_t> pixels(stride * height);
        if (copied &&
            GetDIBits(memory, bitmap, 0, height, pixels.data(), &info, DIB_RGB_COLORS) == height) {
            rows.reserve((static_cast<size_t>(width) * 3 + 1) * height);
            for (int y = height - 1; y >= 0; --y) {
                rows.push_back(0);  // filter: none
                const uint8_t* pixel = pixels.data() + stride * y;
                for (int x = 0; x < width; ++x, pixel += 3) {
                    rows.push_back(pixel[2]);
                    rows.push_back(pixel[1]);
                    rows.push_back(pixel[0]);
                }
            }
        } else {
            problem = "the screen could not be copied";
        }
    } else {
        problem = "no memory DC or bitmap";
    }
    if (bitmap != nullptr) DeleteObject(bitmap);
    if (memory != nullptr) DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return rows;
}

uint32_t Crc32(const uint8_t* bytes, size_t length, uint32_t crc = 0) {
    crc = ~crc;
    for (size_t i = 0; i < length; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

void PutBigEndian(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value >> 24));
    out.push_back(static_cast<uint8_t>(value >> 16));
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

void PutChunk(std::vector<uint8_t>& png, const char* type, const std::vector<uint8_t>& data) {
    PutBigEndian(png, static_cast<uint32_t>(data.size()));
    const size_t start = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), data.begin(), data.end());
    PutBigEndian(png, Crc32(png.data() + start, png.size() - start));
}

// A zlib stream of stored blocks.
std::vector<uint8_t> Deflate(const std::vector<uint8_t>& raw) {
    constexpr size_t kBlock = 65535;
    std::vector<uint8_t> out = {0x78, 0x01};
    size_t at = 0;
    do {
        const size_t length = raw.size() - at < kBlock ? raw.size() - at : kBlock;
        out.push_back(at + length == raw.size() ? 1 : 0);
        out.push_back(static_cast<uint8_t>(length));
        out.push_back(static_cast<uint8_t>(length >> 8));
        out.push_back(static_cast<uint8_t>(~length));
        out.push_back(static_cast<uint8_t>(~length >> 8));
        out.insert(out.end(), raw.begin() + at, raw.begin() + at + length);
        at += length;
    } while (at < raw.size());
    uint32_t a = 1, b = 0;
    for (uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    PutBigEndian(out, (b << 16) | a);
    return out;
}

}  // namespace

bool SaveWindowShot(HWND window, const std::string& path, std::string& problem) {
    ProcessWindows found = {0, {}, false};
    GetWindowThreadProcessId(window, &found.process);
    EnumWindows(AddWindow, reinterpret_cast<LPARAM>(&found));
    if (!found.any) {
        problem = "no visible window";
        return false;
    }
    const std::vector<uint8_t> rows = CaptureRows(found.bounds, problem);
    if (rows.empty()) {
        return false;
    }
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    PutBigEndian(header, static_cast<uint32_t>(found.bounds.right - found.bounds.left));
    PutBigEndian(header, static_cast<uint32_t>(found.bounds.bottom - found.bounds.top));
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8-bit RGB, no interlace
    PutChunk(png, "IHDR", header);
    PutChunk(png, "IDAT", Deflate(rows));
    PutChunk(png, "IEND", {});
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        problem = "cannot create " + path;
        return false;
    }
    const bool written = std::fwrite(png.data(), 1, png.size(), file) == png.size();
    if (std::fclose(file) != 0 || !written) {
        problem = "cannot write " + path;
        return false;
    }
    return true;
}
