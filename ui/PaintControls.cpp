#include "PaintControls.h"

#include <algorithm>

void DrawBitmapAt(CDC* pDC, HBITMAP hBitmap, int x, int y)
{
    // An empty bitmap has no size to draw; the caller's background shows.
    if (!pDC || !hBitmap || hBitmap->IsEmpty())
        return;
    const int nWidth = hBitmap->GetWidth();
    const int nHeight = hBitmap->GetHeight();
    CDC memory;
    memory.CreateCompatibleDC(pDC);
    CBitmap* pOld = memory.SelectObject(hBitmap);
    pDC->TransparentImage(x, y, nWidth, nHeight, &memory, 0, 0, nWidth, nHeight, 0xFF000000);
    memory.SelectObject(pOld);
}

EButtonImage ChooseButtonImage(UINT nItemState)
{
    const bool bFocus = nItemState & ODS_FOCUS;
    if (bFocus)
        return (nItemState & ODS_SELECTED) ? EButtonImage::Pressed : EButtonImage::Normal;
    return (nItemState & ODS_DISABLED) ? EButtonImage::Disabled : EButtonImage::Normal;
}

int ProgressPercent(int nPosition, int nMinimum, int nMaximum)
{
    // A range of width 0 would divide by zero; it counts as a width of 1.
    const int64_t nRange = static_cast<int64_t>(nMaximum) - nMinimum;
    const int64_t nPercent = static_cast<int64_t>(nPosition) * 100 / (nRange == 0 ? 1 : nRange);
    return static_cast<int>(std::clamp<int64_t>(nPercent, INT32_MIN, INT32_MAX));
}

int ProgressFillWidth(int nWidth, int nPercent)
{
    const int64_t nFill = static_cast<int64_t>(nWidth) * nPercent / 100;
    return static_cast<int>(std::clamp<int64_t>(nFill, INT32_MIN, INT32_MAX));
}

UINT LabelTextFormat(bool bCentered, bool bRightAligned)
{
    UINT nFormat = DT_SINGLELINE | DT_VCENTER;
    if (bCentered)
        nFormat |= DT_CENTER;
    else if (bRightAligned)
        nFormat |= DT_RIGHT;
    return nFormat;
}

// ---- CImageButton ----

BEGIN_MESSAGE_MAP(CImageButton, CButton)
ON_WM_LBUTTONDBLCLK()
END_MESSAGE_MAP()

CImageButton::CImageButton() = default;
CImageButton::~CImageButton() = default;

void CImageButton::LoadBitmaps(UINT nNormalId, UINT nPressedId, UINT nDisabledId)
{
    auto load = [](UINT nId) {
        auto pBitmap = std::make_unique<CBitmap>();
        pBitmap->LoadBitmap(nId & 0xFFFF);
        return pBitmap;
    };
    m_pNormal = load(nNormalId);
    m_pPressed = load(nPressedId);
    m_pDisabled = load(nDisabledId);
}

HBITMAP CImageButton::GetBitmap(EButtonImage eImage) const
{
    switch (eImage) {
    case EButtonImage::Pressed:
        return m_pPressed.get();
    case EButtonImage::Disabled:
        return m_pDisabled.get();
    case EButtonImage::Normal:
        break;
    }
    return m_pNormal.get();
}

void CImageButton::DrawItem(LPDRAWITEMSTRUCT lpDrawItemStruct)
{
    if (lpDrawItemStruct->CtlType != ODT_BUTTON)
        return;
    CDC* pDC = lpDrawItemStruct->pDC;
    const CBrush brush(kFormColor);
    pDC->FillRect(GetClientRect(), &brush);
    DrawBitmapAt(pDC, GetBitmap(ChooseButtonImage(lpDrawItemStruct->itemState)), 0, 0);
}

void CImageButton::OnLButtonDblClk()
{
    // The second tap of a double tap is a press of its own, so it clicks too.
    SendMessage(WM_LBUTTONDOWN, 0, 0);
}

// ---- CPaintLabel ----

BEGIN_MESSAGE_MAP(CPaintLabel, CStatic)
ON_WM_PAINT()
END_MESSAGE_MAP()

void CPaintLabel::SetText(const std::string& strText)
{
    m_strText = strText;
    Invalidate(true);
}

void CPaintLabel::OnPaint()
{
    CPaintDC dc(this);
    dc.SetBkMode(TRANSPARENT);
    const CRect rect = GetClientRect();
    dc.FillSolidRect(rect, kFormColor);
    dc.SetTextColor(RGB(0, 0, 0));
    CFont font;
    font.CreatePointFont(m_nPointSize, "MSゴシック");
    CFont* pOldFont = dc.SelectObject(&font);
    dc.DrawText(m_strText, rect, GetTextFormat());
    dc.SelectObject(pOldFont);
}

// ---- CPaintProgress ----

BEGIN_MESSAGE_MAP(CPaintProgress, CProgressCtrl)
ON_WM_PAINT()
END_MESSAGE_MAP()

void CPaintProgress::SetRange(int nMinimum, int nMaximum)
{
    m_nMinimum = nMinimum;
    m_nMaximum = nMaximum == 0 ? 1 : nMaximum;
}

void CPaintProgress::SetPos(int nPosition)
{
    m_nPosition = nPosition;
    Invalidate(false);
}

void CPaintProgress::OnPaint()
{
    CPaintDC dc(this);
    const CRect rect = GetClientRect();
    CDC memory;
    memory.CreateCompatibleDC(&dc);
    CBitmap bitmap;
    bitmap.CreateCompatibleBitmap(rect.Width(), rect.Height());
    CBitmap* pOld = memory.SelectObject(&bitmap);

    const int nPercent = ProgressPercent(m_nPosition, m_nMinimum, m_nMaximum);
    CRect filled = rect;
    filled.right = rect.left + std::clamp(ProgressFillWidth(rect.Width(), nPercent), 0, rect.Width());
    memory.FillSolidRect(rect, kProgressTrackColor);
    memory.FillSolidRect(filled, kProgressBarColor);
    dc.BitBlt(0, 0, rect.Width(), rect.Height(), &memory, 0, 0, SRCCOPY);
    memory.SelectObject(pOld);
}
