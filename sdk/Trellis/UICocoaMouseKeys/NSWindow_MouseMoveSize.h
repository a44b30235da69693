// Moving any window by dragging anywhere in it and resizing it by a corner,
// on the mouse capture loop. A window's press handler calls
// windowMouseMoveSize_StandardBehaviour (bottom-right corner resizes, the top
// edge held at or below the main screen's top while moving) or
// windowMouseMoveSize_FromHitRegion (the region the caller gives, no screen
// limit). The NSWindow members are declared with the class.
#pragma once

#include "AppKit/NSWindow.h"
#include "UICocoaMouseKeys/protocol_MouseCapture.h"

#include <cstdint>

// The corner square of the content that a press falls in.
enum NSWindow_HitTest : int32_t {
    kNSWindow_HitTest_None = 0,
    kNSWindow_HitTest_TopLeft = 1,
    kNSWindow_HitTest_TopRight = 2,
    kNSWindow_HitTest_BottomLeft = 3,
    kNSWindow_HitTest_BottomRight = 4,
};

// The operation chosen at the press. Note that the bottom-left region maps to
// operation 5 and the bottom-right one to 4.
enum : int32_t {
    kNSWindow_Operation_None = 0,
    kNSWindow_Operation_Move = 1,
    kNSWindow_Operation_SizeFromTopLeft = 2,
    kNSWindow_Operation_SizeFromTopRight = 3,
    kNSWindow_Operation_SizeFromBottomRight = 4,
    kNSWindow_Operation_SizeFromBottomLeft = 5,
};

// One press's tracking record: the capture record's fields first.
struct NSWindow_MouseMoveSize : self_MouseCapture {
    NSWindow_HitTest hitRegion;
    NSPoint dragOffset;     // for a move: the press location minus the frame's origin at the press
    NSRect startFrame;      // the frame at the press
    int32_t operation;
    BOOL noScreenClamp;     // YES: a move is not held below the main screen's top

    NSWindow_MouseMoveSize(NSEvent* event, NSWindow_HitTest region)
    {
        self_MouseCapture_Construct(this, event);
        downLocation = NSZeroPoint;
        dragOffset = NSZeroPoint;
        startFrame = NSZeroRect;
        operation = kNSWindow_Operation_None;
        hitRegion = region;
        noScreenClamp = NO;
    }

    // The pointer's motion since the press, y positive downward.
    NSPoint MouseMoveDelta() const { return NSMakePoint(location.x - downLocation.x, downLocation.y - location.y); }
};

// The module's anchor: checks the capture loop's.
bool import_category_NSWindow_MouseMoveSize();
