#include "Screenshot.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <zlib.h>

#include <cstdio>
#include <map>

uint32_t SPicture::Pixel(int x, int y) const
{
    const size_t nAt = (static_cast<size_t>(y) * static_cast<size_t>(nWidth) + static_cast<size_t>(x)) * 3;
    return (static_cast<uint32_t>(abRgb[nAt]) << 16) | (static_cast<uint32_t>(abRgb[nAt + 1]) << 8) | abRgb[nAt + 2];
}

uint32_t SPicture::DominantColor(int nSkipX, int nSkipY, int nSkipWidth, int nSkipHeight) const
{
    std::map<uint32_t, int> counts;
    for (int y = 0; y < nHeight; ++y) {
        for (int x = 0; x < nWidth; ++x) {
            const bool bSkipped = x >= nSkipX && x < nSkipX + nSkipWidth && y >= nSkipY && y < nSkipY + nSkipHeight;
            if (!bSkipped)
                ++counts[Pixel(x, y)];
        }
    }
    uint32_t nBest = 0;
    int nBestCount = -1;
    for (const auto& [nColor, nCount] : counts) {
        if (nCount > nBestCount) {
            nBest = nColor;
            nBestCount = nCount;
        }
    }
    return nBest;
}

namespace {

// A window that closes or unmaps while it is read makes the server refuse
// the request; that must give an empty picture, not end the test program.
int IgnoreXError(Display*, XErrorEvent*)
{
    return 0;
}

} // namespace

SPicture CaptureWindow(unsigned long hWindow)
{
    SPicture picture;
    Display* pDisplay = XOpenDisplay(nullptr);
    if (!pDisplay)
        return picture;
    XErrorHandler pfnOld = XSetErrorHandler(IgnoreXError);
    XWindowAttributes attributes;
    if (XGetWindowAttributes(pDisplay, hWindow, &attributes)) {
        if (XImage* pImage = XGetImage(pDisplay, hWindow, 0, 0, static_cast<unsigned>(attributes.width),
                                       static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap)) {
            picture.nWidth = attributes.width;
            picture.nHeight = attributes.height;
            picture.abRgb.reserve(static_cast<size_t>(picture.nWidth) * static_cast<size_t>(picture.nHeight) * 3);
            for (int y = 0; y < picture.nHeight; ++y) {
                for (int x = 0; x < picture.nWidth; ++x) {
                    const unsigned long nPixel = XGetPixel(pImage, x, y);
                    picture.abRgb.push_back(static_cast<uint8_t>((nPixel & pImage->red_mask) >> 16));
                    picture.abRgb.push_back(static_cast<uint8_t>((nPixel & pImage->green_mask) >> 8));
                    picture.abRgb.push_back(static_cast<uint8_t>(nPixel & pImage->blue_mask));
                }
            }
            XDestroyImage(pImage);
        }
    }
    XSync(pDisplay, False);
    XSetErrorHandler(pfnOld);
    XCloseDisplay(pDisplay);
    return picture;
}

namespace {

void PutU32(std::string& str, uint32_t n)
{
    for (int nShift = 24; nShift >= 0; nShift -= 8)
        str.push_back(static_cast<char>((n >> nShift) & 0xFF));
}

void PutChunk(std::string& strFile, const char* strType, const std::string& strData)
{
    PutU32(strFile, static_cast<uint32_t>(strData.size()));
    const std::string strBody = std::string(strType, 4) + strData;
    strFile += strBody;
    PutU32(strFile, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(strBody.data()),
                                                static_cast<uInt>(strBody.size()))));
}

} // namespace

bool WritePng(const std::string& strPath, const SPicture& picture, int nScale)
{
    const int nWidth = picture.nWidth * nScale;
    const int nHeight = picture.nHeight * nScale;
    std::string strRows;
    for (int y = 0; y < nHeight; ++y) {
        strRows.push_back('\0'); // no filter
        for (int x = 0; x < nWidth; ++x) {
            const uint32_t nPixel = picture.Pixel(x / nScale, y / nScale);
            strRows.push_back(static_cast<char>(nPixel >> 16));
            strRows.push_back(static_cast<char>(nPixel >> 8));
            strRows.push_back(static_cast<char>(nPixel));
        }
    }
    uLongf nPacked = compressBound(static_cast<uLong>(strRows.size()));
    std::string strPacked(nPacked, '\0');
    if (compress2(reinterpret_cast<Bytef*>(strPacked.data()), &nPacked, reinterpret_cast<const Bytef*>(strRows.data()),
                  static_cast<uLong>(strRows.size()), 9) != Z_OK)
        return false;
    strPacked.resize(nPacked);

    std::string strHeader;
    PutU32(strHeader, static_cast<uint32_t>(nWidth));
    PutU32(strHeader, static_cast<uint32_t>(nHeight));
    strHeader += std::string("\x08\x02\x00\x00\x00", 5); // 8-bit RGB
    std::string strFile = "\x89PNG\r\n\x1a\n";
    PutChunk(strFile, "IHDR", strHeader);
    PutChunk(strFile, "IDAT", strPacked);
    PutChunk(strFile, "IEND", std::string());

    FILE* pFile = std::fopen(strPath.c_str(), "wb");
    if (!pFile)
        return false;
    const bool bWritten = std::fwrite(strFile.data(), 1, strFile.size(), pFile) == strFile.size();
    return std::fclose(pFile) == 0 && bWritten;
}
