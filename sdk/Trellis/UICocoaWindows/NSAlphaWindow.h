// Borderless, see-through windows and panels: whatever their creator asks
// for, they are borderless, buffered, made at once, with a clear background,
// at the normal level, fully opaque in alpha but not opaque, so only what
// their views draw shows. They differ in base class and shadow. The panels
// move with the pointer when pressed anywhere.
#pragma once

#include "AppKit/NSWindow.h"

class NSAlphaWindowWithShadow : public NSWindow {
    OBJC_CLASS(NSAlphaWindowWithShadow, NSWindow)
public:
    NSWindow* initWithContentRect(NSRect contentRect, NSUInteger styleMask, NSBackingStoreType backing,
                                  BOOL defer) override;
};

class NSAlphaWindowWithoutShadow : public NSWindow {
    OBJC_CLASS(NSAlphaWindowWithoutShadow, NSWindow)
public:
    NSWindow* initWithContentRect(NSRect contentRect, NSUInteger styleMask, NSBackingStoreType backing,
                                  BOOL defer) override;
    void NSAlphaWindow_initSubclass() override {}
};

class NSAlphaPanelWithShadow : public NSPanel {
    OBJC_CLASS(NSAlphaPanelWithShadow, NSPanel)
public:
    NSWindow* initWithContentRect(NSRect contentRect, NSUInteger styleMask, NSBackingStoreType backing,
                                  BOOL defer) override;
    BOOL acceptsFirstMouse(NSEvent* event) const { return YES; }
    void mouseDown(NSEvent* event) override;
};

class NSAlphaPanelWithoutShadow : public NSPanel {
    OBJC_CLASS(NSAlphaPanelWithoutShadow, NSPanel)
public:
    NSWindow* initWithContentRect(NSRect contentRect, NSUInteger styleMask, NSBackingStoreType backing,
                                  BOOL defer) override;
    BOOL acceptsFirstMouse(NSEvent* event) const { return YES; }
    void mouseDown(NSEvent* event) override;
    void NSAlphaWindow_initSubclass() override {}
};
