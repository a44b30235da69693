// Colours, the current drawing context and the fills and image operations
// that draw into it. Drawing happens inside a view's drawRect, in the view's
// coordinates (origin bottom-left, y upward).
#pragma once

#include "Foundation/NSGeometry.h"
#include "objc/NSObject.h"

struct NSGraphicsState;

typedef NSUInteger NSCompositingOperation;
enum : NSCompositingOperation {
    NSCompositeClear = 0,
    NSCompositeCopy = 1,
    NSCompositeSourceOver = 2,
    NSCompositeSourceIn = 3,
    NSCompositeSourceOut = 4,
    NSCompositeSourceAtop = 5,
    NSCompositeDestinationOver = 6,
    NSCompositeDestinationIn = 7,
    NSCompositeDestinationOut = 8,
    NSCompositeDestinationAtop = 9,
    NSCompositeXOR = 10,
    NSCompositePlusDarker = 11,
    NSCompositePlusLighter = 13,
};

class NSColor : public NSObject {
    OBJC_CLASS(NSColor, NSObject)
public:
    static NSColor* clearColor();
    static NSColor* whiteColor();
    static NSColor* blackColor();
    static NSColor* windowBackgroundColor();
    static NSColor* colorWithCalibratedRed(float red, float green, float blue, float alpha);

    float redComponent() const { return m_red; }
    float greenComponent() const { return m_green; }
    float blueComponent() const { return m_blue; }
    float alphaComponent() const { return m_alpha; }

    // Makes the colour the current context's colour for fills.
    void set() const;

    NSString* description() const override;
    BOOL isEqual(const NSObject* other) const override;

private:
    float m_red = 0, m_green = 0, m_blue = 0, m_alpha = 0;
};

// Fills a rectangle of the current context with its colour, replacing what
// was there (so the clear colour makes it transparent).
void NSRectFill(NSRect rect);

class NSGraphicsContext : public NSObject {
    OBJC_CLASS(NSGraphicsContext, NSObject)
public:
    // The context views draw into now; nil outside drawing.
    static NSGraphicsContext* currentContext();
    NSGraphicsState* state() const { return m_state; }

    // For the window-system layer: the context of one drawing pass.
    explicit NSGraphicsContext(NSGraphicsState* state) : m_state(state) {}
    static void push(NSGraphicsContext* context);
    static void pop();

private:
    NSGraphicsContext() = default;
    NSGraphicsState* m_state = nullptr;
};
