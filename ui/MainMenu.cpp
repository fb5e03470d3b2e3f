#include "MainMenu.h"

#include <FL/Fl.H>

#include <vector>

namespace {

constexpr SMenuEntry Post(const char* strText, EPlayerCommand eCommand, int nValue = 0)
{
    return SMenuEntry{strText, EMenuAction::Post, eCommand, nValue};
}

constexpr SMenuEntry Run(const char* strText, EMenuAction eAction)
{
    return SMenuEntry{strText, eAction, EPlayerCommand::Play, 0};
}

const SMenuEntry kEditItems[] = {
    Post("追加", EPlayerCommand::AddFiles),
    Post("削除", EPlayerCommand::DeleteSelected),
};
const SMenuEntry kRepeatItems[] = {
    Post("しない", EPlayerCommand::SetRepeat, REPEAT_NONE),
    Post("全部", EPlayerCommand::SetRepeat, REPEAT_ALL),
    Post("ひとつ", EPlayerCommand::SetRepeat, REPEAT_ONE),
};
const SMenuEntry kMixingItems[] = {
    Post("MAX", EPlayerCommand::SetMixing, 100), Post("90%", EPlayerCommand::SetMixing, 90),
    Post("80%", EPlayerCommand::SetMixing, 80),  Post("70%", EPlayerCommand::SetMixing, 70),
    Post("60%", EPlayerCommand::SetMixing, 60),  Post("50%", EPlayerCommand::SetMixing, 50),
    Post("40%", EPlayerCommand::SetMixing, 40),  Post("30%", EPlayerCommand::SetMixing, 30),
    Post("20%", EPlayerCommand::SetMixing, 20),  Post("10%", EPlayerCommand::SetMixing, 10),
    Post("OFF", EPlayerCommand::SetMixing, 0),
};
// Minutes add to a timer that runs; its end choices and オフ are marked.
const SMenuEntry kSleepItems[] = {
    Post("オフ", EPlayerCommand::SetSleepTimer, SLEEP_OFF),
    Post("15分", EPlayerCommand::SetSleepTimer, 15),
    Post("30分", EPlayerCommand::SetSleepTimer, 30),
    Post("45分", EPlayerCommand::SetSleepTimer, 45),
    Post("60分", EPlayerCommand::SetSleepTimer, 60),
    Post("90分", EPlayerCommand::SetSleepTimer, 90),
    Post("章の終わり", EPlayerCommand::SetSleepTimer, SLEEP_CHAPTER_END),
    Post("ファイルの終わり", EPlayerCommand::SetSleepTimer, SLEEP_FILE_END),
};
// Alpha's MAX is 50: the tones stay quiet under the speech.
const SMenuEntry kAlphaItems[] = {
    Post("MAX", EPlayerCommand::SetAlpha, 50), Post("45%", EPlayerCommand::SetAlpha, 45),
    Post("40%", EPlayerCommand::SetAlpha, 40), Post("35%", EPlayerCommand::SetAlpha, 35),
    Post("30%", EPlayerCommand::SetAlpha, 30), Post("25%", EPlayerCommand::SetAlpha, 25),
    Post("20%", EPlayerCommand::SetAlpha, 20), Post("15%", EPlayerCommand::SetAlpha, 15),
    Post("10%", EPlayerCommand::SetAlpha, 10), Post("5%", EPlayerCommand::SetAlpha, 5),
    Post("OFF", EPlayerCommand::SetAlpha, 0),
};
const SMenuEntry kHelpItems[] = {
    Run("バージョン", EMenuAction::About),
    Run("ヘルプ", EMenuAction::Help),
    Post("設定", EPlayerCommand::Settings),
    Run("終了", EMenuAction::Exit),
};

// A menu's items, then the submenu that ends it, if any.
struct SMenuDef {
    const char* strCaption;
    const SMenuEntry* pItems;
    size_t nItems;
    const SMenuDef* pSubmenu;
};

template <size_t N>
constexpr SMenuDef Menu(const char* strCaption, const SMenuEntry (&aItems)[N], const SMenuDef* pSubmenu = nullptr)
{
    return SMenuDef{strCaption, aItems, N, pSubmenu};
}

const SMenuDef kSleepMenu = Menu("スリープタイマー", kSleepItems);
const SMenuDef kMenus[] = {
    Menu("編集", kEditItems),   Menu("リピート", kRepeatItems, &kSleepMenu), Menu("Mixing", kMixingItems),
    Menu("Alpha", kAlphaItems), Menu("ヘルプ", kHelpItems),
};

bool IsSetting(const SMenuEntry& entry)
{
    return entry.eAction == EMenuAction::Post &&
        (entry.eCommand == EPlayerCommand::SetRepeat || entry.eCommand == EPlayerCommand::SetMixing ||
         entry.eCommand == EPlayerCommand::SetAlpha ||
         (entry.eCommand == EPlayerCommand::SetSleepTimer && entry.nValue <= 0));
}

void AddMenu(std::vector<Fl_Menu_Item>& aItems, const SMenuDef& menu)
{
    aItems.push_back(Fl_Menu_Item{menu.strCaption, 0, nullptr, nullptr, FL_SUBMENU, 0, 0, 0, 0});
    for (size_t i = 0; i < menu.nItems; ++i) {
        const SMenuEntry& entry = menu.pItems[i];
        aItems.push_back(Fl_Menu_Item{entry.strText, 0, &CMainMenu::OnItem, const_cast<SMenuEntry*>(&entry),
                                      IsSetting(entry) ? FL_MENU_RADIO : 0, 0, 0, 0, 0});
    }
    if (menu.pSubmenu)
        AddMenu(aItems, *menu.pSubmenu);
    aItems.push_back(Fl_Menu_Item{});
}

int CurrentValue(const CPlaybackController& controller, EPlayerCommand eCommand)
{
    switch (eCommand) {
    case EPlayerCommand::SetRepeat:
        return controller.GetRepeat();
    case EPlayerCommand::SetMixing:
        return controller.GetMixingVolume();
    case EPlayerCommand::SetSleepTimer:
        return controller.GetSleepTimer();
    default:
        return controller.GetAlphaControl();
    }
}

} // namespace

CMainMenu::CMainMenu(int x, int y, int w, int h)
    : Fl_Menu_Bar(x, y, w, h)
{
    // The texts are taken as they are: no '/' submenus, '&' shortcuts or '_' dividers.
    std::vector<Fl_Menu_Item> aItems;
    for (const SMenuDef& menu : kMenus)
        AddMenu(aItems, menu);
    aItems.push_back(Fl_Menu_Item{});
    copy(aItems.data());
}

void CMainMenu::OnItem(Fl_Widget* pBar, void* pEntry)
{
    auto* pMenu = static_cast<CMainMenu*>(pBar);
    if (pMenu->m_onChoose)
        pMenu->m_onChoose(*static_cast<const SMenuEntry*>(pEntry));
}

void CMainMenu::UpdateMarks()
{
    if (!m_pController)
        return;
    for (int i = 0; i < size(); ++i) {
        const auto* pEntry = static_cast<const SMenuEntry*>(menu()[i].user_data());
        if (!menu()[i].text || !pEntry || !IsSetting(*pEntry))
            continue;
        const bool bOn = CurrentValue(*m_pController, pEntry->eCommand) == pEntry->nValue;
        mode(i, FL_MENU_RADIO | (bOn ? FL_MENU_VALUE : 0));
    }
}

void CMainMenu::OpenFirstMenu()
{
    UpdateMarks();
    picked(menu()->pulldown(x(), y(), w(), h(), menu(), this, nullptr, 1));
}

int CMainMenu::handle(int nEvent)
{
    if (nEvent == FL_PUSH || nEvent == FL_SHORTCUT)
        UpdateMarks();
    return Fl_Menu_Bar::handle(nEvent);
}
