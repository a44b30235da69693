// Windows and panels. A window's frame is in screen coordinates with y
// growing upward from the bottom of the main screen and the origin at the
// window's bottom-left corner; the window system's own (top-left, y downward)
// coordinates never show above this layer. The frame is the content area:
// a window manager's decorations lie outside it.
#pragma once

#include "AppKit/NSResponder.h"

#include <cstdint>
#include <memory>

class NSColor;
class NSDate;
class NSView;
struct NSWindowHost;
struct NSWindow_MouseMoveSize;
enum NSWindow_HitTest : int32_t;

enum : NSUInteger {
    NSBorderlessWindowMask = 0,
    NSTitledWindowMask = 1 << 0,
    NSClosableWindowMask = 1 << 1,
    NSMiniaturizableWindowMask = 1 << 2,
    NSResizableWindowMask = 1 << 3,
    NSUtilityWindowMask = 1 << 4,
};

typedef NSUInteger NSBackingStoreType;
enum : NSBackingStoreType {
    NSBackingStoreRetained = 0,
    NSBackingStoreNonretained = 1,
    NSBackingStoreBuffered = 2,
};

// Window levels and the keys that name them.
typedef int32_t CGWindowLevel;
typedef int32_t CGWindowLevelKey;
enum : CGWindowLevelKey {
    kCGBaseWindowLevelKey = 0,
    kCGMinimumWindowLevelKey = 1,
    kCGDesktopWindowLevelKey = 2,
    kCGBackstopMenuLevelKey = 3,
    kCGNormalWindowLevelKey = 4,
    kCGFloatingWindowLevelKey = 5,
    kCGTornOffMenuWindowLevelKey = 6,
    kCGDockWindowLevelKey = 7,
    kCGMainMenuWindowLevelKey = 8,
    kCGStatusWindowLevelKey = 9,
    kCGModalPanelWindowLevelKey = 10,
    kCGPopUpMenuWindowLevelKey = 11,
    kCGDraggingWindowLevelKey = 12,
    kCGScreenSaverWindowLevelKey = 13,
    kCGMaximumWindowLevelKey = 14,
    kCGOverlayWindowLevelKey = 15,
    kCGHelpWindowLevelKey = 16,
    kCGUtilityWindowLevelKey = 17,
    kCGDesktopIconWindowLevelKey = 18,
    kCGCursorWindowLevelKey = 19,
    kCGAssistiveTechHighWindowLevelKey = 20,
};
CGWindowLevel CGWindowLevelForKey(CGWindowLevelKey key);
enum : NSInteger { NSNormalWindowLevel = 0, NSFloatingWindowLevel = 3 };

// What a window tells the object that follows it.
class NSWindowDelegate {
public:
    virtual ~NSWindowDelegate() = default;
    virtual void windowWillClose(NSWindow* window) {}
};

class NSWindow : public NSResponder {
    OBJC_CLASS(NSWindow, NSResponder)
public:
    NSWindow();

    // Makes the window with its content area at `contentRect`. With `defer`
    // NO the window system's window is made at once; with YES when the
    // window is first shown. nil (the receiver released) when the program
    // has no window system.
    virtual NSWindow* initWithContentRect(NSRect contentRect, NSUInteger styleMask, NSBackingStoreType backing,
                                          BOOL defer);

    NSRect frame() const { return m_frame; }
    void setFrameOrigin(NSPoint origin);
    void setFrame(NSRect frame, BOOL display, BOOL animate = NO);
    NSSize minSize() const { return m_minSize; }
    void setMinSize(NSSize size) { m_minSize = size; }
    NSSize maxSize() const { return m_maxSize; }
    void setMaxSize(NSSize size) { m_maxSize = size; }

    NSView* contentView() const { return m_contentView; }
    void setContentView(NSView* view);
    NSString* title() const { return m_title; }
    void setTitle(NSString* title);

    void orderFront(id sender);
    void orderOut(id sender);
    void makeKeyAndOrderFront(id sender);
    void makeKeyWindow();
    BOOL isVisible() const { return m_visible; }
    BOOL isKeyWindow() const;
    // Borderless windows don't become key unless a subclass says so;
    // titled ones do.
    virtual BOOL canBecomeKeyWindow() const { return (m_styleMask & NSTitledWindowMask) != 0; }
    // Hides the window and forgets it as the key window. A closed window can
    // be shown again.
    void close();
    // The window's close button: closes it.
    void performClose(id sender) { close(); }
    // Sent when the window closes (its close button, or close), before it
    // hides; the delegate is told after the window itself.
    virtual void windowWillClose() {}
    NSWindowDelegate* delegate() const { return m_delegate; }
    void setDelegate(NSWindowDelegate* delegate) { m_delegate = delegate; }   // not retained

    NSUInteger styleMask() const { return m_styleMask; }
    NSBackingStoreType backingType() const { return m_backing; }
    // NO once the window system's window exists.
    BOOL isDeferred() const { return m_deferred; }
    NSColor* backgroundColor() const { return m_backgroundColor; }
    void setBackgroundColor(NSColor* color);
    NSInteger level() const { return m_level; }
    void setLevel(NSInteger level);
    float alphaValue() const { return m_alphaValue; }
    void setAlphaValue(float alpha);
    BOOL isOpaque() const { return m_opaque; }
    void setOpaque(BOOL opaque);
    BOOL hasShadow() const { return m_hasShadow; }
    void setHasShadow(BOOL shadow);
    // The shape of a non-opaque window follows what its views drew: this
    // asks for it (and the shadow, where the window system draws one) to be
    // worked out again after the next drawing.
    void invalidateShadow();
    void display();

    // Window base coordinates (bottom-left of the content, y upward) to and
    // from screen coordinates, with the window's current frame.
    NSPoint convertBaseToScreen(NSPoint point) const;
    NSPoint convertScreenToBase(NSPoint point) const;

    // The next queued event of this window whose type is in `mask`: the
    // first form waits as long as it takes; the second as long as
    // `expiration` says (distantPast: not at all).
    NSEvent* nextEventMatchingMask(NSUInteger mask);
    NSEvent* nextEventMatchingMask(NSUInteger mask, NSDate* expiration, NSString* mode, BOOL dequeue);
    // Delivers an event: presses to the view under the pointer (making the
    // window key first when it can become key), drags and releases to the
    // view that took the press, keys to the first responder.
    virtual void sendEvent(NSEvent* event);
    void rightMouseDown(NSEvent* event) override;
    NSResponder* firstResponder() const { return m_firstResponder; }
    BOOL makeFirstResponder(NSResponder* responder);

    // NSWindow(MouseMoveSize), defined with the UI library's window chrome:
    // move by dragging anywhere, resize by a corner.
    void windowMouseMoveSize_StandardBehaviour(NSEvent* event);
    void windowMouseMoveSize_FromHitRegion(NSEvent* event, NSWindow_HitTest region);
    NSWindow_HitTest windowMouseMoveSize_MouseHitTest(NSEvent* event, NSSize cornerSize);
    virtual void windowMouseMoveSize_SingleClick() {}
    virtual void windowMouseMoveSize_OnDragMoved() {}
    virtual NSSize windowMouseMoveSize_ConstrainAspectRatio(NSSize size) { return size; }

    // NSWindow(NSWindow_MouseMoveSize): the steps of a move or resize.
    void windowMouseDownBegin(NSWindow_MouseMoveSize* tracking);
    void windowMouseMove(NSWindow_MouseMoveSize* tracking);
    void windowMouseUp(NSWindow_MouseMoveSize* tracking);
    void windowMouseMoveDragging(NSWindow_MouseMoveSize* tracking);
    void windowMouseSizeFromTopLeft(NSWindow_MouseMoveSize* tracking);
    void windowMouseSizeFromTopRight(NSWindow_MouseMoveSize* tracking);
    void windowMouseSizeFromBottomLeft(NSWindow_MouseMoveSize* tracking);
    void windowMouseSizeFromBottomRight(NSWindow_MouseMoveSize* tracking);
    void windowConstrainSize(NSWindow_MouseMoveSize* tracking, NSSize* inout_size);

    // NSWindow(protocol_MouseCapture): the event's location on the screen.
    NSPoint mouseCaptureScreenLocation(NSEvent* event);
    // NSWindow(protocol_MouseCapturePrivate): a capture run on a window
    // moves or resizes it; its record must be an NSWindow_MouseMoveSize.
    void mouseCaptureBegin(self_MouseCapture* capture) override;
    void mouseCaptureMove(self_MouseCapture* capture) override;
    void mouseCaptureUp(self_MouseCapture* capture) override;

    // NSWindow(NSUIAlphaWindow): the set-up of a borderless, see-through
    // window; the hook is its last step.
    void NSAlphaWindow_setProperties(BOOL shadow);
    virtual void NSAlphaWindow_initSubclass() {}

    // For the window-system layer.
    NSWindowHost* host() const { return m_host.get(); }

protected:
    ~NSWindow() override;

private:
    void createHost();
    void placeHost();
    friend struct NSWindowHost;

    std::unique_ptr<NSWindowHost> m_host;
    NSRect m_frame = NSZeroRect;
    NSSize m_minSize = {1, 1};
    NSSize m_maxSize = {16384, 16384};
    Retained<NSView> m_contentView;
    Retained<NSString> m_title;
    Retained<NSColor> m_backgroundColor;
    NSUInteger m_styleMask = 0;
    NSBackingStoreType m_backing = NSBackingStoreBuffered;
    BOOL m_deferred = YES;
    BOOL m_visible = NO;
    BOOL m_opaque = YES;
    BOOL m_hasShadow = YES;
    NSInteger m_level = 0;
    float m_alphaValue = 1;
    NSResponder* m_firstResponder = nullptr;   // not retained
    NSWindowDelegate* m_delegate = nullptr;    // not retained
    Retained<NSView> m_mouseDownView;          // the view that took the press, until the release
    bool m_mouseDownNative = false;            // the press went to the window's own Qt widgets
};

// A panel: a window for auxiliary content. Same behaviour here.
class NSPanel : public NSWindow {
    OBJC_CLASS(NSPanel, NSWindow)
};

class NSScreen : public NSObject {
    OBJC_CLASS(NSScreen, NSObject)
public:
    // The screen with the menu bar: the window system's primary screen.
    // nil without a window system.
    static NSScreen* mainScreen();
    // The whole screen, in screen coordinates.
    NSRect frame() const { return m_frame; }

private:
    NSRect m_frame = NSZeroRect;
};
