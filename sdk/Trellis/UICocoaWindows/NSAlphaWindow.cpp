#include "UICocoaWindows/NSAlphaWindow.h"

#include "AppKit/NSGraphics.h"
#include "AppKit/NSNib.h"
#include "UICocoaMouseKeys/NSWindow_MouseMoveSize.h"
#include "VerifyInMethod.h"

OBJC_IMPLEMENTATION(NSAlphaWindowWithShadow, NSWindow) {}
OBJC_IMPLEMENTATION(NSAlphaWindowWithoutShadow, NSWindow) {}
OBJC_IMPLEMENTATION(NSAlphaPanelWithShadow, NSPanel) {}
OBJC_IMPLEMENTATION(NSAlphaPanelWithoutShadow, NSPanel) {}
NSNIB_WINDOW_CLASS(NSAlphaWindowWithShadow)
NSNIB_WINDOW_CLASS(NSAlphaWindowWithoutShadow)
NSNIB_WINDOW_CLASS(NSAlphaPanelWithShadow)
NSNIB_WINDOW_CLASS(NSAlphaPanelWithoutShadow)

// ---- NSWindow(NSUIAlphaWindow)

void NSWindow::NSAlphaWindow_setProperties(BOOL shadow)
{
    setBackgroundColor(NSColor::clearColor());
    setLevel(CGWindowLevelForKey(kCGNormalWindowLevelKey));
    setAlphaValue(1.0f);
    setOpaque(NO);
    setHasShadow(shadow);
    NSAlphaWindow_initSubclass();
}

namespace {

#define INIT_METHOD(Class) "-[" #Class " initWithContentRect:styleMask:backing:defer:]"

// The common steps: the base window made borderless, buffered and at once,
// whatever was asked, then the alpha set-up.
template <class Base>
NSWindow* initAlpha(Base* window, NSRect contentRect, BOOL shadow, const char* method)
{
    NSWindow* result = window->Base::initWithContentRect(contentRect, NSBorderlessWindowMask, NSBackingStoreBuffered, NO);
    if (result)
        result->NSAlphaWindow_setProperties(shadow);
    else
        VERIFY_IN(method, false, "result");
    return result;
}

void checkMoveSizeAnchor(const char* method)
{
    VERIFY_IN(method, import_category_NSWindow_MouseMoveSize(), " code : import_category_NSWindow_MouseMoveSize()");
}

} // namespace

NSWindow* NSAlphaWindowWithShadow::initWithContentRect(NSRect contentRect, NSUInteger, NSBackingStoreType, BOOL)
{
    return initAlpha<NSWindow>(this, contentRect, YES, INIT_METHOD(NSAlphaWindowWithShadow));
}

NSWindow* NSAlphaWindowWithoutShadow::initWithContentRect(NSRect contentRect, NSUInteger, NSBackingStoreType, BOOL)
{
    return initAlpha<NSWindow>(this, contentRect, NO, INIT_METHOD(NSAlphaWindowWithoutShadow));
}

NSWindow* NSAlphaPanelWithShadow::initWithContentRect(NSRect contentRect, NSUInteger, NSBackingStoreType, BOOL)
{
    checkMoveSizeAnchor(INIT_METHOD(NSAlphaPanelWithShadow));
    return initAlpha<NSPanel>(this, contentRect, YES, INIT_METHOD(NSAlphaPanelWithShadow));
}

NSWindow* NSAlphaPanelWithoutShadow::initWithContentRect(NSRect contentRect, NSUInteger, NSBackingStoreType, BOOL)
{
    checkMoveSizeAnchor(INIT_METHOD(NSAlphaPanelWithoutShadow));
    return initAlpha<NSPanel>(this, contentRect, NO, INIT_METHOD(NSAlphaPanelWithoutShadow));
}

namespace {
// A press anywhere moves a panel, corners included, without the screen
// limit. The corner is worked out and not used: a panel is moved, not sized.
void panelMouseDown(NSWindow* panel, NSEvent* event)
{
    (void)panel->windowMouseMoveSize_MouseHitTest(event, NSMakeSize(32.0f, 32.0f));
    panel->windowMouseMoveSize_FromHitRegion(event, kNSWindow_HitTest_None);
}
} // namespace

void NSAlphaPanelWithShadow::mouseDown(NSEvent* event) { panelMouseDown(this, event); }
void NSAlphaPanelWithoutShadow::mouseDown(NSEvent* event) { panelMouseDown(this, event); }
