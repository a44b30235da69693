#include "AppKit/NSWindow.h"

#include "AppKit/NSApplication.h"
#include "AppKit/NSGraphics.h"
#include "AppKit/NSNib.h"
#include "AppKit/NSView.h"
#include "AppKit/WindowSystem.h"
#include "Foundation/NSValue.h"

#include <QApplication>
#include <QScreen>
#include <QWindow>

#include <climits>

OBJC_IMPLEMENTATION(NSWindow, NSResponder)
{
    cls.property("title", &NSWindow::title);
    cls.property("isVisible", &NSWindow::isVisible);
    cls.property("isKeyWindow", &NSWindow::isKeyWindow);
    cls.action("makeKeyAndOrderFront", &NSWindow::makeKeyAndOrderFront);
    cls.action("orderFront", &NSWindow::orderFront);
    cls.action("orderOut", &NSWindow::orderOut);
    cls.action("performClose", &NSWindow::performClose);
}
OBJC_IMPLEMENTATION(NSPanel, NSWindow) {}
NSNIB_WINDOW_CLASS(NSWindow)
NSNIB_WINDOW_CLASS(NSPanel)
OBJC_IMPLEMENTATION(NSScreen, NSObject) {}

CGWindowLevel CGWindowLevelForKey(CGWindowLevelKey key)
{
    constexpr CGWindowLevel minimum = INT32_MIN + 1;
    constexpr CGWindowLevel maximum = INT32_MAX - 16;
    switch (key) {
    case kCGBaseWindowLevelKey: return INT32_MIN;
    case kCGMinimumWindowLevelKey: return minimum;
    case kCGDesktopWindowLevelKey: return minimum + 20;
    case kCGBackstopMenuLevelKey: return -20;
    case kCGNormalWindowLevelKey: return 0;
    case kCGFloatingWindowLevelKey: return 3;
    case kCGTornOffMenuWindowLevelKey: return 3;
    case kCGDockWindowLevelKey: return 20;
    case kCGMainMenuWindowLevelKey: return 24;
    case kCGStatusWindowLevelKey: return 25;
    case kCGModalPanelWindowLevelKey: return 8;
    case kCGPopUpMenuWindowLevelKey: return 101;
    case kCGDraggingWindowLevelKey: return 500;
    case kCGScreenSaverWindowLevelKey: return 1000;
    case kCGMaximumWindowLevelKey: return maximum;
    case kCGOverlayWindowLevelKey: return 102;
    case kCGHelpWindowLevelKey: return 200;
    case kCGUtilityWindowLevelKey: return 19;
    case kCGDesktopIconWindowLevelKey: return minimum + 40;
    case kCGCursorWindowLevelKey: return maximum - 1;
    case kCGAssistiveTechHighWindowLevelKey: return 1500;
    default: return 0;
    }
}

NSWindow::NSWindow() = default;

NSWindow::~NSWindow()
{
    if (NSApp)
        NSApp->windowWillDealloc(this);
    if (m_contentView) {
        m_contentView->setNextResponder(nullptr);
        m_contentView->viewDidMoveToWindow(nullptr);
        if (NSViewHost* view = m_contentView->host())
            view->widget->setParent(nullptr);
    }
}

NSWindow* NSWindow::initWithContentRect(NSRect contentRect, NSUInteger styleMask, NSBackingStoreType backing, BOOL defer)
{
    if (!WindowSystem::isAvailable() || !NSApp) {
        release();
        return nil;
    }
    m_frame = contentRect;
    m_styleMask = styleMask;
    m_backing = backing;
    m_backgroundColor = NSColor::windowBackgroundColor();
    NSApp->windowDidCreate(this);
    setContentView(Retained<NSView>::adopt(NSView::alloc()->initWithFrame(NSMakeRect(0, 0, contentRect.size.width,
                                                                                       contentRect.size.height))));
    if (!defer)
        createHost();
    return this;
}

void NSWindow::createHost()
{
    if (m_host)
        return;
    m_host = std::make_unique<NSWindowHost>(this);
    m_deferred = NO;
    if (m_contentView && m_contentView->host()) {
        m_contentView->host()->widget->setParent(m_host->widget);
        m_host->layoutContent();
        m_contentView->host()->widget->show();
    }
}

void NSWindow::placeHost()
{
    if (m_host)
        m_host->widget->setGeometry(WindowSystem::toQt(m_frame));
}

void NSWindow::setFrameOrigin(NSPoint origin) { setFrame({origin, m_frame.size}, YES, NO); }

void NSWindow::setFrame(NSRect frame, BOOL display, BOOL animate)
{
    const bool resized = !NSEqualSizes(frame.size, m_frame.size);
    m_frame = frame;
    placeHost();
    if (resized && m_host)
        m_host->layoutContent();
    else if (resized && m_contentView)
        m_contentView->setFrame(NSMakeRect(0, 0, frame.size.width, frame.size.height));
    if (m_host && display)
        m_host->widget->update();
    if (m_host && resized)
        m_host->scheduleShapeUpdate();
}

void NSWindow::rightMouseDown(NSEvent* event)
{
    // A window without a menu bar offers the menu here.
    if (NSApp && (!m_host || !m_host->menuBar))
        WindowSystem::popUpMenu(NSApp->mainMenu(), event->screenLocation());
}

void NSWindow::setContentView(NSView* view)
{
    if (view == m_contentView)
        return;
    if (m_contentView) {
        m_contentView->setNextResponder(nullptr);
        m_contentView->viewDidMoveToWindow(nullptr);
        if (NSViewHost* old = m_contentView->host())
            old->widget->setParent(nullptr);
    }
    m_contentView = view;
    if (!view)
        return;
    view->removeFromSuperview();
    view->setNextResponder(this);
    view->viewDidMoveToWindow(this);
    if (m_host && view->host()) {
        view->host()->widget->setParent(m_host->widget);
        m_host->layoutContent();
        view->host()->widget->show();
    } else {
        view->setFrame(NSMakeRect(0, 0, m_frame.size.width, m_frame.size.height));
    }
}

void NSWindow::setTitle(NSString* title)
{
    m_title = Retained<NSString>::adopt(title ? static_cast<NSString*>(title->copy()) : nullptr);
    if (m_host)
        m_host->widget->setWindowTitle(title ? QString::fromStdString(title->utf8()) : QString());
}

void NSWindow::orderFront(id sender)
{
    createHost();
    m_visible = YES;
    m_host->makeNative();
    m_host->widget->show();
    if (WindowSystem::hasWindowManagement())
        m_host->widget->raise();
    m_host->scheduleShapeUpdate();
}

void NSWindow::orderOut(id sender)
{
    m_visible = NO;
    if (m_host)
        m_host->widget->hide();
    if (NSApp && NSApp->keyWindow() == this)
        NSApp->setKeyWindow(nullptr);
}

void NSWindow::makeKeyAndOrderFront(id sender)
{
    orderFront(sender);
    makeKeyWindow();
}

void NSWindow::makeKeyWindow()
{
    if (!canBecomeKeyWindow() || !NSApp)
        return;
    NSApp->setKeyWindow(this);
    // Without a window manager nothing else gives the window the keyboard.
    if (m_host && m_host->widget->isVisible())
        m_host->widget->activateWindow();
}

BOOL NSWindow::isKeyWindow() const { return NSApp && NSApp->keyWindow() == this; }

void NSWindow::close()
{
    Retained<NSWindow> keep(this);
    windowWillClose();
    if (m_delegate)
        m_delegate->windowWillClose(this);
    orderOut(nil);
}

void NSWindow::setBackgroundColor(NSColor* color)
{
    m_backgroundColor = color;
    if (m_host)
        m_host->widget->update();
}

void NSWindow::setLevel(NSInteger level)
{
    m_level = level;
    if (m_host && m_host->widget->windowHandle())
        m_host->widget->windowHandle()->setFlag(Qt::WindowStaysOnTopHint, level > 0);
    else if (m_host)
        m_host->widget->setWindowFlag(Qt::WindowStaysOnTopHint, level > 0);
}

void NSWindow::setAlphaValue(float alpha)
{
    m_alphaValue = alpha;
    if (m_host)
        m_host->widget->setWindowOpacity(alpha);
}

void NSWindow::setOpaque(BOOL opaque)
{
    if (opaque == m_opaque)
        return;
    m_opaque = opaque;
    if (!m_host)
        return;
    if (!m_host->widget->windowHandle()) {
        m_host->widget->setAttribute(Qt::WA_TranslucentBackground, !opaque);
        m_host->widget->setAttribute(Qt::WA_NoSystemBackground, !opaque);
        return;
    }
    // A window's translucency is chosen when the window system's window is
    // made: make it again.
    const bool wasVisible = m_visible;
    const bool wasKey = isKeyWindow();
    if (m_contentView && m_contentView->host())
        m_contentView->host()->widget->setParent(nullptr);
    m_host.reset();
    createHost();
    if (wasVisible)
        wasKey ? makeKeyAndOrderFront(nil) : orderFront(nil);
}

void NSWindow::setHasShadow(BOOL shadow)
{
    m_hasShadow = shadow;
    if (m_host && m_host->widget->windowHandle())
        m_host->widget->windowHandle()->setFlag(Qt::NoDropShadowWindowHint, !shadow);
    else if (m_host)
        m_host->widget->setWindowFlag(Qt::NoDropShadowWindowHint, !shadow);
}

void NSWindow::invalidateShadow()
{
    if (m_host)
        m_host->scheduleShapeUpdate();
}

void NSWindow::display()
{
    if (m_host && m_host->widget->isVisible())
        m_host->widget->repaint();
}

NSPoint NSWindow::convertBaseToScreen(NSPoint point) const
{
    return NSMakePoint(point.x + m_frame.origin.x, point.y + m_frame.origin.y);
}

NSPoint NSWindow::convertScreenToBase(NSPoint point) const
{
    return NSMakePoint(point.x - m_frame.origin.x, point.y - m_frame.origin.y);
}

NSEvent* NSWindow::nextEventMatchingMask(NSUInteger mask)
{
    return NSApp ? NSApp->nextEventMatchingMask(mask, NSDate::distantFuture(), NSEventTrackingRunLoopMode, YES, this)
                 : nil;
}

NSEvent* NSWindow::nextEventMatchingMask(NSUInteger mask, NSDate* expiration, NSString* mode, BOOL dequeue)
{
    return NSApp ? NSApp->nextEventMatchingMask(mask, expiration, mode, dequeue, this) : nil;
}

BOOL NSWindow::makeFirstResponder(NSResponder* responder)
{
    m_firstResponder = responder;
    return YES;
}

namespace {
bool isNative(const NSView* view) { return view && view->host() && view->host()->isNative; }
} // namespace

void NSWindow::sendEvent(NSEvent* event)
{
    Retained<NSWindow> keep(this);
    switch (event->type()) {
    case NSLeftMouseDown:
    case NSRightMouseDown:
    case NSOtherMouseDown: {
        NSView* view = m_contentView ? m_contentView->hitTest(event->locationInWindow()) : nullptr;
        // Outside every view: the window's own Qt widgets (its menu bar).
        m_mouseDownNative = !view && m_host && m_host->hasNativeChildAt(event->locationInWindow());
        if (m_mouseDownNative) {
            WindowSystem::deliverNatively(event);
            return;
        }
        const bool wasKey = isKeyWindow();
        if (!wasKey && canBecomeKeyWindow()) {
            makeKeyWindow();
            if (m_host && WindowSystem::hasWindowManagement())
                m_host->widget->raise();
        }
        if (view && view->acceptsFirstResponder())
            makeFirstResponder(view);
        // A click that makes the window key is only that, unless the view
        // wants it as well.
        if (!wasKey && canBecomeKeyWindow() && !(view && view->acceptsFirstMouse(event)) && !isNative(view))
            return;
        m_mouseDownView = view;
        if (isNative(view)) {
            WindowSystem::deliverNatively(event);
            return;
        }
        NSResponder* target = view ? static_cast<NSResponder*>(view) : this;
        if (event->type() == NSLeftMouseDown)
            target->mouseDown(event);
        else if (event->type() == NSRightMouseDown)
            target->rightMouseDown(event);
        return;
    }
    case NSLeftMouseDragged:
    case NSRightMouseDragged:
    case NSOtherMouseDragged:
    case NSLeftMouseUp:
    case NSRightMouseUp:
    case NSOtherMouseUp: {
        Retained<NSView> view = m_mouseDownView;
        const bool up = event->type() == NSLeftMouseUp || event->type() == NSRightMouseUp || event->type() == NSOtherMouseUp;
        const bool native = m_mouseDownNative;
        if (up) {
            m_mouseDownView = nullptr;
            m_mouseDownNative = false;
        }
        if (native || isNative(view)) {
            WindowSystem::deliverNatively(event);
            return;
        }
        NSResponder* target = view ? static_cast<NSResponder*>(view.get()) : this;
        if (event->type() == NSLeftMouseDragged)
            target->mouseDragged(event);
        else if (event->type() == NSLeftMouseUp)
            target->mouseUp(event);
        else if (event->type() == NSRightMouseUp)
            target->rightMouseUp(event);
        return;
    }
    case NSMouseMoved:
        if (isNative(m_contentView ? m_contentView->hitTest(event->locationInWindow()) : nullptr) ||
            (m_host && m_host->hasNativeChildAt(event->locationInWindow())))
            WindowSystem::deliverNatively(event);
        return;
    case NSKeyDown:
    case NSKeyUp: {
        // A focused control of the window system takes keys its own way.
        if (m_host && m_host->hasNativeFocus()) {
            WindowSystem::deliverNatively(event);
            return;
        }
        NSResponder* target = m_firstResponder ? m_firstResponder : this;
        if (event->type() == NSKeyDown)
            target->keyDown(event);
        else
            target->keyUp(event);
        return;
    }
    default:
        return;
    }
}

NSScreen* NSScreen::mainScreen()
{
    if (!WindowSystem::isAvailable() || !QGuiApplication::primaryScreen())
        return nil;
    static NSScreen* const screen = [] {
        auto* s = new NSScreen();
        s->makeImmortal();
        return s;
    }();
    screen->m_frame = WindowSystem::fromQt(QGuiApplication::primaryScreen()->geometry());
    return screen;
}
