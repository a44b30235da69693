// Menus: a title and items; an item has a title, a key equivalent, an
// action and possibly a submenu. The application's main menu is shown as the
// menu bar of its titled windows.
#pragma once

#include "Foundation/NSArray.h"
#include "Foundation/NSString.h"

#include <functional>

class NSMenu;

// Items whose submenu the application fills itself.
enum NSMenuItemRole { NSMenuItemRoleNone, NSMenuItemRoleRecentDocuments };

class NSMenuItem : public NSObject {
    OBJC_CLASS(NSMenuItem, NSObject)
public:
    using Action = std::function<void(NSMenuItem* sender)>;

    // `keyEquivalent` in the window system's notation ("Ctrl+O"); empty for none.
    static NSMenuItem* itemWithTitle(NSString* title, Action action, NSString* keyEquivalent);
    static NSMenuItem* separatorItem();

    NSString* title() const { return m_title; }
    NSString* keyEquivalent() const { return m_keyEquivalent; }
    BOOL isSeparatorItem() const { return m_separator; }
    BOOL isEnabled() const { return m_enabled; }
    void setEnabled(BOOL enabled);
    NSMenu* submenu() const { return m_submenu; }
    void setSubmenu(NSMenu* menu);
    NSMenuItemRole role() const { return m_role; }
    void setRole(NSMenuItemRole role) { m_role = role; }
    // Sends the item's action, as a click on it does.
    void performAction();

private:
    Retained<NSString> m_title;
    Retained<NSString> m_keyEquivalent;
    Retained<NSMenu> m_submenu;
    Action m_action;
    BOOL m_enabled = YES;
    BOOL m_separator = NO;
    NSMenuItemRole m_role = NSMenuItemRoleNone;
};

class NSMenu : public NSObject {
    OBJC_CLASS(NSMenu, NSObject)
public:
    static NSMenu* menuWithTitle(NSString* title);
    NSString* title() const { return m_title; }
    NSArray* itemArray() const { return m_items; }
    void addItem(NSMenuItem* item);
    void removeAllItems();
    // Called whenever the menu changed, so that what shows it follows.
    void setChangeHandler(std::function<void()> handler) { m_changed = std::move(handler); }
    void menuDidChange() const;

private:
    Retained<NSString> m_title;
    Retained<NSMutableArray> m_items;
    std::function<void()> m_changed;
};
