#include "CocoaGraphics/PDFSkinWindow.h"

#include "AppKit/NSNib.h"
#include "CocoaGraphics/PDFSkinView.h"
#include "UICocoaMouseKeys/NSWindow_MouseMoveSize.h"
#include "VerifyInMethod.h"

OBJC_IMPLEMENTATION(PDFSkinWindow, NSAlphaWindowWithShadow) {}
OBJC_IMPLEMENTATION(PDFSkinAboutBox, PDFSkinWindow) {}
NSNIB_WINDOW_CLASS(PDFSkinWindow)
NSNIB_WINDOW_CLASS(PDFSkinAboutBox)

bool import_PDFSkinWindow()
{
    return VERIFY(import_PDFSkinView());
}

NSWindow* PDFSkinWindow::initWithContentRect(NSRect contentRect, NSUInteger styleMask, NSBackingStoreType backing,
                                             BOOL defer)
{
    NSWindow* result = NSAlphaWindowWithShadow::initWithContentRect(contentRect, styleMask, backing, defer);
    VERIFY_IN("-[PDFSkinWindow initWithContentRect:styleMask:backing:defer:]", import_category_NSWindow_MouseMoveSize(),
              " code : import_category_NSWindow_MouseMoveSize()");
    return result;
}

void PDFSkinWindow::mouseDown(NSEvent* event) { windowMouseMoveSize_StandardBehaviour(event); }

void PDFSkinAboutBox::windowMouseMoveSize_SingleClick() { orderOut(this); }
