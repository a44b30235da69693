// The responder chain: an event that a view does not handle goes to its
// superview, then to its window. The defaults pass every event on.
#pragma once

#include "AppKit/NSEvent.h"

class NSResponder : public NSObject {
    OBJC_CLASS(NSResponder, NSObject)
public:
    NSResponder* nextResponder() const { return m_nextResponder; }
    void setNextResponder(NSResponder* responder) { m_nextResponder = responder; }

    virtual void mouseDown(NSEvent* event) { if (m_nextResponder) m_nextResponder->mouseDown(event); }
    virtual void mouseDragged(NSEvent* event) { if (m_nextResponder) m_nextResponder->mouseDragged(event); }
    virtual void mouseUp(NSEvent* event) { if (m_nextResponder) m_nextResponder->mouseUp(event); }
    virtual void rightMouseDown(NSEvent* event) { if (m_nextResponder) m_nextResponder->rightMouseDown(event); }
    virtual void rightMouseUp(NSEvent* event) { if (m_nextResponder) m_nextResponder->rightMouseUp(event); }
    virtual void keyDown(NSEvent* event) { if (m_nextResponder) m_nextResponder->keyDown(event); }
    virtual void keyUp(NSEvent* event) { if (m_nextResponder) m_nextResponder->keyUp(event); }

private:
    NSResponder* m_nextResponder = nullptr;   // not retained
};
