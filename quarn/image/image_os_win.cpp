// GDI for what the portable image code cannot do: drawing a DIB of a layout the BMP decoder
// does not read, and exporting base images as DIBs.
#include <windows.h>

#include <cstring>

#include "quarn/core/core.h"
#include "quarn/image/image_os.h"

int DrawDibThroughSystem(const uint8_t* info, const uint8_t* bits, int width, int height, uint8_t* dst, int dstPitch)
{
    // A copy, so that the header GDI reads is aligned whatever the caller's buffer is.
    struct {
        BITMAPINFOHEADER header;
        RGBQUAD rest[3 + 256 + 32];
    } source;
    std::memcpy(&source, info, 124 + 12 + 256 * 4);
    const BITMAPINFO* sourceInfo = reinterpret_cast<const BITMAPINFO*>(&source);

    BITMAPINFO target{};
    target.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    target.bmiHeader.biWidth = width;
    target.bmiHeader.biHeight = -height;  // top-down
    target.bmiHeader.biPlanes = 1;
    target.bmiHeader.biBitCount = 24;
    target.bmiHeader.biCompression = BI_RGB;
    HDC dc = CreateCompatibleDC(nullptr);
    void* sectionBits = nullptr;
    HBITMAP section = dc ? CreateDIBSection(dc, &target, DIB_RGB_COLORS, &sectionBits, nullptr, 0) : nullptr;
    if (!section || !sectionBits) {
        if (dc) DeleteDC(dc);
        return AppendLog(L"ＤＩＢの作成に失敗しました3\n");
    }
    BITMAP object{};
    GetObjectW(section, sizeof object, &object);
    const int sectionPitch = (object.bmWidthBytes + 3) / 4 * 4;
    HGDIOBJ old = SelectObject(dc, section);
    const int lines = SetDIBitsToDevice(dc, 0, 0, DWORD(width), DWORD(height), 0, 0, 0, UINT(height), bits, sourceInfo,
                                        DIB_RGB_COLORS);
    SelectObject(dc, old);
    DeleteDC(dc);
    if (lines > 0) {
        const size_t rowBytes = size_t(width) * 3;
        for (int y = 0; y < height; ++y)
            std::memcpy(dst + std::ptrdiff_t(y) * dstPitch,
                        static_cast<const uint8_t*>(sectionBits) + std::ptrdiff_t(y) * sectionPitch, rowBytes);
    }
    DeleteObject(section);
    return lines > 0 ? 0 : -1;
}

int ExportBaseImageAsDib(const BaseImage* image, tagBITMAPINFO* header, uint8_t** outPixels)
{
    return BaseImageToDib(image, header, outPixels, 0, 0);
}
