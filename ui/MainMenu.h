// CMainMenu: the main window's menu bar, 編集, リピート (with the sleep
// timer's submenu), Mixing, Alpha and ヘルプ. The repeat, Mixing and Alpha
// items, and the sleep timer's オフ and ends, are radio items whose marks are
// read from the controller each time a menu opens. A chosen item goes to
// the window, which posts it to the controller or runs it itself.
#pragma once

#include "player/PlaybackController.h"

#include <FL/Fl_Menu_Bar.H>

#include <functional>

// What an item does: most post a command with a value.
enum class EMenuAction { Post, About, Help, Exit };

struct SMenuEntry {
    const char* strText;
    EMenuAction eAction;
    EPlayerCommand eCommand;
    int nValue;
};

class CMainMenu : public Fl_Menu_Bar {
public:
    CMainMenu(int x, int y, int w, int h);

    void SetController(const CPlaybackController& controller) { m_pController = &controller; }
    void SetChooseHandler(std::function<void(const SMenuEntry&)> onChoose) { m_onChoose = std::move(onChoose); }

    // Opens the first menu (編集), as F10 does.
    void OpenFirstMenu();
    // Brings the radio marks up to date with the controller's settings.
    void UpdateMarks();
    // Every item's callback: its entry goes to the choose handler.
    static void OnItem(Fl_Widget* pBar, void* pEntry);

protected:
    int handle(int nEvent) override;

private:
    const CPlaybackController* m_pController = nullptr;
    std::function<void(const SMenuEntry&)> m_onChoose;
};
