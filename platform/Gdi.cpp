#include "Gdi.h"

#include "Fonts.h"

#include <FL/Fl.H>
#include <FL/Fl_PNG_Image.H>
#include <FL/Fl_Widget.H>
#include <FL/Fl_Window.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

#include <map>

namespace {

struct SResource {
    const unsigned char* pData;
    size_t nSize;
};

std::map<UINT, SResource>& Resources()
{
    static std::map<UINT, SResource> resources;
    return resources;
}

void SetColor(COLORREF crColor)
{
    fl_color(static_cast<uchar>(GetRValue(crColor)), static_cast<uchar>(GetGValue(crColor)),
             static_cast<uchar>(GetBValue(crColor)));
}

Fl_Offscreen Offscreen(uintptr_t hOffscreen)
{
    return static_cast<Fl_Offscreen>(hOffscreen);
}

} // namespace

void RegisterBitmapResource(UINT nResourceId, const unsigned char* pData, size_t nSize)
{
    Resources()[nResourceId] = SResource{pData, nSize};
}

bool CFont::CreatePointFont(int nPointSize, const std::string& strFaceName)
{
    m_nToolkitFont = ToolkitFontForFace(strFaceName);
    m_nPixelSize = PixelsForTenthsOfPoint(nPointSize);
    return true;
}

CBitmap::CBitmap() = default;

CBitmap::~CBitmap()
{
    if (m_hOffscreen)
        fl_delete_offscreen(Offscreen(m_hOffscreen));
}

bool CBitmap::LoadBitmap(UINT nResourceId, int nWidth, int nHeight)
{
    const auto found = Resources().find(nResourceId & 0xFFFF);
    if (found == Resources().end() || found->second.nSize > static_cast<size_t>(INT32_MAX))
        return false;
    std::unique_ptr<Fl_RGB_Image> pImage = std::make_unique<Fl_PNG_Image>(nullptr, found->second.pData, static_cast<int>(found->second.nSize));
    if (pImage->w() <= 0 || pImage->h() <= 0 || pImage->d() < 3)
        return false;
    if (nWidth > 0 && nHeight > 0 && (nWidth != pImage->w() || nHeight != pImage->h()))
        pImage.reset(static_cast<Fl_RGB_Image*>(pImage->copy(nWidth, nHeight)));
    m_nWidth = pImage->w();
    m_nHeight = pImage->h();
    m_pImage = std::move(pImage);
    return true;
}

bool CBitmap::CreateCompatibleBitmap(int nWidth, int nHeight)
{
    if (nWidth <= 0 || nHeight <= 0 || !fl_window)
        return false;
    m_hOffscreen = static_cast<uintptr_t>(fl_create_offscreen(nWidth, nHeight));
    m_nWidth = nWidth;
    m_nHeight = nHeight;
    return m_hOffscreen != 0;
}

CDC::~CDC() = default;

bool CDC::CreateCompatibleDC(CDC* /*pDC*/)
{
    m_bMemory = true;
    return true;
}

CBitmap* CDC::SelectObject(CBitmap* pBitmap)
{
    CBitmap* const pOld = m_pBitmap;
    m_pBitmap = pBitmap;
    return pOld;
}

CFont* CDC::SelectObject(CFont* pFont)
{
    CFont* const pOld = m_pFont;
    m_pFont = pFont;
    return pOld;
}

template <class TDraw>
void CDC::OnSurface(TDraw draw)
{
    if (!m_bMemory) {
        draw(m_nOriginX, m_nOriginY);
        return;
    }
    if (!m_pBitmap || !m_pBitmap->m_hOffscreen)
        return;
    fl_begin_offscreen(Offscreen(m_pBitmap->m_hOffscreen));
    draw(0, 0);
    fl_end_offscreen();
}

void CDC::FillSolidRect(const CRect& rect, COLORREF crColor)
{
    OnSurface([&](int nX, int nY) {
        SetColor(crColor);
        fl_rectf(nX + rect.left, nY + rect.top, rect.Width(), rect.Height());
    });
}

void CDC::FillRect(const CRect& rect, const CBrush* pBrush)
{
    if (pBrush)
        FillSolidRect(rect, pBrush->GetColor());
}

int CDC::SetBkMode(int nMode)
{
    const int nOld = m_nBkMode;
    m_nBkMode = nMode;
    return nOld;
}

COLORREF CDC::SetTextColor(COLORREF crColor)
{
    const COLORREF crOld = m_crText;
    m_crText = crColor;
    return crOld;
}

void CDC::DrawText(const std::string& strText, const CRect& rect, UINT nFormat)
{
    OnSurface([&](int nX, int nY) {
        fl_font(m_pFont ? m_pFont->GetToolkitFont() : FL_HELVETICA, m_pFont ? m_pFont->GetPixelSize() : 14);
        SetColor(m_crText);
        Fl_Align nAlign = FL_ALIGN_INSIDE | FL_ALIGN_CLIP;
        if (nFormat & DT_CENTER)
            nAlign |= FL_ALIGN_CENTER;
        else if (nFormat & DT_RIGHT)
            nAlign |= FL_ALIGN_RIGHT;
        else
            nAlign |= FL_ALIGN_LEFT;
        if (!(nFormat & DT_VCENTER))
            nAlign |= FL_ALIGN_TOP;
        fl_push_clip(nX + rect.left, nY + rect.top, rect.Width(), rect.Height());
        // No symbol or '@' interpretation: the text is shown as it is.
        fl_draw(strText.c_str(), nX + rect.left, nY + rect.top, rect.Width(), rect.Height(), nAlign, nullptr, 0);
        fl_pop_clip();
    });
}

bool CDC::BitBlt(int x, int y, int nWidth, int nHeight, CDC* pSrcDC, int xSrc, int ySrc, uint32_t /*nRop*/)
{
    if (!pSrcDC || !pSrcDC->m_pBitmap)
        return false;
    const CBitmap& source = *pSrcDC->m_pBitmap;
    OnSurface([&](int nX, int nY) {
        if (source.m_hOffscreen)
            fl_copy_offscreen(nX + x, nY + y, nWidth, nHeight, Offscreen(source.m_hOffscreen), xSrc, ySrc);
        else if (source.m_pImage)
            source.m_pImage->draw(nX + x, nY + y, nWidth, nHeight, xSrc, ySrc);
    });
    return true;
}

bool CDC::TransparentImage(int x, int y, int nWidth, int nHeight, CDC* pSrcDC, int xSrc, int ySrc,
                           int /*nSrcWidth*/, int /*nSrcHeight*/, COLORREF /*crTransparent*/)
{
    return BitBlt(x, y, nWidth, nHeight, pSrcDC, xSrc, ySrc, SRCCOPY);
}

CPaintDC::CPaintDC(CWnd* pWnd)
{
    Fl_Widget* pWidget = pWnd ? pWnd->GetWidget() : nullptr;
    if (pWidget && !pWidget->as_window()) {
        m_nOriginX = pWidget->x();
        m_nOriginY = pWidget->y();
    }
    if (pWidget)
        fl_push_clip(m_nOriginX, m_nOriginY, pWidget->w(), pWidget->h());
    else
        fl_push_no_clip();
}

CPaintDC::~CPaintDC()
{
    fl_pop_clip();
}
