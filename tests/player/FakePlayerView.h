// The player's form as the tests see it: it keeps what the controller shows
// and answers its questions and dialogs as the test has set it to.
#pragma once

#include "player/PlayerView.h"

#include <string>
#include <vector>

class CFakePlayerView : public IPlayerView {
public:
    struct SRow {
        std::string strName;
        std::string strPath;
        bool bSelected = false;
    };

    void ShowPlayButton(bool bPlay) override { m_bPlayShown = bPlay; }
    void EnablePlay(bool bEnable) override { m_bPlayEnabled = bEnable; }
    void EnableStop(bool bEnable) override { m_bStopEnabled = bEnable; }
    void SetSpeedText(const std::string& strText) override { m_strSpeed = strText; }
    void SetFileName(const std::string& strText) override { m_strFileName = strText; }
    void SetTimeText(const std::string& strText) override { m_strTime = strText; }
    void SetTimeTip(const std::string& strTip) override { m_strTimeTip = strTip; }
    void SetProgressRange(int nMaximum) override { m_nProgressMax = nMaximum; }
    void SetProgressPos(int nPosition) override { m_nProgressPos = nPosition; }
    void SetProgressTicks(const std::vector<int>& anSeconds) override { m_anTicks = anSeconds; }
    void SetSleepText(const std::string& strText) override { m_strSleep = strText; }
    void SetCaption(const std::string& strCaption) override { m_strCaption = strCaption; }
    void AddRow(const std::string& strName, const std::string& strPath) override { m_aRows.push_back({strName, strPath}); }
    void RemoveRow(int nRow) override { m_aRows.erase(m_aRows.begin() + nRow); }
    bool IsRowSelected(int nRow) const override { return m_aRows.at(static_cast<size_t>(nRow)).bSelected; }
    void SelectRow(int nRow, bool bSelect) override { m_aRows.at(static_cast<size_t>(nRow)).bSelected = bSelect; }
    void ShowRow(int nRow) override { m_nShownRow = nRow; }

    bool AskYesNo(const std::string& strText) override
    {
        m_astrAsked.push_back(strText);
        return m_bAnswerYes;
    }
    void ShowMessage(const std::string& strText) override { m_astrMessages.push_back(strText); }

    bool ChooseFiles(bool& bFileMode, std::string& strFolder, std::vector<std::string>& astrPaths) override
    {
        m_bOfferedFileMode = bFileMode;
        m_strOfferedFolder = strFolder;
        if (!m_bChooseOk)
            return false;
        bFileMode = m_bChosenFileMode;
        strFolder = m_strChosenFolder;
        astrPaths = m_astrChosen;
        return true;
    }
    bool ChooseSettings(SPlayerSettings& settings) override
    {
        m_offeredSettings = settings;
        m_nOfferedWaitMs = settings.nWaitMs;
        if (m_bChooseOk)
            settings = SPlayerSettings{m_nChosenWaitMs, m_chosenSettings.bClearSpeech, m_chosenSettings.bSkipSilence,
                m_chosenSettings.bSpeedPerBook, m_chosenSettings.bRewindOnResume};
        return m_bChooseOk;
    }

    // Only these rows selected.
    void Select(const std::vector<int>& anRows)
    {
        for (SRow& row : m_aRows)
            row.bSelected = false;
        for (int nRow : anRows)
            SelectRow(nRow, true);
    }
    std::vector<int> SelectedRows() const
    {
        std::vector<int> anRows;
        for (size_t i = 0; i < m_aRows.size(); ++i) {
            if (m_aRows[i].bSelected)
                anRows.push_back(static_cast<int>(i));
        }
        return anRows;
    }
    std::vector<std::string> RowNames() const
    {
        std::vector<std::string> astrNames;
        for (const SRow& row : m_aRows)
            astrNames.push_back(row.strName);
        return astrNames;
    }

    bool m_bPlayShown = true;
    bool m_bPlayEnabled = true;
    bool m_bStopEnabled = true;
    std::string m_strSpeed;
    std::string m_strFileName;
    std::string m_strTime;
    std::string m_strTimeTip;
    std::vector<int> m_anTicks;
    std::string m_strSleep;
    int m_nProgressMax = -1;
    int m_nProgressPos = -1;
    std::string m_strCaption;
    std::vector<SRow> m_aRows;
    int m_nShownRow = -1;

    bool m_bAnswerYes = false;
    std::vector<std::string> m_astrAsked;
    std::vector<std::string> m_astrMessages;

    // The answer of both dialogs: OK with these choices, or cancel.
    bool m_bChooseOk = false;
    bool m_bChosenFileMode = true;
    std::string m_strChosenFolder;
    std::vector<std::string> m_astrChosen;
    int m_nChosenWaitMs = 0;
    SPlayerSettings m_chosenSettings; // its modes
    // What the dialogs were opened with.
    bool m_bOfferedFileMode = false;
    std::string m_strOfferedFolder;
    int m_nOfferedWaitMs = -1;
    SPlayerSettings m_offeredSettings;
};
