// Views that draw a vector image resource -- the skin -- named by their
// window's title: at its natural size, or scaled to the view. Where the skin
// is transparent the window is too.
#pragma once

#include "AppKit/NSImage.h"
#include "AppKit/NSView.h"

class PDFSkinView : public NSView {
    OBJC_CLASS(PDFSkinView, NSView)
public:
    NSView* initWithFrame(NSRect frame) override;
    // No image; the hook of subclasses' initialisation.
    virtual PDFSkinView* initView();
    // Replaces the image by the named image resource; YES when there is one.
    BOOL setResourceImage(NSString* name);
    // setResourceImage with the window's title; NO, changing nothing, when
    // the view has no window or the window no title.
    BOOL setResourceImageFromWindowTitle();
    void awakeFromNib() override;
    void drawRect(NSRect dirtyRect) override;

    NSImage* image() const { return mPDFSkinImage; }

protected:
    Retained<NSImage> mPDFSkinImage;
};

class PDFSkinViewScaled : public PDFSkinView {
    OBJC_CLASS(PDFSkinViewScaled, PDFSkinView)
public:
    void drawRect(NSRect dirtyRect) override;
};

// The about box's view: a click on the inactive about box reaches it.
class PDFSkinAboutBoxView : public PDFSkinView {
    OBJC_CLASS(PDFSkinAboutBoxView, PDFSkinView)
public:
    BOOL acceptsFirstMouse(NSEvent* event) override { return YES; }
};

bool import_PDFSkinView();
