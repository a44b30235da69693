// Qt behind the AppKit classes: the connection, the event pump that feeds the
// application's queue, native delivery for Qt's own controls, the widgets
// behind windows and views, and PDF images.
#include "AppKit/WindowSystem.h"

#include "AppKit/NSApplication.h"
#include "AppKit/NSDocument.h"
#include "AppKit/NSImagePrivate.h"
#include "AppKit/NSMenu.h"

#include <QApplication>
#include <QBitmap>
#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QDropEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPdfDocument>
#include <QScreen>
#include <QStyleHints>
#include <QTimer>
#include <QWindow>

#include <cmath>
#include <memory>

namespace {

const char* const kNSWindowProperty = "_sentrel_nswindow";

// Set while an event is handed back to Qt's own delivery, so the pump lets
// it pass.
bool sDeliveringNatively = false;
bool sDispatchScheduled = false;

NSUInteger modifierFlagsFromQt(Qt::KeyboardModifiers modifiers)
{
    NSUInteger flags = 0;
    if (modifiers & Qt::ShiftModifier)
        flags |= NSShiftKeyMask;
    if (modifiers & Qt::ControlModifier)
        flags |= NSControlKeyMask;
    if (modifiers & Qt::AltModifier)
        flags |= NSAlternateKeyMask;
    if (modifiers & Qt::MetaModifier)
        flags |= NSCommandKeyMask;
    return flags;
}

NSEventType mouseEventType(const QMouseEvent* event)
{
    const bool press = event->type() == QEvent::MouseButtonPress;
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
        if (event->button() == Qt::LeftButton)
            return press ? NSLeftMouseDown : NSLeftMouseUp;
        if (event->button() == Qt::RightButton)
            return press ? NSRightMouseDown : NSRightMouseUp;
        return press ? NSOtherMouseDown : NSOtherMouseUp;
    default:
        if (event->buttons() & Qt::LeftButton)
            return NSLeftMouseDragged;
        if (event->buttons() & Qt::RightButton)
            return NSRightMouseDragged;
        if (event->buttons() != Qt::NoButton)
            return NSOtherMouseDragged;
        return NSMouseMoved;
    }
}

// The click count of presses: a press soon after the last one of the same
// button, near it and in the same window, counts one more.
struct ClickCounter {
    ulong time = 0;
    QPointF position;
    Qt::MouseButton button = Qt::NoButton;
    QWindow* window = nullptr;
    NSInteger count = 0;

    NSInteger press(const QMouseEvent* event, QWindow* in)
    {
        const QStyleHints* hints = QGuiApplication::styleHints();
        const QPointF delta = event->globalPosition() - position;
        const bool again = event->button() == button && in == window && count > 0 &&
                           event->timestamp() - time <= ulong(hints->mouseDoubleClickInterval()) &&
                           std::abs(delta.x()) + std::abs(delta.y()) <= hints->mouseDoubleClickDistance();
        count = again ? count + 1 : 1;
        time = event->timestamp();
        position = event->globalPosition();
        button = event->button();
        window = in;
        return count;
    }
};

// Copies every mouse and key event of the application's windows into the
// application's queue the moment Qt delivers it, and swallows it. Qt's
// synthesised double clicks are swallowed too: the queue counts clicks.
class EventPump : public QObject {
public:
    using QObject::QObject;

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (sDeliveringNatively || !watched->isWindowType())
            return false;
        auto* window = static_cast<QWindow*>(watched);
        auto* owner = static_cast<NSWindow*>(window->property(kNSWindowProperty).value<void*>());
        if (!owner || !NSApp)
            return false;
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseMove:
            queueMouse(static_cast<QMouseEvent*>(event), window, owner);
            return true;
        case QEvent::MouseButtonDblClick:
            return true;
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
            queueKey(static_cast<QKeyEvent*>(event), window, owner);
            return true;
        default:
            return false;
        }
    }

private:
    void queueMouse(QMouseEvent* event, QWindow* window, NSWindow* owner)
    {
        if (event->type() == QEvent::MouseButtonPress)
            m_clicks.press(event, window);
        auto native = std::make_shared<NSEventNative>();
        native->type = event->type();
        native->globalPosition = event->globalPosition();
        native->windowPosition = event->scenePosition();
        native->button = event->button();
        native->buttons = event->buttons();
        native->modifiers = event->modifiers();
        native->window = window;
        NSEvent* nsEvent = NSEvent::mouseEventWithType(mouseEventType(event), WindowSystem::fromQt(event->globalPosition()),
                                                       modifierFlagsFromQt(event->modifiers()), owner, m_clicks.count);
        nsEvent->setNative(std::move(native));
        NSApp->postEvent(nsEvent, NO);
    }

    void queueKey(QKeyEvent* event, QWindow* window, NSWindow* owner)
    {
        auto native = std::make_shared<NSEventNative>();
        native->type = event->type();
        native->key = event->key();
        native->text = event->text();
        native->modifiers = event->modifiers();
        native->autoRepeat = event->isAutoRepeat();
        native->nativeScanCode = event->nativeScanCode();
        native->nativeVirtualKey = event->nativeVirtualKey();
        native->nativeModifiers = event->nativeModifiers();
        native->window = window;
        const std::u16string text(reinterpret_cast<const char16_t*>(event->text().utf16()), size_t(event->text().size()));
        NSEvent* nsEvent = NSEvent::keyEventWithType(event->type() == QEvent::KeyPress ? NSKeyDown : NSKeyUp,
                                                     modifierFlagsFromQt(event->modifiers()), owner,
                                                     NSString::stringWithCharacters(text.data(), text.size()),
                                                     static_cast<unsigned short>(event->nativeScanCode()));
        nsEvent->setNative(std::move(native));
        NSApp->postEvent(nsEvent, NO);
    }

    ClickCounter m_clicks;
};

// Fills a Qt menu with an NSMenu's items; their actions stay the items'.
void fillMenu(QMenu* qmenu, NSMenu* menu);

QAction* makeAction(QObject* parent, NSMenuItem* item)
{
    auto* action = new QAction(QString::fromStdString(item->title()->utf8()), parent);
    if (item->keyEquivalent()->length() > 0) {
        action->setShortcut(QKeySequence(QString::fromStdString(item->keyEquivalent()->utf8())));
        action->setShortcutContext(Qt::WindowShortcut);
    }
    action->setEnabled(item->isEnabled());
    Retained<NSMenuItem> keep(item);
    QObject::connect(action, &QAction::triggered, action, [keep] { keep->performAction(); });
    return action;
}

// The recently opened files, filled anew each time the menu opens.
void fillRecentDocuments(QMenu* qmenu)
{
    qmenu->clear();
    NSDocumentController* documents = NSDocumentController::sharedDocumentController();
    NSArray* urls = documents->recentDocumentURLs();
    for (NSUInteger i = 0; i < urls->count(); ++i) {
        Retained<NSURL> url = static_cast<NSURL*>(urls->objectAtIndex(i));
        const QString path = QFile::decodeName(url->fileSystemRepresentation());
        QAction* action = qmenu->addAction(path);
        QObject::connect(action, &QAction::triggered, action,
                         [url] { NSDocumentController::sharedDocumentController()->openDocumentWithContentsOfURL(url, YES, nullptr); });
    }
    if (urls->count() == 0)
        qmenu->addAction("No Recent Files")->setEnabled(false);
    qmenu->addSeparator();
    QAction* clear = qmenu->addAction("Clear Menu");
    clear->setEnabled(urls->count() > 0);
    QObject::connect(clear, &QAction::triggered, clear, [] { NSDocumentController::sharedDocumentController()->clearRecentDocuments(nil); });
}

void fillMenu(QMenu* qmenu, NSMenu* menu)
{
    NSArray* items = menu->itemArray();
    for (NSUInteger i = 0; i < items->count(); ++i) {
        auto* item = static_cast<NSMenuItem*>(items->objectAtIndex(i));
        if (item->isSeparatorItem()) {
            qmenu->addSeparator();
        } else if (item->role() == NSMenuItemRoleRecentDocuments) {
            QMenu* recent = qmenu->addMenu(QString::fromStdString(item->title()->utf8()));
            QObject::connect(recent, &QMenu::aboutToShow, recent, [recent] { fillRecentDocuments(recent); });
            fillRecentDocuments(recent);
        } else if (NSMenu* submenu = item->submenu()) {
            fillMenu(qmenu->addMenu(QString::fromStdString(item->title()->utf8())), submenu);
        } else {
            qmenu->addAction(makeAction(qmenu, item));
        }
    }
}

// The files of a drag, when all are local files.
QList<QUrl> droppedFiles(const QMimeData* data)
{
    QList<QUrl> files;
    if (!data || !data->hasUrls())
        return files;
    for (const QUrl& url : data->urls()) {
        if (!url.isLocalFile())
            return {};
        files.push_back(url);
    }
    return files;
}

// The top-level widget of a window.
class WindowWidget : public QWidget {
public:
    explicit WindowWidget(NSWindowHost* host) : m_host(host) { setAcceptDrops(true); }
    // The window is gone; the widget waits for its deletion.
    void detach() { m_host = nullptr; }
    NSWindowHost* host() const { return m_host; }

protected:
    // Files dropped on any window of the application open as documents.
    void dragEnterEvent(QDragEnterEvent* event) override
    {
        if (!droppedFiles(event->mimeData()).isEmpty())
            event->acceptProposedAction();
    }

    void dragMoveEvent(QDragMoveEvent* event) override
    {
        if (!droppedFiles(event->mimeData()).isEmpty())
            event->acceptProposedAction();
    }

    void dropEvent(QDropEvent* event) override
    {
        const QList<QUrl> files = droppedFiles(event->mimeData());
        if (files.isEmpty())
            return;
        event->acceptProposedAction();
        AutoreleasePoolScope pool;
        for (const QUrl& url : files) {
            const QByteArray path = QFile::encodeName(url.toLocalFile());
            const bool directory = QFileInfo(url.toLocalFile()).isDir();
            NSDocumentController::sharedDocumentController()->openDocumentWithContentsOfURL(
                NSURL::fileURLWithFileSystemRepresentation(path.constData(), directory), YES, nullptr);
        }
    }

    void changeEvent(QEvent* event) override
    {
        // The window manager gave the window the keyboard.
        if (event->type() == QEvent::ActivationChange && m_host && isActiveWindow() && NSApp &&
            m_host->owner->canBecomeKeyWindow() && m_host->owner->isVisible())
            NSApp->setKeyWindow(m_host->owner);
        QWidget::changeEvent(event);
    }

    void paintEvent(QPaintEvent*) override
    {
        NSColor* background = m_host ? m_host->owner->backgroundColor() : nullptr;
        if (!background)
            return;
        QPainter painter(this);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(rect(), QColor::fromRgbF(background->redComponent(), background->greenComponent(),
                                                  background->blueComponent(), background->alphaComponent()));
    }

    void resizeEvent(QResizeEvent* event) override
    {
        if (!m_host)
            return;
        if (event->spontaneous())
            m_host->windowSystemMovedOrResized();
        m_host->layoutContent();
    }

    void moveEvent(QMoveEvent* event) override
    {
        if (m_host && event->spontaneous())
            m_host->windowSystemMovedOrResized();
    }

    void closeEvent(QCloseEvent* event) override
    {
        // The window manager's close button: the window closes the platform's
        // way, which hides it.
        event->ignore();
        if (m_host && isVisible())
            m_host->owner->close();
    }

private:
    NSWindowHost* m_host;
};

// The widget of a plain view: it draws through the view's drawRect.
class ViewWidget : public QWidget {
public:
    ViewWidget(NSView* view) : m_view(view) {}
    void detach() { m_view = nullptr; }

protected:
    void paintEvent(QPaintEvent* event) override
    {
        if (!m_view)
            return;
        QPainter painter(this);
        const float height = float(this->height());
        painter.translate(0, height);
        painter.scale(1, -1);
        NSGraphicsState state{&painter};
        state.viewHeight = height;
        NSGraphicsContext context(&state);
        NSGraphicsContext::push(&context);
        const QRect dirty = event->rect();
        m_view->drawRect(NSMakeRect(float(dirty.x()), height - float(dirty.y() + dirty.height()), float(dirty.width()),
                                    float(dirty.height())));
        NSGraphicsContext::pop();
    }

private:
    NSView* m_view;
};

NSImage* loadPDF(const QString& path) { return WindowSystem::imageWithPDFFile(path); }

} // namespace

namespace WindowSystem {

bool isAvailable() { return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr; }

bool hasWindowManagement()
{
    // The offscreen platform of the tests draws windows but neither stacks
    // nor shapes them.
    return isAvailable() && QGuiApplication::platformName() != QLatin1String("offscreen");
}

void connect(int argc, char** argv)
{
    if (!QCoreApplication::instance()) {
        static int sArgc = argc;
        new QApplication(sArgc, argv);
    }
    QGuiApplication::setQuitOnLastWindowClosed(false);
    qApp->installEventFilter(new EventPump(qApp));
    NSImageAccess::registerFileLoader("pdf", &loadPDF);
}

void scheduleDispatch()
{
    if (sDispatchScheduled || !qApp)
        return;
    sDispatchScheduled = true;
    QMetaObject::invokeMethod(
        qApp,
        [] {
            sDispatchScheduled = false;
            if (NSApp)
                NSApp->dispatchQueuedEvents();
        },
        Qt::QueuedConnection);
}

int mainScreenHeight()
{
    const QScreen* screen = isAvailable() ? QGuiApplication::primaryScreen() : nullptr;
    return screen ? screen->geometry().y() + screen->geometry().height() : 0;
}

QPointF toQt(NSPoint p) { return {double(p.x), double(mainScreenHeight()) - double(p.y)}; }

NSPoint fromQt(QPointF p) { return NSMakePoint(float(p.x()), float(mainScreenHeight() - p.y())); }

QRect toQt(NSRect r)
{
    const int x = int(std::lround(r.origin.x));
    const int width = int(std::lround(r.size.width));
    const int height = int(std::lround(r.size.height));
    const int y = mainScreenHeight() - int(std::lround(r.origin.y)) - height;
    return {x, y, width, height};
}

NSRect fromQt(QRect r)
{
    return NSMakeRect(float(r.x()), float(mainScreenHeight() - (r.y() + r.height())), float(r.width()), float(r.height()));
}

void deliverNatively(NSEvent* event)
{
    const auto& native = event ? event->native() : nullptr;
    if (!native || !native->window)
        return;
    QWindow* window = native->window;
    std::unique_ptr<QEvent> copy(native->makeEvent());
    sDeliveringNatively = true;
    if (copy->type() == QEvent::MouseButtonPress) {
        // Qt gives focus on a click only to events from the window system;
        // a handed-back press does it here.
        if (auto* top = QWidget::find(window->winId())) {
            QWidget* target = top->childAt(native->windowPosition.toPoint());
            while (target && !(target->focusPolicy() & Qt::ClickFocus))
                target = target->parentWidget();
            if (target && target->isEnabled())
                target->setFocus(Qt::MouseFocusReason);
        }
    }
    QCoreApplication::sendEvent(window, copy.get());
    if (copy->type() == QEvent::MouseButtonPress && event->clickCount() == 2 && native->window) {
        NSEventNative twice = *native;
        twice.type = QEvent::MouseButtonDblClick;
        std::unique_ptr<QEvent> doubleClick(twice.makeEvent());
        QCoreApplication::sendEvent(window, doubleClick.get());
    }
    sDeliveringNatively = false;
}

void popUpMenu(NSMenu* menu, NSPoint screenPoint)
{
    if (!menu || !isAvailable())
        return;
    QMenu popup;
    NSArray* items = menu->itemArray();
    for (NSUInteger i = 0; i < items->count(); ++i) {
        auto* item = static_cast<NSMenuItem*>(items->objectAtIndex(i));
        if (NSMenu* submenu = item->submenu())
            fillMenu(popup.addMenu(QString::fromStdString(item->title()->utf8())), submenu);
    }
    popup.exec(toQt(screenPoint).toPoint());
}

NSImage* imageWithPDFFile(const QString& path)
{
    auto document = std::make_shared<QPdfDocument>();
    if (document->load(path) != QPdfDocument::Error::None || document->pageCount() < 1)
        return nil;
    const QSizeF points = document->pagePointSize(0);
    if (!(points.width() >= 1 && points.height() >= 1 && points.width() <= 4096 && points.height() <= 4096))
        return nil;
    const QSize pixels(int(std::ceil(points.width())), int(std::ceil(points.height())));
    NSImage* image = NSImageAccess::imageWithBitmap(document->render(0, pixels));
    if (!image)
        return nil;
    image->setSize(NSMakeSize(float(points.width()), float(points.height())));
    NSImageAccess::setRenderer(image, [document](QSize size) { return document->render(0, size); });
    return image;
}

} // namespace WindowSystem

QEvent* NSEventNative::makeEvent() const
{
    const auto qtType = QEvent::Type(type);
    if (qtType == QEvent::KeyPress || qtType == QEvent::KeyRelease)
        return new QKeyEvent(qtType, key, Qt::KeyboardModifiers(modifiers), nativeScanCode, nativeVirtualKey,
                             nativeModifiers, text, autoRepeat);
    return new QMouseEvent(qtType, windowPosition, windowPosition, globalPosition, Qt::MouseButton(button),
                           Qt::MouseButtons(buttons), Qt::KeyboardModifiers(modifiers));
}

// ---- windows

NSWindowHost::NSWindowHost(NSWindow* window) : owner(window), widget(new WindowWidget(this))
{
    Qt::WindowFlags flags = Qt::Window;
    if (window->styleMask() == NSBorderlessWindowMask)
        flags |= Qt::FramelessWindowHint;
    if (window->level() > 0)
        flags |= Qt::WindowStaysOnTopHint;
    if (!window->hasShadow())
        flags |= Qt::NoDropShadowWindowHint;
    widget->setWindowFlags(flags);
    if (!window->isOpaque()) {
        widget->setAttribute(Qt::WA_TranslucentBackground);
        widget->setAttribute(Qt::WA_NoSystemBackground);
    }
    widget->setGeometry(WindowSystem::toQt(window->frame()));
    if (NSString* title = window->title())
        widget->setWindowTitle(QString::fromStdString(title->utf8()));
    widget->setWindowOpacity(window->alphaValue());
    installMenus();
}

void NSWindowHost::makeNative()
{
    // The native window, so that the pump knows it by its QWindow.
    if (widget->windowHandle())
        return;
    widget->winId();
    widget->windowHandle()->setProperty(kNSWindowProperty, QVariant::fromValue<void*>(owner));
}

bool NSWindowHost::hasNativeChildAt(NSPoint base) const
{
    const QPoint at(int(base.x), widget->height() - int(std::ceil(base.y)));
    return menuBar && menuBar->isVisible() && menuBar->geometry().contains(at);
}

bool NSWindowHost::hasNativeFocus() const
{
    const QWidget* focus = QApplication::focusWidget();
    return focus && focus != widget && focus->window() == widget && !dynamic_cast<const ViewWidget*>(focus);
}

// The widgets of a window or view that goes are deleted once control is
// back in the event loop: the window may go while one of its own widgets is
// handling an event (its close button, a shortcut of its menu bar).
NSWindowHost::~NSWindowHost()
{
    menuBar = nullptr;
    if (widget->windowHandle())
        widget->windowHandle()->setProperty(kNSWindowProperty, QVariant());
    static_cast<WindowWidget*>(widget)->detach();
    widget->hide();
    widget->deleteLater();
}

void NSWindowHost::layoutContent()
{
    int top = 0;
    if (menuBar) {
        top = menuBar->sizeHint().height();
        menuBar->setGeometry(0, 0, widget->width(), top);
    }
    if (NSView* content = owner->contentView())
        content->setFrame(NSMakeRect(0, 0, float(widget->width()), float(std::max(0, widget->height() - top))));
}

void NSWindowHost::installMenus()
{
    delete menuBar;
    menuBar = nullptr;
    for (QAction* action : widget->actions())
        delete action;
    NSMenu* menu = NSApp ? NSApp->mainMenu() : nullptr;
    if (!menu)
        return;
    if (owner->styleMask() & NSTitledWindowMask) {
        auto* bar = new QMenuBar(widget);
        NSArray* items = menu->itemArray();
        for (NSUInteger i = 0; i < items->count(); ++i) {
            auto* item = static_cast<NSMenuItem*>(items->objectAtIndex(i));
            if (NSMenu* submenu = item->submenu())
                fillMenu(bar->addMenu(QString::fromStdString(item->title()->utf8())), submenu);
        }
        bar->show();
        menuBar = bar;
    } else {
        // Shortcuts only; a right click pops the menu up.
        std::function<void(NSMenu*)> addShortcuts = [&](NSMenu* m) {
            NSArray* items = m->itemArray();
            for (NSUInteger i = 0; i < items->count(); ++i) {
                auto* item = static_cast<NSMenuItem*>(items->objectAtIndex(i));
                if (item->submenu())
                    addShortcuts(item->submenu());
                else if (!item->isSeparatorItem() && item->keyEquivalent()->length() > 0)
                    widget->addAction(makeAction(widget, item));
            }
        };
        addShortcuts(menu);
    }
    layoutContent();
}

void NSWindowHost::windowSystemMovedOrResized()
{
    // Only a window manager moves or resizes a titled window behind the
    // program's back; a borderless window's frame is the program's own.
    if (owner->styleMask() & NSTitledWindowMask)
        owner->m_frame = WindowSystem::fromQt(widget->geometry());
}

void NSWindowHost::scheduleShapeUpdate()
{
    if (shaping || shapePending)
        return;
    shapePending = true;
    // Through the widget: the host may be gone by then, the widget not yet.
    QTimer::singleShot(0, widget, [window = static_cast<WindowWidget*>(widget)] {
        if (NSWindowHost* host = window->host()) {
            host->shapePending = false;
            host->updateShape();
        }
    });
}

void NSWindowHost::updateShape()
{
    if (owner->isOpaque()) {
        if (!shape.isEmpty()) {
            shape = QRegion();
            widget->clearMask();
        }
        return;
    }
    if (!widget->isVisible())
        return;
    shaping = true;
    const QImage drawn = widget->grab().toImage();
    shaping = false;
    QRegion region(QBitmap::fromImage(drawn.createAlphaMask(Qt::ThresholdAlphaDither)));
    // An empty region would mean "no shape" to Qt: keep one pixel instead.
    if (region.isEmpty())
        region = QRegion(0, 0, 1, 1);
    if (region != shape) {
        shape = region;
        if (WindowSystem::hasWindowManagement())
            widget->setMask(shape);
    }
}

// ---- views

NSViewHost::NSViewHost(NSView* view) : owner(view), widget(new ViewWidget(view)), isNative(false), m_alive(widget) {}

NSViewHost::NSViewHost(NSView* view, QWidget* nativeWidget)
    : owner(view), widget(nativeWidget), isNative(true), m_alive(nativeWidget)
{
}

NSViewHost::~NSViewHost()
{
    QWidget* gone = m_alive.data();
    if (!gone)
        return;
    gone->disconnect();
    if (!isNative)
        static_cast<ViewWidget*>(gone)->detach();
    gone->hide();
    gone->setParent(nullptr);
    gone->deleteLater();
}
