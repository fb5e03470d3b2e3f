// Device contexts, brushes, fonts and bitmaps over FLTK's drawing calls.
//
// A CDC draws into a window's widget while the toolkit paints it (CPaintDC),
// or into an off-screen bitmap selected into a memory context. Coordinates
// are the window's client coordinates, origin at its top-left corner, as the
// program's paint code expects. Bitmaps come from the images built into the
// executable, by resource id. User-interface thread only, inside a paint.
#pragma once

#include "Wnd.h"

#include <memory>
#include <string>

class Fl_RGB_Image;

// The text layout flags of DrawText.
constexpr UINT DT_LEFT = 0x0000;
constexpr UINT DT_CENTER = 0x0001;
constexpr UINT DT_RIGHT = 0x0002;
constexpr UINT DT_VCENTER = 0x0004;
constexpr UINT DT_SINGLELINE = 0x0020;

constexpr int TRANSPARENT = 1;
constexpr int OPAQUE = 2;

constexpr uint32_t SRCCOPY = 0x00CC0020;

class CBrush {
public:
    explicit CBrush(COLORREF crColor)
        : m_crColor(crColor)
    {
    }
    COLORREF GetColor() const { return m_crColor; }

private:
    COLORREF m_crColor;
};

// A font by face name and size in tenths of a point. The program's Japanese
// face names map to an installed font with Japanese glyphs.
class CFont {
public:
    bool CreatePointFont(int nPointSize, const std::string& strFaceName);
    int GetToolkitFont() const { return m_nToolkitFont; }
    int GetPixelSize() const { return m_nPixelSize; }

private:
    int m_nToolkitFont = 0;
    int m_nPixelSize = 14;
};

// A bitmap: one of the images built into the executable, or an off-screen
// surface made for a memory context.
class CBitmap {
public:
    CBitmap();
    ~CBitmap();
    CBitmap(const CBitmap&) = delete;
    CBitmap& operator=(const CBitmap&) = delete;

    // The built-in image with this resource id, scaled to nWidth x nHeight
    // when those are given; false when there is none.
    bool LoadBitmap(UINT nResourceId, int nWidth = 0, int nHeight = 0);
    bool CreateCompatibleBitmap(int nWidth, int nHeight);
    int GetWidth() const { return m_nWidth; }
    int GetHeight() const { return m_nHeight; }
    bool IsEmpty() const { return m_nWidth == 0; }
    // The built-in image itself, for the toolkit (window icons); null for none.
    const Fl_RGB_Image* GetImage() const { return m_pImage.get(); }

private:
    friend class CDC;
    std::unique_ptr<Fl_RGB_Image> m_pImage;
    uintptr_t m_hOffscreen = 0;
    int m_nWidth = 0;
    int m_nHeight = 0;
};

using HBITMAP = CBitmap*;

class CDC {
public:
    CDC() = default;
    virtual ~CDC();
    CDC(const CDC&) = delete;
    CDC& operator=(const CDC&) = delete;

    // A memory context: draws into the bitmap selected into it.
    bool CreateCompatibleDC(CDC* pDC);
    // Selects a bitmap into a memory context; returns the previous one.
    CBitmap* SelectObject(CBitmap* pBitmap);
    CFont* SelectObject(CFont* pFont);

    void FillSolidRect(const CRect& rect, COLORREF crColor);
    void FillRect(const CRect& rect, const CBrush* pBrush);
    int SetBkMode(int nMode);
    COLORREF SetTextColor(COLORREF crColor);
    // One line of text laid out in the rectangle by the DT_ flags.
    void DrawText(const std::string& strText, const CRect& rect, UINT nFormat);
    // Copies from a memory context: its off-screen surface, or the whole
    // selected built-in image.
    bool BitBlt(int x, int y, int nWidth, int nHeight, CDC* pSrcDC, int xSrc, int ySrc, uint32_t nRop);
    // The colour-keyed copy of the built-in images. The artwork avoids the
    // key colour (black), so the copy is opaque.
    bool TransparentImage(int x, int y, int nWidth, int nHeight, CDC* pSrcDC, int xSrc, int ySrc, int nSrcWidth,
                          int nSrcHeight, COLORREF crTransparent);

protected:
    // Runs a drawing call on this context's surface.
    template <class TDraw>
    void OnSurface(TDraw draw);

    int m_nOriginX = 0;
    int m_nOriginY = 0;
    bool m_bMemory = false;
    CBitmap* m_pBitmap = nullptr;
    CFont* m_pFont = nullptr;
    COLORREF m_crText = 0;
    int m_nBkMode = OPAQUE;
};

// The context of a window's paint: valid only inside its WM_PAINT handler.
class CPaintDC : public CDC {
public:
    explicit CPaintDC(CWnd* pWnd);
    ~CPaintDC() override;
};

// Registers the built-in PNG images; the executable's resource table calls it.
void RegisterBitmapResource(UINT nResourceId, const unsigned char* pData, size_t nSize);
