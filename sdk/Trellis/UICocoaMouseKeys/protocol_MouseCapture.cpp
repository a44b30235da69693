#include "UICocoaMouseKeys/protocol_MouseCapture.h"

#include "AppKit/NSApplication.h"
#include "AppKit/NSView.h"
#include "AppKit/NSWindow.h"
#include "Foundation/NSValue.h"

namespace {
// The release of the left button and a drag with it held.
constexpr NSUInteger kCaptureEventMask = NSLeftMouseUpMask | NSLeftMouseDraggedMask;
} // namespace

bool import_protocol_MouseCapture() { return true; }

void self_MouseCapture_Construct(self_MouseCapture* capture, NSEvent* event)
{
    capture->event = event;
    capture->shiftTracking = NO;
    capture->isIdle = NO;
    capture->location = NSZeroPoint;
    capture->shiftDownLocation = NSZeroPoint;
    capture->shiftIdleLocation = NSZeroPoint;
}

NSPoint NSWindow::mouseCaptureScreenLocation(NSEvent* event)
{
    return convertBaseToScreen(event->locationInWindow());
}

NSPoint NSView::mouseCaptureWindowLocation(NSEvent* event)
{
    return convertPoint(event->locationInWindow(), nullptr);
}

NSPoint NSObject::mouseCaptureLocation(self_MouseCapture* capture)
{
    if (!capture->event)
        return NSZeroPoint;
    if (auto* window = dynamic_cast<NSWindow*>(this))
        return window->mouseCaptureScreenLocation(capture->event);
    if (auto* view = dynamic_cast<NSView*>(this))
        return view->mouseCaptureWindowLocation(capture->event);
    // Anything else has no place to measure from.
    return NSZeroPoint;
}

void NSObject::protocol_MouseCaptureEventLoop(self_MouseCapture* capture)
{
    capture->downLocation = capture->location = mouseCaptureLocation(capture);

    NSWindow* eventWindow = nullptr;
    if (auto* window = dynamic_cast<NSWindow*>(this))
        eventWindow = window;
    else if (auto* view = dynamic_cast<NSView*>(this))
        eventWindow = view->window();
    if (!eventWindow)
        return;
    Retained<NSWindow> keepWindow(eventWindow);
    Retained<NSObject> keepSelf(this);

    if (capture->event && (capture->event->modifierFlags() & NSShiftKeyMask)) {
        capture->shiftTracking = YES;
        capture->shiftDownLocation = capture->shiftIdleLocation = capture->location;
    } else {
        capture->shiftTracking = NO;
    }

    mouseCaptureBegin(capture);
    for (;;) {
        // A burst: wait for the first event, then take what is queued
        // without waiting until the queue runs dry.
        bool waiting = true;
        for (;;) {
            capture->isIdle = NO;
            // The events live in this burst's pool until the next burst.
            capture->event = waiting ? eventWindow->nextEventMatchingMask(kCaptureEventMask)
                                     : eventWindow->nextEventMatchingMask(kCaptureEventMask, NSDate::distantPast(),
                                                                          NSDefaultRunLoopMode, YES);
            waiting = false;
            if (!capture->event)
                break;
            capture->location = mouseCaptureLocation(capture);
            if (!capture->shiftTracking)
                mouseCaptureMove(capture);
            if (capture->event->type() == NSLeftMouseUp) {
                mouseCaptureUp(capture);
                capture->shiftTracking = NO;
                mouseCaptureEnd(capture);
                return;
            }
        }
        // The queue has run dry.
        if (capture->shiftTracking)
            capture->shiftIdleLocation = capture->location;
        else
            capture->isIdle = YES;
        mouseCaptureIdle(capture);
    }
}
