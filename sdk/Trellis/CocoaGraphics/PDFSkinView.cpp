#include "CocoaGraphics/PDFSkinView.h"

#include "AppKit/NSApplication.h"
#include "AppKit/NSGraphics.h"
#include "AppKit/NSNib.h"
#include "AppKit/NSWindow.h"

#include <cmath>

OBJC_IMPLEMENTATION(PDFSkinView, NSView) {}
OBJC_IMPLEMENTATION(PDFSkinViewScaled, PDFSkinView) {}
OBJC_IMPLEMENTATION(PDFSkinAboutBoxView, PDFSkinView) {}
NSNIB_VIEW_CLASS(PDFSkinView)
NSNIB_VIEW_CLASS(PDFSkinViewScaled)
NSNIB_VIEW_CLASS(PDFSkinAboutBoxView)

bool import_PDFSkinView() { return true; }

namespace {
// The view made transparent: the skin draws over nothing.
void clearFrame(const NSView* view)
{
    NSColor::clearColor()->set();
    NSRectFill(view->frame());
}
} // namespace

NSView* PDFSkinView::initWithFrame(NSRect frame)
{
    NSView* view = NSView::initWithFrame(frame);
    if (!view)
        return nil;
    mPDFSkinImage = nullptr;
    return initView();
}

PDFSkinView* PDFSkinView::initView()
{
    mPDFSkinImage = nullptr;
    return this;
}

BOOL PDFSkinView::setResourceImage(NSString* name)
{
    mPDFSkinImage = nullptr;
    mPDFSkinImage = NSImage::imageNamed(name);
    return mPDFSkinImage ? YES : NO;
}

BOOL PDFSkinView::setResourceImageFromWindowTitle()
{
    NSWindow* window = this->window();
    if (!window)
        return NO;
    NSString* title = window->title();
    if (!title)
        return NO;
    // A title is expected to name a PDF resource ("Splash.pdf"); it is used
    // as it is either way.
    return setResourceImage(title);
}

void PDFSkinView::awakeFromNib()
{
    if (setResourceImageFromWindowTitle())
        setNeedsDisplay(YES);
}

void PDFSkinView::drawRect(NSRect dirtyRect)
{
    clearFrame(this);
    if (mPDFSkinImage)
        mPDFSkinImage->compositeToPoint(NSMakePoint(0, 0), NSCompositeSourceOver);
    NSWindow* window = this->window();
    if (!window)
        return;
    // Older window systems refreshed a shaped window's shadow only when it
    // was switched off and on.
    if (std::floor(NSAppKitVersionNumber) <= 620.0) {
        window->setHasShadow(NO);
        window->setHasShadow(YES);
    } else {
        window->invalidateShadow();
    }
}

void PDFSkinViewScaled::drawRect(NSRect dirtyRect)
{
    clearFrame(this);
    if (mPDFSkinImage)
        mPDFSkinImage->drawInRect(bounds(), NSZeroRect, NSCompositeSourceOver, 1.0f);
    if (NSWindow* window = this->window())
        window->invalidateShadow();
}
