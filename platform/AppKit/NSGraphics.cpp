#include "AppKit/NSGraphics.h"

#include "AppKit/NSImagePrivate.h"
#include "AppKit/WindowSystem.h"
#include "Foundation/NSString.h"

#include <cmath>
#include <vector>

OBJC_IMPLEMENTATION(NSColor, NSObject) {}
OBJC_IMPLEMENTATION(NSGraphicsContext, NSObject) {}

namespace {

NSColor* immortalColor(float red, float green, float blue, float alpha)
{
    NSColor* color = NSColor::colorWithCalibratedRed(red, green, blue, alpha);
    color->makeImmortal();
    return color;
}

std::vector<NSGraphicsContext*>& contextStack()
{
    static std::vector<NSGraphicsContext*> stack;
    return stack;
}

QPainter::CompositionMode compositionMode(NSCompositingOperation operation)
{
    switch (operation) {
    case NSCompositeClear: return QPainter::CompositionMode_Clear;
    case NSCompositeCopy: return QPainter::CompositionMode_Source;
    case NSCompositeSourceIn: return QPainter::CompositionMode_SourceIn;
    case NSCompositeSourceOut: return QPainter::CompositionMode_SourceOut;
    case NSCompositeSourceAtop: return QPainter::CompositionMode_SourceAtop;
    case NSCompositeDestinationOver: return QPainter::CompositionMode_DestinationOver;
    case NSCompositeDestinationIn: return QPainter::CompositionMode_DestinationIn;
    case NSCompositeDestinationOut: return QPainter::CompositionMode_DestinationOut;
    case NSCompositeDestinationAtop: return QPainter::CompositionMode_DestinationAtop;
    case NSCompositeXOR: return QPainter::CompositionMode_Xor;
    case NSCompositePlusDarker: return QPainter::CompositionMode_Darken;
    case NSCompositePlusLighter: return QPainter::CompositionMode_Plus;
    case NSCompositeSourceOver:
    default: return QPainter::CompositionMode_SourceOver;
    }
}

// Draws the part `from` (in the image's points, origin bottom-left; empty:
// all of it) of an image into `in` (the current view's coordinates).
void drawImage(const NSImage* image, NSRect in, NSRect from, NSCompositingOperation operation, float fraction)
{
    NSGraphicsContext* context = NSGraphicsContext::currentContext();
    if (!context || !image || !image->isValid() || in.size.width <= 0 || in.size.height <= 0)
        return;
    const NSSize size = image->size();
    if (from.size.width <= 0 || from.size.height <= 0)
        from = NSMakeRect(0, 0, size.width, size.height);
    if (size.width <= 0 || size.height <= 0)
        return;
    // Render the whole image at the scale that maps `from` onto `in`, at the
    // painter's device resolution, then draw the part.
    QPainter* painter = context->state()->painter;
    const double dpr = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    const double sx = in.size.width / from.size.width * dpr;
    const double sy = in.size.height / from.size.height * dpr;
    const QSize pixels(std::max(1, int(std::lround(size.width * sx))), std::max(1, int(std::lround(size.height * sy))));
    if (pixels.width() > 16384 || pixels.height() > 16384)
        return;
    const QImage rendered = NSImageAccess::renderAt(image, pixels);
    const double px = double(rendered.width()) / size.width;
    const double py = double(rendered.height()) / size.height;
    const QRectF source(from.origin.x * px, (size.height - from.origin.y - from.size.height) * py, from.size.width * px,
                        from.size.height * py);
    painter->save();
    painter->setCompositionMode(compositionMode(operation));
    painter->setOpacity(std::clamp(double(fraction), 0.0, 1.0));
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    // The painter's y grows upward; the image's rows downward.
    painter->translate(in.origin.x, in.origin.y + in.size.height);
    painter->scale(1, -1);
    painter->drawImage(QRectF(0, 0, in.size.width, in.size.height), rendered, source);
    painter->restore();
}

} // namespace

NSColor* NSColor::colorWithCalibratedRed(float red, float green, float blue, float alpha)
{
    auto* color = new NSColor();
    color->m_red = std::clamp(red, 0.0f, 1.0f);
    color->m_green = std::clamp(green, 0.0f, 1.0f);
    color->m_blue = std::clamp(blue, 0.0f, 1.0f);
    color->m_alpha = std::clamp(alpha, 0.0f, 1.0f);
    return static_cast<NSColor*>(color->autorelease());
}

NSColor* NSColor::clearColor()
{
    static NSColor* const color = immortalColor(0, 0, 0, 0);
    return color;
}

NSColor* NSColor::whiteColor()
{
    static NSColor* const color = immortalColor(1, 1, 1, 1);
    return color;
}

NSColor* NSColor::blackColor()
{
    static NSColor* const color = immortalColor(0, 0, 0, 1);
    return color;
}

NSColor* NSColor::windowBackgroundColor()
{
    static NSColor* const color = immortalColor(0.93f, 0.93f, 0.93f, 1);
    return color;
}

void NSColor::set() const
{
    if (NSGraphicsContext* context = NSGraphicsContext::currentContext())
        context->state()->fillColor = QColor::fromRgbF(m_red, m_green, m_blue, m_alpha);
}

NSString* NSColor::description() const
{
    return NSString::stringWithFormat("NSCalibratedRGBColorSpace %g %g %g %g", m_red, m_green, m_blue, m_alpha);
}

BOOL NSColor::isEqual(const NSObject* other) const
{
    auto* color = dynamic_cast<const NSColor*>(other);
    return color && color->m_red == m_red && color->m_green == m_green && color->m_blue == m_blue &&
           color->m_alpha == m_alpha;
}

void NSRectFill(NSRect rect)
{
    NSGraphicsContext* context = NSGraphicsContext::currentContext();
    if (!context)
        return;
    QPainter* painter = context->state()->painter;
    painter->save();
    painter->setCompositionMode(QPainter::CompositionMode_Source);
    painter->fillRect(QRectF(rect.origin.x, rect.origin.y, rect.size.width, rect.size.height), context->state()->fillColor);
    painter->restore();
}

NSGraphicsContext* NSGraphicsContext::currentContext()
{
    auto& stack = contextStack();
    return stack.empty() ? nullptr : stack.back();
}

void NSGraphicsContext::push(NSGraphicsContext* context) { contextStack().push_back(context); }

void NSGraphicsContext::pop()
{
    if (!contextStack().empty())
        contextStack().pop_back();
}

void NSImage::compositeToPoint(NSPoint point, NSCompositingOperation operation) const
{
    const NSSize size = this->size();
    drawImage(this, NSMakeRect(point.x, point.y, size.width, size.height), NSZeroRect, operation, 1.0f);
}

void NSImage::drawInRect(NSRect inRect, NSRect fromRect, NSCompositingOperation operation, float fraction) const
{
    drawImage(this, inRect, fromRect, operation, fraction);
}
