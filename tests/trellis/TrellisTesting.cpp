#include "TrellisTesting.h"

#include "AppKit/NSView.h"

#include <QTimer>

void WindowTest::SetUp()
{
    ASSERT_NE(NSApplication::sharedApplication(), nullptr);
    // Nothing left over from an earlier test.
    while (NSApp->nextEventMatchingMask(NSAnyEventMask, nil, NSDefaultRunLoopMode, YES)) {
    }
}

NSEvent* WindowTest::queueMouse(NSWindow* window, NSEventType type, NSPoint screen, NSUInteger flags)
{
    NSEvent* event = NSEvent::mouseEventWithType(type, screen, flags, window, 1);
    NSApp->postEvent(event, NO);
    return event;
}

void WindowTest::later(int ms, std::function<void()> action) { QTimer::singleShot(ms, std::move(action)); }

NSRect WindowTest::screen() { return NSScreen::mainScreen()->frame(); }
