#include "ui/PlatformPopupMenu.h"

#include "ui/Toolkit.h"
#include "ui/Window.h"


bool CQNF_PlatformPopupMenu::Create()
{
    if (m_created) {
        SetError(qnerr::BadArgument);
        return false;
    }
    m_created = true;
    return true;
}

bool CQNF_PlatformPopupMenu::AddItem(const char* text, unsigned short id, unsigned char checked,
                                     unsigned char disabled, const MENUSHORTCUT* shortcut)
{
    if (!m_created) {
        SetError(qnerr::Empty);
        return false;
    }
    if (!text)
        return true;
    plat::MenuItem item;
    item.text = text;
    item.checked = checked != 0;
    item.disabled = disabled != 0;
    if (shortcut && shortcut->key[0]) {
        item.cmd = shortcut->command != 0;
        item.shift = shortcut->shift != 0;
        item.option = shortcut->option != 0;
        item.key.assign(1, shortcut->key[0]);
    }
    if (m_ids.Add(id) < 0) {
        SetError(qnerr::NoMemory);
        return false;
    }
    m_items.push_back(std::move(item));
    return true;
}

bool CQNF_PlatformPopupMenu::AddItem(const char* text, unsigned short id, unsigned char checked,
                                     unsigned char disabled, unsigned char command, unsigned char shift,
                                     unsigned char option, const char* key)
{
    const MENUSHORTCUT s = CreateShortcut(command, option, shift, key);
    return AddItem(text, id, checked, disabled, &s);
}

CQNF_PlatformPopupMenu::MENUSHORTCUT CQNF_PlatformPopupMenu::CreateShortcut(unsigned char command,
                                                                            unsigned char option,
                                                                            unsigned char shift, const char* key)
{
    MENUSHORTCUT s{};
    s.command = command;
    s.shift = shift;
    s.option = option;
    // Up to four key characters, not terminated when all four are used.
    for (size_t i = 0; key && i < sizeof s.key && key[i]; ++i)
        s.key[i] = key[i];
    s.zero = 0;
    return s;
}

bool CQNF_PlatformPopupMenu::AddSeparator()
{
    if (!m_created) {
        SetError(qnerr::Empty);
        return false;
    }
    if (m_ids.Add(kSeparatorId) < 0) {
        SetError(qnerr::NoMemory);
        return false;
    }
    plat::MenuItem item;
    item.separator = true;
    m_items.push_back(item);
    return true;
}

bool CQNF_PlatformPopupMenu::DoPopup(CQNF_Window* window, short x, short y, unsigned char)
{
    if (!m_created) {
        SetError(qnerr::Empty);
        return false;
    }
    plat::Platform* p = qnui::Toolkit::Get().P();
    if (!p || !window)
        return true;
    const qntRECT_s r = window->GetWindowRect();
    const int chosen = p->PopupMenu(window->GetWindowHandle(), {r.left + x, r.top + y + 5}, m_items);
    if (chosen < 0 || uint32_t(chosen) >= m_ids.GetSize())
        return true;
    unsigned short id = m_ids[uint32_t(chosen)];
    if (id == kSeparatorId && m_items[size_t(chosen)].separator)
        return true;
    char name[] = "Menu";
    window->OnCtrlMessage(qnmsg::PopupChoice, 0xFFFFFFFFu, name, 255, &id);
    return true;
}
