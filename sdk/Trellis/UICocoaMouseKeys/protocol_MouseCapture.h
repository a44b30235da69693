// The mouse capture loop: a private, modal event loop that a window or a view
// runs from its handler of a left-button press. It follows the pointer until
// the button is released and reports through callbacks sent to the object
// that runs it -- begin, then moves and idles, then up and end -- each with
// the capture record.
//
// The loop itself is NSObject::protocol_MouseCaptureEventLoop; the callbacks
// are NSObject's virtual mouseCapture... members, which do nothing unless a
// window or view overrides them.
#pragma once

#include "AppKit/NSEvent.h"
#include "Foundation/NSGeometry.h"

// One capture. Larger records start with these fields in this order.
struct self_MouseCapture {
    BOOL shiftTracking;          // Shift was down at the press: no moves, locations sampled when idle
    BOOL isIdle;                 // only during an idle callback without Shift tracking
    NSPoint downLocation;        // where the press was
    NSPoint location;            // the location of the event taken last
    NSPoint shiftDownLocation;   // the press location, when Shift tracking started
    NSPoint shiftIdleLocation;   // the latest location at an idle moment, with Shift tracking
    NSEvent* event;              // the event being handled; nil during idle callbacks; not owned
};

// Prepares a record for a press: `event` is the press, the flags NO, the
// locations (0, 0) except downLocation, which the loop sets.
void self_MouseCapture_Construct(self_MouseCapture* capture, NSEvent* event);

// The module's anchor.
bool import_protocol_MouseCapture();
