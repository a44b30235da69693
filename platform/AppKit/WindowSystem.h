// The seam between the AppKit classes and Qt: the only header of the platform
// layer that names Qt types. The classes above see none of them.
//
// Screen coordinates: AppKit's origin is the bottom-left corner of the main
// (primary) screen with y upward; Qt's the top-left with y downward. With H
// the primary screen's height, a point converts as y' = H - y and a rectangle
// as y' = H - (y + height).
#pragma once

#include "AppKit/NSGraphics.h"
#include "AppKit/NSImage.h"
#include "AppKit/NSView.h"
#include "AppKit/NSWindow.h"

#include <QImage>
#include <QPainter>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include <functional>

class QEvent;
class NSMenu;

namespace WindowSystem {

// The primary screen's height in Qt pixels; 0 without a window system.
int mainScreenHeight();
QPointF toQt(NSPoint screenPoint);
NSPoint fromQt(QPointF qtPoint);
QRect toQt(NSRect screenRect);
NSRect fromQt(QRect qtRect);

// Whether the program has made its window-system connection.
bool isAvailable();
// Whether windows can be raised and shaped (not so on the offscreen platform).
bool hasWindowManagement();

// Hands a queued event back to Qt's own delivery, for the controls that are
// Qt widgets (buttons, text fields, ...).
void deliverNatively(NSEvent* event);

} // namespace WindowSystem

// The window-system form of an event, kept for native delivery.
struct NSEventNative {
    QEvent* makeEvent() const;     // a new copy of the Qt event; the caller deletes it
    int type = 0;                  // QEvent::Type
    QPointF globalPosition;
    QPointF windowPosition;        // in the Qt window, at the moment of the event
    int button = 0;                // Qt::MouseButton
    int buttons = 0;               // Qt::MouseButtons
    int modifiers = 0;             // Qt::KeyboardModifiers
    int key = 0;
    QString text;
    bool autoRepeat = false;
    quint32 nativeScanCode = 0, nativeVirtualKey = 0, nativeModifiers = 0;
    QPointer<QWindow> window;
};

// The Qt window behind an NSWindow: a top-level widget whose only child is
// the content view's widget.
struct NSWindowHost {
    explicit NSWindowHost(NSWindow* window);
    ~NSWindowHost();
    NSWindow* owner;
    QWidget* widget;   // owned; deleted with the host
    // The application's main menu: a menu bar on titled windows; on the
    // others its items' shortcuts, and the menu pops up on a right click.
    void installMenus();
    QWidget* menuBar = nullptr;
    // Makes the window system's window (at the latest when first shown).
    void makeNative();
    // Whether a Qt widget of the window's own (not a view's) is at the point.
    bool hasNativeChildAt(NSPoint base) const;
    // Whether one of the window's Qt controls has the keyboard.
    bool hasNativeFocus() const;
    // The content view fills the window.
    void layoutContent();
    // The window manager moved or resized the window.
    void windowSystemMovedOrResized();
    bool shapePending = false;
    bool shaping = false;
    QRegion shape;
    // Works out the window's input shape from what it drew: the pixels whose
    // alpha is at least 128 (non-opaque windows only).
    void scheduleShapeUpdate();
    void updateShape();
};

// The Qt widget behind an NSView.
struct NSViewHost {
    // A plain view: a widget that draws through drawRect.
    explicit NSViewHost(NSView* view);
    // A control: the view shows a Qt widget of its own, which takes its
    // events through Qt's delivery.
    NSViewHost(NSView* view, QWidget* nativeWidget);
    ~NSViewHost();
    NSView* owner;
    QWidget* widget;
    bool isNative;

private:
    QPointer<QWidget> m_alive;   // Qt may have deleted the widget with a parent
};

// What a drawing pass draws into: a painter set up in the view's
// coordinates (y upward) and the colour of fills.
struct NSGraphicsState {
    QPainter* painter;
    QColor fillColor = Qt::black;
    float viewHeight = 0;
};

namespace WindowSystem {
// The PDF file's first page at its natural size in points, autoreleased;
// nil when it is not a PDF that Qt Pdf reads, or its page is empty or
// larger than 4096 points a side.
NSImage* imageWithPDFFile(const QString& path);
// Shows the menu at a point of the screen, until the user chooses or leaves it.
void popUpMenu(NSMenu* menu, NSPoint screenPoint);
// Makes the connection (a QApplication) and installs the event pump.
void connect(int argc, char** argv);
// Asks for dispatchQueuedEvents once control is back in the event loop.
void scheduleDispatch();
}
