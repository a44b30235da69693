// A skinned window: see-through, with a shadow, able to become key, moved by
// dragging anywhere and resized from its bottom-right corner. The about box
// hides itself when clicked without dragging.
#pragma once

#include "UICocoaWindows/NSAlphaWindow.h"

class PDFSkinWindow : public NSAlphaWindowWithShadow {
    OBJC_CLASS(PDFSkinWindow, NSAlphaWindowWithShadow)
public:
    NSWindow* initWithContentRect(NSRect contentRect, NSUInteger styleMask, NSBackingStoreType backing,
                                  BOOL defer) override;
    BOOL canBecomeKeyWindow() const override { return YES; }
    void mouseDown(NSEvent* event) override;
};

class PDFSkinAboutBox : public PDFSkinWindow {
    OBJC_CLASS(PDFSkinAboutBox, PDFSkinWindow)
public:
    void windowMouseMoveSize_SingleClick() override;
};

// The module's anchor: checks the skin view's.
bool import_PDFSkinWindow();
