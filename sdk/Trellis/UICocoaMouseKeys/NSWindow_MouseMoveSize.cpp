#include "UICocoaMouseKeys/NSWindow_MouseMoveSize.h"

#include "AppKit/NSView.h"
#include "CoreMachDebugLog.h"

namespace {
constexpr NSSize kStandardCornerSize = {32.0f, 32.0f};
} // namespace

bool import_category_NSWindow_MouseMoveSize()
{
    return VERIFY(import_protocol_MouseCapture());
}

// ---- NSWindow(MouseMoveSize)

void NSWindow::windowMouseMoveSize_StandardBehaviour(NSEvent* event)
{
    NSWindow_HitTest region = windowMouseMoveSize_MouseHitTest(event, kStandardCornerSize);
    if (region != kNSWindow_HitTest_BottomRight)
        region = kNSWindow_HitTest_None;
    NSWindow_MouseMoveSize tracking(event, region);
    tracking.noScreenClamp = NO;
    protocol_MouseCaptureEventLoop(&tracking);
}

void NSWindow::windowMouseMoveSize_FromHitRegion(NSEvent* event, NSWindow_HitTest region)
{
    NSWindow_MouseMoveSize tracking(event, region);
    tracking.noScreenClamp = YES;
    protocol_MouseCaptureEventLoop(&tracking);
}

NSWindow_HitTest NSWindow::windowMouseMoveSize_MouseHitTest(NSEvent* event, NSSize corner)
{
    const NSPoint p = event->locationInWindow();
    const NSRect b = contentView() ? contentView()->bounds() : NSZeroRect;
    const struct {
        NSPoint origin;
        NSWindow_HitTest region;
    } squares[] = {
        {{b.origin.x, b.origin.y + b.size.height - corner.height}, kNSWindow_HitTest_TopLeft},
        {{b.origin.x + b.size.width - corner.width, b.origin.y + b.size.height - corner.height}, kNSWindow_HitTest_TopRight},
        {{b.origin.x, b.origin.y}, kNSWindow_HitTest_BottomLeft},
        {{b.origin.x + b.size.width - corner.width, b.origin.y}, kNSWindow_HitTest_BottomRight},
    };
    for (const auto& square : squares)
        if (NSPointInRect(p, {square.origin, corner}))
            return square.region;
    return kNSWindow_HitTest_None;
}

// ---- NSWindow(protocol_MouseCapturePrivate)

void NSWindow::mouseCaptureBegin(self_MouseCapture* capture)
{
    windowMouseDownBegin(static_cast<NSWindow_MouseMoveSize*>(capture));
}

void NSWindow::mouseCaptureMove(self_MouseCapture* capture)
{
    windowMouseMove(static_cast<NSWindow_MouseMoveSize*>(capture));
}

void NSWindow::mouseCaptureUp(self_MouseCapture* capture)
{
    windowMouseUp(static_cast<NSWindow_MouseMoveSize*>(capture));
}

// ---- NSWindow(NSWindow_MouseMoveSize)

void NSWindow::windowMouseDownBegin(NSWindow_MouseMoveSize* t)
{
    t->startFrame = frame();
    switch (t->hitRegion) {
    case kNSWindow_HitTest_TopLeft: t->operation = kNSWindow_Operation_SizeFromTopLeft; break;
    case kNSWindow_HitTest_TopRight: t->operation = kNSWindow_Operation_SizeFromTopRight; break;
    case kNSWindow_HitTest_BottomLeft: t->operation = kNSWindow_Operation_SizeFromBottomLeft; break;
    case kNSWindow_HitTest_BottomRight: t->operation = kNSWindow_Operation_SizeFromBottomRight; break;
    default:
        t->operation = kNSWindow_Operation_Move;
        t->dragOffset = NSMakePoint(t->downLocation.x - t->startFrame.origin.x, t->downLocation.y - t->startFrame.origin.y);
        break;
    }
}

void NSWindow::windowMouseMove(NSWindow_MouseMoveSize* t)
{
    switch (t->operation) {
    case kNSWindow_Operation_Move: windowMouseMoveDragging(t); break;
    case kNSWindow_Operation_SizeFromTopLeft: windowMouseSizeFromTopLeft(t); break;
    case kNSWindow_Operation_SizeFromTopRight: windowMouseSizeFromTopRight(t); break;
    case kNSWindow_Operation_SizeFromBottomRight: windowMouseSizeFromBottomRight(t); break;
    case kNSWindow_Operation_SizeFromBottomLeft: windowMouseSizeFromBottomLeft(t); break;
    default: break;
    }
}

void NSWindow::windowMouseUp(NSWindow_MouseMoveSize* t)
{
    if (t->location.x == t->downLocation.x && t->location.y == t->downLocation.y)
        windowMouseMoveSize_SingleClick();
    t->operation = kNSWindow_Operation_None;
}

void NSWindow::windowMouseMoveDragging(NSWindow_MouseMoveSize* t)
{
    NSScreen* screen = NSScreen::mainScreen();
    const NSRect s = screen ? screen->frame() : NSZeroRect;
    const NSRect f = frame();
    const float x = t->location.x - t->dragOffset.x;
    float y = t->location.y - t->dragOffset.y;
    if (!t->noScreenClamp && screen && y + f.size.height > s.origin.y + s.size.height)
        y = s.origin.y + (s.size.height - f.size.height);
    setFrameOrigin(NSMakePoint(x, y));
    windowMouseMoveSize_OnDragMoved();
}

namespace {
// Which edges a corner drags: the proposed size grows with the pointer's
// motion away from the opposite corner; `fromLeft`/`fromTop` say which.
struct Corner {
    bool fromLeft;
    bool fromTop;
};

void sizeFromCorner(NSWindow* window, NSWindow_MouseMoveSize* t, Corner corner)
{
    const NSRect F = t->startFrame;
    const float dx = t->location.x - t->downLocation.x;
    const float dy = t->location.y - t->downLocation.y;
    const float proposedWidth = corner.fromLeft ? F.size.width - dx : F.size.width + dx;
    const float proposedHeight = corner.fromTop ? F.size.height + dy : F.size.height - dy;
    NSSize size = NSMakeSize(proposedWidth, proposedHeight);
    window->windowConstrainSize(t, &size);
    // The grabbed corner stays under the pointer; a constraint moves the
    // opposite edges.
    const float x = corner.fromLeft ? F.origin.x + dx : F.origin.x + (proposedWidth - size.width);
    const float y = corner.fromTop ? F.origin.y + (proposedHeight - size.height) : F.origin.y + F.size.height - proposedHeight;
    window->setFrame(NSMakeRect(x, y, size.width, size.height), YES, NO);
}
} // namespace

void NSWindow::windowMouseSizeFromTopLeft(NSWindow_MouseMoveSize* t) { sizeFromCorner(this, t, {true, true}); }
void NSWindow::windowMouseSizeFromTopRight(NSWindow_MouseMoveSize* t) { sizeFromCorner(this, t, {false, true}); }
void NSWindow::windowMouseSizeFromBottomLeft(NSWindow_MouseMoveSize* t) { sizeFromCorner(this, t, {true, false}); }
void NSWindow::windowMouseSizeFromBottomRight(NSWindow_MouseMoveSize* t) { sizeFromCorner(this, t, {false, false}); }

void NSWindow::windowConstrainSize(NSWindow_MouseMoveSize* tracking, NSSize* size)
{
    const NSSize min = minSize();
    if (min.width > size->width)
        size->width = min.width;
    if (min.height > size->height)
        size->height = min.height;
    const NSSize max = maxSize();
    if (size->width > max.width)
        size->width = max.width;
    if (size->height > max.height)
        size->height = max.height;
    *size = windowMouseMoveSize_ConstrainAspectRatio(*size);
}
