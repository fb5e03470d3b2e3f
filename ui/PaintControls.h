// The form's custom-drawn controls. The buttons and the labels fill their
// rectangles with the form colour RGB(165, 149, 132), the dominant colour of
// the background picture; the progress bar draws its own black track and
// blue bar off-screen, so that it does not flicker while playing.
#pragma once

#include "platform/Controls.h"
#include "platform/Gdi.h"

#include <memory>
#include <string>

constexpr COLORREF kFormColor = RGB(165, 149, 132);
constexpr COLORREF kProgressTrackColor = RGB(0, 0, 0);
constexpr COLORREF kProgressBarColor = RGB(100, 100, 255);

// Draws the whole bitmap unscaled with its top-left corner at (x, y).
void DrawBitmapAt(CDC* pDC, HBITMAP hBitmap, int x, int y);

// Which of a button's three bitmaps its state shows.
enum class EButtonImage { Normal, Pressed, Disabled };
EButtonImage ChooseButtonImage(UINT nItemState);

// The progress bar's fill: whole percent of the range, and the filled width
// of a bar nWidth pixels wide (both truncate toward zero).
int ProgressPercent(int nPosition, int nMinimum, int nMaximum);
int ProgressFillWidth(int nWidth, int nPercent);

// The label's text layout flags.
UINT LabelTextFormat(bool bCentered, bool bRightAligned);

class CImageButton : public CButton {
public:
    CImageButton();
    ~CImageButton() override;
    // Loads the three bitmaps by resource id, replacing those it held.
    void LoadBitmaps(UINT nNormalId, UINT nPressedId, UINT nDisabledId);
    void DrawItem(LPDRAWITEMSTRUCT lpDrawItemStruct) override;
    HBITMAP GetBitmap(EButtonImage eImage) const;

    DECLARE_MESSAGE_MAP()

protected:
    void OnLButtonDblClk();

private:
    std::unique_ptr<CBitmap> m_pNormal;
    std::unique_ptr<CBitmap> m_pPressed;
    std::unique_ptr<CBitmap> m_pDisabled;
};

class CPaintLabel : public CStatic {
public:
    void SetText(const std::string& strText);
    void SetPointSize(int nTenths) { m_nPointSize = nTenths; }
    void SetCenter() { m_bCenter = true; }
    void SetRight() { m_bRight = true; }
    const std::string& GetText() const { return m_strText; }
    int GetPointSize() const { return m_nPointSize; }
    UINT GetTextFormat() const { return LabelTextFormat(m_bCenter, m_bRight); }

    DECLARE_MESSAGE_MAP()

protected:
    void OnPaint();

private:
    std::string m_strText;
    int m_nPointSize = 105;
    bool m_bRight = false;
    bool m_bCenter = false;
};

class CPaintProgress : public CProgressCtrl {
public:
    // A maximum of 0 is stored as 1.
    void SetRange(int nMinimum, int nMaximum);
    void SetPos(int nPosition);
    int GetPos() const { return m_nPosition; }
    int GetMinimum() const { return m_nMinimum; }
    int GetMaximum() const { return m_nMaximum; }

    DECLARE_MESSAGE_MAP()

protected:
    void OnPaint();

private:
    int m_nMinimum = 0;
    int m_nMaximum = 100;
    int m_nPosition = 0;
};
