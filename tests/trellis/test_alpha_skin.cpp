// See-through windows and panels, PDF skins and the about box.
#include "TrellisTesting.h"

#include "AppKit/NSGraphics.h"
#include "AppKit/NSView.h"
#include "AppKit/WindowSystem.h"
#include "CocoaGraphics/PDFSkinView.h"
#include "CocoaGraphics/PDFSkinWindow.h"
#include "UICocoaMouseKeys/NSWindow_MouseMoveSize.h"
#include "UICocoaWindows/NSAlphaWindow.h"

#include <QFile>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QTemporaryDir>

namespace {

class AlphaWindows : public WindowTest {};

template <class W>
NSWindow* makeAlpha()
{
    // Everything the alpha classes are to override.
    NSWindow* window = W::alloc()->initWithContentRect(NSMakeRect(50, 60, 120, 80),
                                                       NSTitledWindowMask | NSResizableWindowMask,
                                                       NSBackingStoreNonretained, YES);
    return static_cast<NSWindow*>(window->autorelease());
}

void expectAlphaProperties(NSWindow* window, BOOL shadow)
{
    ASSERT_NE(window, nullptr);
    SCOPED_TRACE(window->isa()->name);
    EXPECT_EQ(window->styleMask(), NSBorderlessWindowMask);
    EXPECT_EQ(window->backingType(), NSBackingStoreBuffered);
    EXPECT_FALSE(window->isDeferred());
    EXPECT_TRUE(window->backgroundColor()->isEqual(NSColor::clearColor()));
    EXPECT_EQ(window->level(), CGWindowLevelForKey(kCGNormalWindowLevelKey));
    EXPECT_EQ(window->alphaValue(), 1.0f);
    EXPECT_FALSE(window->isOpaque());
    EXPECT_EQ(window->hasShadow(), shadow);
    EXPECT_TRUE(NSEqualRects(window->frame(), NSMakeRect(50, 60, 120, 80)));
}

TEST_F(AlphaWindows, AreBorderlessBufferedClearAndNotOpaqueWhateverWasAsked)
{
    expectAlphaProperties(makeAlpha<NSAlphaWindowWithShadow>(), YES);
    expectAlphaProperties(makeAlpha<NSAlphaWindowWithoutShadow>(), NO);
    expectAlphaProperties(makeAlpha<NSAlphaPanelWithShadow>(), YES);
    expectAlphaProperties(makeAlpha<NSAlphaPanelWithoutShadow>(), NO);
    expectAlphaProperties(makeAlpha<PDFSkinWindow>(), YES);
    expectAlphaProperties(makeAlpha<PDFSkinAboutBox>(), YES);
    EXPECT_TRUE(makeAlpha<PDFSkinWindow>()->canBecomeKeyWindow());
    EXPECT_FALSE(makeAlpha<NSAlphaWindowWithShadow>()->canBecomeKeyWindow());
    EXPECT_TRUE(makeAlpha<NSAlphaPanelWithoutShadow>()->isKindOfClass(NSPanel::class_()));
}

TEST_F(AlphaWindows, APanelPressedInACornerMovesWithoutTheScreenLimit)
{
    NSWindow* panel = makeAlpha<NSAlphaPanelWithShadow>();
    panel->orderFront(nil);
    const NSRect start = panel->frame();
    const float up = NSMaxY(screen());
    queueMouse(panel, NSLeftMouseDown, NSMakePoint(start.origin.x + 118, start.origin.y + 2));   // bottom-right
    queueMouse(panel, NSLeftMouseDragged, NSMakePoint(start.origin.x + 128, start.origin.y + 2 + up));
    queueMouse(panel, NSLeftMouseUp, NSMakePoint(start.origin.x + 128, start.origin.y + 2 + up));
    NSApp->dispatchQueuedEvents();
    EXPECT_TRUE(NSEqualRects(panel->frame(), NSMakeRect(start.origin.x + 10, start.origin.y + up, 120, 80)));
}

// The skin files the application draws at build time.
class Skins : public WindowTest {
protected:
    static PDFSkinWindow* skinWindow(NSString* title, PDFSkinView* view)
    {
        auto* window = static_cast<PDFSkinWindow*>(
            PDFSkinWindow::alloc()->initWithContentRect(NSMakeRect(100, 100, 320, 200), 0, NSBackingStoreBuffered, NO));
        window->autorelease();
        window->setTitle(title);
        window->setContentView(view);
        view->release();
        view->awakeFromNib();
        return window;
    }
    // The window as drawn, in Qt's pixel rows (top row first).
    static QImage drawn(NSWindow* window) { return window->host()->widget->grab().toImage(); }
};

TEST_F(Skins, TheWindowTitleNamesTheSkinAndItsTransparencyShowsThrough)
{
    NSImage* about = NSImage::imageNamed(NSSTR("About Sentrel"));
    ASSERT_NE(about, nullptr);
    EXPECT_TRUE(NSEqualSizes(about->size(), NSMakeSize(320, 200)));

    auto* view = static_cast<PDFSkinView*>(PDFSkinView::alloc()->initWithFrame(NSMakeRect(0, 0, 320, 200)));
    PDFSkinWindow* window = skinWindow(NSSTR("About Sentrel"), view);
    EXPECT_EQ(view->image(), about);
    window->orderFront(nil);
    const QImage image = drawn(window);
    ASSERT_EQ(image.size(), QSize(320, 200));
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);        // a rounded corner: clear
    EXPECT_EQ(qAlpha(image.pixel(160, 100)), 255);  // the plate
    EXPECT_EQ(qAlpha(image.pixel(319, 199)), 0);
}

TEST_F(Skins, ANameWithoutResourceLeavesTheViewImagelessAndClear)
{
    auto* view = static_cast<PDFSkinView*>(PDFSkinView::alloc()->initWithFrame(NSMakeRect(0, 0, 320, 200)));
    EXPECT_EQ(view->image(), nullptr);
    EXPECT_FALSE(view->setResourceImageFromWindowTitle());   // no window yet
    PDFSkinWindow* window = skinWindow(NSSTR("No Such Skin"), view);
    EXPECT_EQ(view->image(), nullptr);
    window->orderFront(nil);
    const QImage image = drawn(window);
    EXPECT_EQ(qAlpha(image.pixel(160, 100)), 0);

    // A second name replaces the first; a name that is missing drops it.
    EXPECT_TRUE(view->setResourceImage(NSSTR("Welcome to Sentrel")));
    EXPECT_EQ(view->image(), NSImage::imageNamed(NSSTR("Welcome to Sentrel")));
    EXPECT_TRUE(view->setResourceImage(NSSTR("About Sentrel.pdf")));
    EXPECT_EQ(view->image(), NSImage::imageNamed(NSSTR("About Sentrel.pdf")));
    EXPECT_FALSE(view->setResourceImage(NSSTR("Missing")));
    EXPECT_EQ(view->image(), nullptr);
}

TEST_F(Skins, TheScaledViewFillsItsBounds)
{
    auto* view = static_cast<PDFSkinView*>(PDFSkinViewScaled::alloc()->initWithFrame(NSMakeRect(0, 0, 640, 100)));
    PDFSkinWindow* window = skinWindow(NSSTR("About Sentrel"), view);
    window->setFrame(NSMakeRect(100, 100, 640, 100), YES);
    window->orderFront(nil);
    const QImage image = drawn(window);
    ASSERT_EQ(image.size(), QSize(640, 100));
    EXPECT_EQ(qAlpha(image.pixel(320, 50)), 255);
    EXPECT_EQ(qAlpha(image.pixel(630, 50)), 255);   // beyond the natural width: scaled
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
}

TEST_F(Skins, TheAboutBoxHidesOnASingleClickAndMovesWhenDragged)
{
    auto* view = static_cast<PDFSkinView*>(PDFSkinAboutBoxView::alloc()->initWithFrame(NSMakeRect(0, 0, 320, 200)));
    EXPECT_TRUE(view->acceptsFirstMouse(nullptr));
    auto* box = static_cast<PDFSkinAboutBox*>(
        PDFSkinAboutBox::alloc()->initWithContentRect(NSMakeRect(100, 100, 320, 200), 0, NSBackingStoreBuffered, NO));
    box->autorelease();
    box->setTitle(NSSTR("About Sentrel"));
    box->setContentView(view);
    view->release();
    box->makeKeyAndOrderFront(nil);

    queueMouse(box, NSLeftMouseDown, NSMakePoint(200, 200));
    queueMouse(box, NSLeftMouseDragged, NSMakePoint(230, 190));
    queueMouse(box, NSLeftMouseUp, NSMakePoint(230, 190));
    NSApp->dispatchQueuedEvents();
    EXPECT_TRUE(box->isVisible());
    EXPECT_TRUE(NSEqualPoints(box->frame().origin, NSMakePoint(130, 90)));

    queueMouse(box, NSLeftMouseDown, NSMakePoint(200, 200));
    queueMouse(box, NSLeftMouseUp, NSMakePoint(200, 200));
    NSApp->dispatchQueuedEvents();
    EXPECT_FALSE(box->isVisible());
    box->makeKeyAndOrderFront(nil);   // and it can come back
    EXPECT_TRUE(box->isVisible());
}

class PDFImages : public WindowTest {
protected:
    QTemporaryDir dir;
    QString write(const char* name, const QByteArray& bytes)
    {
        QFile file(dir.filePath(name));
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
        return file.fileName();
    }
};

TEST_F(PDFImages, ReadAtTheirSizeInPointsWithAlphaAndBrokenOnesAreNoImage)
{
    const QString path = dir.filePath("hole.pdf");
    {
        QPdfWriter writer(path);
        writer.setResolution(72);
        writer.setPageSize(QPageSize(QSizeF(90, 60), QPageSize::Point, QString(), QPageSize::ExactMatch));
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        QPainter painter(&writer);
        painter.fillRect(QRectF(0, 0, 45, 60), Qt::red);   // the right half stays transparent
    }
    NSImage* image = WindowSystem::imageWithPDFFile(path);
    ASSERT_NE(image, nullptr);
    EXPECT_TRUE(NSEqualSizes(image->size(), NSMakeSize(90, 60)));

    QFile original(path);
    original.open(QIODevice::ReadOnly);
    const QByteArray bytes = original.readAll();
    EXPECT_EQ(WindowSystem::imageWithPDFFile(write("empty.pdf", {})), nullptr);
    EXPECT_EQ(WindowSystem::imageWithPDFFile(write("text.pdf", "not a pdf at all")), nullptr);
    EXPECT_EQ(WindowSystem::imageWithPDFFile(write("cut.pdf", bytes.left(bytes.size() / 3))), nullptr);
    QByteArray huge = bytes;
    ASSERT_TRUE(huge.contains("/MediaBox [0 0 90.000000 60.000000]"));
    huge.replace("/MediaBox [0 0 90.000000 60.000000]", "/MediaBox [0 0 900000.000000 60.000000]");
    EXPECT_EQ(WindowSystem::imageWithPDFFile(write("huge.pdf", huge)), nullptr);
    EXPECT_EQ(WindowSystem::imageWithPDFFile(dir.filePath("missing.pdf")), nullptr);
}

} // namespace
