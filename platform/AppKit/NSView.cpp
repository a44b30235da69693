#include "AppKit/NSView.h"

#include "AppKit/NSNib.h"
#include "AppKit/NSWindow.h"
#include "AppKit/WindowSystem.h"

#include <algorithm>
#include <cmath>

OBJC_IMPLEMENTATION(NSView, NSResponder) {}
NSNIB_VIEW_CLASS(NSView)

NSView::NSView() = default;

NSView::~NSView()
{
    // The subviews' widgets are the subviews' own: take them out of this
    // view's widget before it goes.
    for (auto& subview : m_subviews) {
        subview->m_superview = nullptr;
        subview->setNextResponder(nullptr);
        if (subview->m_host)
            subview->m_host->widget->setParent(nullptr);
    }
}

NSView* NSView::initWithFrame(NSRect frame)
{
    m_frame = frame;
    if (WindowSystem::isAvailable() && !m_host) {
        m_host = std::make_unique<NSViewHost>(this);
        placeHost();
    }
    return this;
}

void NSView::setHost(std::unique_ptr<NSViewHost> host)
{
    QWidget* parent = m_host ? m_host->widget->parentWidget() : nullptr;
    for (auto& subview : m_subviews)
        if (subview->m_host)
            subview->m_host->widget->setParent(nullptr);
    m_host = std::move(host);
    if (!m_host)
        return;
    if (parent)
        m_host->widget->setParent(parent);
    for (auto& subview : m_subviews)
        if (subview->m_host) {
            subview->m_host->widget->setParent(m_host->widget);
            subview->m_host->widget->setVisible(!subview->m_hidden);
        }
    placeHost();
    if (parent)
        m_host->widget->setVisible(!m_hidden);
}

void NSView::placeHost()
{
    if (!m_host || m_arranged)
        return;
    // The widget's rectangle in its parent, whose y grows downward.
    // A content view's parent is its window, which may hold a menu bar above it.
    float parentHeight = m_frame.origin.y + m_frame.size.height;
    if (m_superview)
        parentHeight = m_superview->m_frame.size.height;
    else if (m_window && m_window->contentView() == this && m_window->host())
        parentHeight = float(m_window->host()->widget->height());
    const int x = int(std::lround(m_frame.origin.x));
    const int width = int(std::lround(m_frame.size.width));
    const int height = int(std::lround(m_frame.size.height));
    const int y = int(std::lround(parentHeight - m_frame.origin.y)) - height;
    m_host->widget->setGeometry(x, y, width, height);
}

void NSView::setFrame(NSRect frame)
{
    const bool resized = !NSEqualSizes(frame.size, m_frame.size);
    m_frame = frame;
    placeHost();
    // Subviews keep their distance from the bottom edge.
    if (resized)
        for (auto& subview : m_subviews)
            subview->placeHost();
}

void NSView::setFrameSize(NSSize size) { setFrame({m_frame.origin, size}); }

void NSView::setFrameOrigin(NSPoint origin) { setFrame({origin, m_frame.size}); }

void NSView::addSubview(NSView* view)
{
    if (!view || view == this || view->m_superview == this)
        return;
    Retained<NSView> keep(view);
    view->removeFromSuperview();
    m_subviews.emplace_back(view);
    view->m_superview = this;
    view->setNextResponder(this);
    if (view->m_host && m_host) {
        view->m_host->widget->setParent(m_host->widget);
        view->m_host->widget->setVisible(!view->m_hidden);
    }
    view->placeHost();
    view->viewDidMoveToWindow(m_window);
}

void NSView::removeFromSuperview()
{
    NSView* superview = m_superview;
    if (!superview)
        return;
    Retained<NSView> keep(this);
    if (m_host)
        m_host->widget->setParent(nullptr);
    auto& siblings = superview->m_subviews;
    siblings.erase(std::remove_if(siblings.begin(), siblings.end(), [this](const Retained<NSView>& v) { return v.get() == this; }),
                   siblings.end());
    m_superview = nullptr;
    setNextResponder(nullptr);
    viewDidMoveToWindow(nullptr);
}

void NSView::viewDidMoveToWindow(NSWindow* window)
{
    m_window = window;
    for (auto& subview : m_subviews)
        subview->viewDidMoveToWindow(window);
}

void NSView::setHidden(BOOL hidden)
{
    m_hidden = hidden;
    if (m_host && m_host->widget->parentWidget())
        m_host->widget->setVisible(!hidden);
}

NSPoint NSView::convertPointToBase(NSPoint point) const
{
    for (const NSView* view = this; view; view = view->m_superview) {
        point.x += view->m_frame.origin.x;
        point.y += view->m_frame.origin.y;
    }
    return point;
}

NSPoint NSView::convertPoint(NSPoint point, const NSView* fromView) const
{
    const NSPoint base = fromView ? fromView->convertPointToBase(point) : point;
    const NSPoint origin = convertPointToBase(NSZeroPoint);
    return NSMakePoint(base.x - origin.x, base.y - origin.y);
}

NSView* NSView::hitTest(NSPoint point)
{
    if (m_hidden || !NSPointInRect(point, m_frame))
        return nullptr;
    const NSPoint local = NSMakePoint(point.x - m_frame.origin.x, point.y - m_frame.origin.y);
    for (auto it = m_subviews.rbegin(); it != m_subviews.rend(); ++it)
        if (NSView* hit = (*it)->hitTest(local))
            return hit;
    return this;
}

void NSView::setAccessibilityLabel(NSString* label)
{
    if (m_host)
        m_host->widget->setAccessibleDescription(QString::fromStdString(label ? label->utf8() : std::string()));
}

void NSView::setNeedsDisplay(BOOL flag)
{
    if (flag && m_host)
        m_host->widget->update();
}

void NSView::display()
{
    if (m_host && m_host->widget->isVisible())
        m_host->widget->repaint();
}
