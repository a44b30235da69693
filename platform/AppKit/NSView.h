// Views: rectangles of a window that draw themselves and take events. A
// view's frame is in its superview's coordinates, its bounds in its own;
// both have the origin at the bottom-left and y growing upward.
#pragma once

#include "AppKit/NSResponder.h"

#include <memory>
#include <vector>

class NSWindow;
struct NSViewHost;

class NSView : public NSResponder {
    OBJC_CLASS(NSView, NSResponder)
public:
    NSView();
    virtual NSView* initWithFrame(NSRect frame);
    NSView* init() { return initWithFrame(NSZeroRect); }

    NSRect frame() const { return m_frame; }
    void setFrame(NSRect frame);
    void setFrameSize(NSSize size);
    void setFrameOrigin(NSPoint origin);
    // The view's own rectangle: its frame's size at the origin.
    NSRect bounds() const { return {NSZeroPoint, m_frame.size}; }

    NSWindow* window() const { return m_window; }
    NSView* superview() const { return m_superview; }
    const std::vector<Retained<NSView>>& subviews() const { return m_subviews; }
    void addSubview(NSView* view);
    void removeFromSuperview();
    // A view inside a container (a stack, a form) is placed by the container's
    // layout instead of by its frame.
    void setArranged(BOOL arranged) { m_arranged = arranged; }
    // Hidden views neither draw nor take events.
    BOOL isHidden() const { return m_hidden; }
    void setHidden(BOOL hidden);

    // A point from `view`'s coordinates (the window's base coordinates when
    // `view` is nil) into the receiver's.
    NSPoint convertPoint(NSPoint point, const NSView* fromView) const;
    NSPoint convertPointToBase(NSPoint point) const;

    // The deepest visible view under `point`, given in the superview's
    // coordinates; nil when the point is outside the receiver.
    virtual NSView* hitTest(NSPoint point);

    void setNeedsDisplay(BOOL flag);
    void display();
    // Draws the view into the current graphics context, whose coordinates
    // are the view's own. Draws nothing here.
    virtual void drawRect(NSRect dirtyRect) {}
    // Whether a click on an inactive window reaches the view as well as
    // making the window key.
    virtual BOOL acceptsFirstMouse(NSEvent* event) { return NO; }
    // Whether the view takes key events as its window's first responder.
    virtual BOOL acceptsFirstResponder() const { return NO; }
    // What a screen reader says the view is, beside what it shows.
    void setAccessibilityLabel(NSString* label);

    // NSView(protocol_MouseCapture): the event's location in the view.
    NSPoint mouseCaptureWindowLocation(NSEvent* event);

    // For the window-system layer and the controls built on it.
    NSViewHost* host() const { return m_host.get(); }
    void viewDidMoveToWindow(NSWindow* window);

protected:
    ~NSView() override;
    // Controls give their view a widget of the window system's own; plain
    // views draw through drawRect.
    void setHost(std::unique_ptr<NSViewHost> host);

private:
    void placeHost();
    friend struct NSViewHost;

    NSRect m_frame = NSZeroRect;
    NSWindow* m_window = nullptr;       // not retained
    NSView* m_superview = nullptr;      // not retained
    std::vector<Retained<NSView>> m_subviews;
    std::unique_ptr<NSViewHost> m_host;
    BOOL m_hidden = NO;
    BOOL m_arranged = NO;
};
