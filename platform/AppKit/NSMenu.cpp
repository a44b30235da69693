#include "AppKit/NSMenu.h"

OBJC_IMPLEMENTATION(NSMenuItem, NSObject)
{
    cls.property("title", &NSMenuItem::title);
}

OBJC_IMPLEMENTATION(NSMenu, NSObject)
{
    cls.property("title", &NSMenu::title);
}

NSMenuItem* NSMenuItem::itemWithTitle(NSString* title, Action action, NSString* keyEquivalent)
{
    auto* item = new NSMenuItem();
    item->m_title = title ? title : NSString::string();
    item->m_keyEquivalent = keyEquivalent ? keyEquivalent : NSString::string();
    item->m_action = std::move(action);
    return static_cast<NSMenuItem*>(item->autorelease());
}

NSMenuItem* NSMenuItem::separatorItem()
{
    NSMenuItem* item = itemWithTitle(nil, nullptr, nil);
    item->m_separator = YES;
    return item;
}

void NSMenuItem::setEnabled(BOOL enabled) { m_enabled = enabled; }

void NSMenuItem::setSubmenu(NSMenu* menu) { m_submenu = menu; }

void NSMenuItem::performAction()
{
    if (m_enabled && m_action)
        m_action(this);
}

NSMenu* NSMenu::menuWithTitle(NSString* title)
{
    auto* menu = new NSMenu();
    menu->m_title = title ? title : NSString::string();
    menu->m_items = NSMutableArray::array();
    return static_cast<NSMenu*>(menu->autorelease());
}

void NSMenu::addItem(NSMenuItem* item)
{
    if (!item)
        return;
    m_items->addObject(item);
    menuDidChange();
}

void NSMenu::removeAllItems()
{
    m_items->removeAllObjects();
    menuDidChange();
}

void NSMenu::menuDidChange() const
{
    if (m_changed)
        m_changed();
}
