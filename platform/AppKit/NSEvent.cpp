#include "AppKit/NSEvent.h"

#include "AppKit/NSWindow.h"

#include <chrono>

namespace {
double secondsSinceStart()
{
    static const auto start = std::chrono::steady_clock::now();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}
} // namespace

OBJC_IMPLEMENTATION(NSEvent, NSObject) {}
OBJC_IMPLEMENTATION(NSResponder, NSObject) {}

NSEvent::NSEvent() : m_timestamp(secondsSinceStart()) {}

NSEvent* NSEvent::mouseEventWithType(NSEventType type, NSPoint screenLocation, NSUInteger modifierFlags,
                                     NSWindow* window, NSInteger clickCount)
{
    auto* event = new NSEvent();
    event->m_type = type;
    event->m_screenLocation = screenLocation;
    event->m_modifierFlags = modifierFlags;
    event->m_window = window;
    event->m_clickCount = clickCount;
    return static_cast<NSEvent*>(event->autorelease());
}

NSEvent* NSEvent::keyEventWithType(NSEventType type, NSUInteger modifierFlags, NSWindow* window, NSString* characters,
                                   unsigned short keyCode)
{
    auto* event = new NSEvent();
    event->m_type = type;
    event->m_modifierFlags = modifierFlags;
    event->m_window = window;
    event->m_characters = characters ? characters : NSString::string();
    event->m_keyCode = keyCode;
    return static_cast<NSEvent*>(event->autorelease());
}

NSPoint NSEvent::locationInWindow() const
{
    return m_window ? m_window->convertScreenToBase(m_screenLocation) : m_screenLocation;
}

NSString* NSEvent::description() const
{
    const NSPoint location = locationInWindow();
    return NSString::stringWithFormat("NSEvent: type=%lu loc=(%g,%g) flags=0x%lx win=%p clickCount=%ld", m_type,
                                      location.x, location.y, m_modifierFlags, static_cast<const void*>(m_window),
                                      m_clickCount);
}
