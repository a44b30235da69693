// Input events: mouse buttons, pointer motion and keys, as the application's
// event queue hands them out. An event keeps the pointer's position on the
// screen (bottom-left origin, y upward) at the moment it happened;
// locationInWindow converts it with its window's current frame, so a window
// that moves while its events wait in the queue still gets positions that
// convert back to the same screen point.
#pragma once

#include "Foundation/NSGeometry.h"
#include "Foundation/NSString.h"

#include <memory>

class NSWindow;
struct NSEventNative;

typedef NSUInteger NSEventType;
enum : NSEventType {
    NSLeftMouseDown = 1,
    NSLeftMouseUp = 2,
    NSRightMouseDown = 3,
    NSRightMouseUp = 4,
    NSMouseMoved = 5,
    NSLeftMouseDragged = 6,
    NSRightMouseDragged = 7,
    NSKeyDown = 10,
    NSKeyUp = 11,
    NSOtherMouseDown = 25,
    NSOtherMouseUp = 26,
    NSOtherMouseDragged = 27,
};

// Event masks: bit n stands for the event type n.
inline constexpr NSUInteger NSEventMaskFromType(NSEventType type) { return NSUInteger(1) << type; }
enum : NSUInteger {
    NSLeftMouseDownMask = NSUInteger(1) << NSLeftMouseDown,
    NSLeftMouseUpMask = NSUInteger(1) << NSLeftMouseUp,
    NSLeftMouseDraggedMask = NSUInteger(1) << NSLeftMouseDragged,
    NSMouseMovedMask = NSUInteger(1) << NSMouseMoved,
    NSKeyDownMask = NSUInteger(1) << NSKeyDown,
    NSKeyUpMask = NSUInteger(1) << NSKeyUp,
    NSAnyEventMask = ~NSUInteger(0),
};

// Modifier flags. On Linux the Control key is Control and the Super (Meta)
// key stands for Command.
enum : NSUInteger {
    NSAlphaShiftKeyMask = 1u << 16,
    NSShiftKeyMask = 1u << 17,
    NSControlKeyMask = 1u << 18,
    NSAlternateKeyMask = 1u << 19,
    NSCommandKeyMask = 1u << 20,
};

class NSEvent : public NSObject {
    OBJC_CLASS(NSEvent, NSObject)
public:
    NSEvent();

    // A mouse event at a point of the screen. The window does not retain
    // the event nor the event the window.
    static NSEvent* mouseEventWithType(NSEventType type, NSPoint screenLocation, NSUInteger modifierFlags,
                                       NSWindow* window, NSInteger clickCount);
    // A key event; `characters` is the text the key produced.
    static NSEvent* keyEventWithType(NSEventType type, NSUInteger modifierFlags, NSWindow* window,
                                     NSString* characters, unsigned short keyCode);

    NSEventType type() const { return m_type; }
    NSUInteger modifierFlags() const { return m_modifierFlags; }
    NSWindow* window() const { return m_window; }
    NSInteger clickCount() const { return m_clickCount; }
    // Seconds since the program started.
    double timestamp() const { return m_timestamp; }
    // The pointer in the window's base coordinates (bottom-left of its
    // content, y upward); the screen location when there is no window.
    NSPoint locationInWindow() const;
    NSPoint screenLocation() const { return m_screenLocation; }
    NSString* characters() const { return m_characters; }
    unsigned short keyCode() const { return m_keyCode; }

    NSString* description() const override;

    // The window system's own form of the event, kept so that a control of
    // the window system can be handed the event as it came.
    const std::shared_ptr<NSEventNative>& native() const { return m_native; }
    void setNative(std::shared_ptr<NSEventNative> native) { m_native = std::move(native); }
    void setWindow(NSWindow* window) { m_window = window; }

private:
    NSEventType m_type = 0;
    NSUInteger m_modifierFlags = 0;
    NSWindow* m_window = nullptr;
    NSInteger m_clickCount = 0;
    double m_timestamp = 0;
    NSPoint m_screenLocation = NSZeroPoint;
    Retained<NSString> m_characters;
    unsigned short m_keyCode = 0;
    std::shared_ptr<NSEventNative> m_native;
};
