#include "AppKit/NSControls.h"

#include "AppKit/NSImagePrivate.h"
#include "AppKit/WindowSystem.h"
#include "Foundation/NSArray.h"
#include "Foundation/NSDateFormatter.h"
#include "Foundation/NSURL.h"
#include "Foundation/NSValue.h"

#include <QBoxLayout>
#include <QFormLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QTableWidget>
#include <QTextBrowser>

#include <cstdio>

OBJC_IMPLEMENTATION(NSControl, NSView) {}
OBJC_IMPLEMENTATION(NSTextField, NSControl) {}
OBJC_IMPLEMENTATION(NSImageView, NSControl) {}
OBJC_IMPLEMENTATION(NSButton, NSControl) {}
OBJC_IMPLEMENTATION(NSTextView, NSControl) {}
OBJC_IMPLEMENTATION(NSHTMLView, NSControl) {}
OBJC_IMPLEMENTATION(NSTableView, NSControl) {}
OBJC_IMPLEMENTATION(NSStackView, NSView) {}
OBJC_IMPLEMENTATION(NSBox, NSStackView) {}
OBJC_IMPLEMENTATION(NSFormView, NSView) {}
OBJC_IMPLEMENTATION(NSScrollView, NSView) {}

namespace {

QString qt(const std::string& utf8) { return QString::fromStdString(utf8); }
QString qt(const NSString* text) { return text ? QString::fromStdString(text->utf8()) : QString(); }

bool isA(const NSObject* object, Class cls) { return object && object->isKindOfClass(cls); }

// At most this many bytes of data are shown; the rest is counted.
constexpr NSUInteger kShownDataBytes = 4096;

std::string hexText(const NSData* data)
{
    std::string text;
    const NSUInteger shown = std::min(data->length(), kShownDataBytes);
    char byte[4];
    for (NSUInteger i = 0; i < shown; ++i) {
        std::snprintf(byte, sizeof byte, "%02X", data->bytes()[i]);
        if (i > 0)
            text += (i % 16 == 0) ? "\n" : (i % 4 == 0 ? "  " : " ");
        text += byte;
    }
    if (shown < data->length())
        text += "\n\u2026 (" + std::to_string(data->length()) + " bytes)";
    return text;
}

// A view's Qt widget is placed by the container from now on.
QWidget* arrange(NSView* container, NSView* view)
{
    container->addSubview(view);
    view->setArranged(YES);
    view->setHidden(NO);
    return view->host() ? view->host()->widget : nullptr;
}

} // namespace

std::string NSValueText::text(id value, const char* yes, const char* no)
{
    if (!value || isA(value, NSNull::class_()))
        return "\u2014";
    if (isA(value, NSString::class_()))
        return static_cast<NSString*>(value)->utf8();
    if (value->isa()->typeID == kCFTypeIDBoolean)
        return static_cast<NSNumber*>(value)->boolValue() ? yes : no;
    if (isA(value, NSDate::class_())) {
        NSString* date = NSDateFormatter::localizedStringFromDate(static_cast<NSDate*>(value), NSDateFormatterMediumStyle,
                                                                  NSDateFormatterLongStyle);
        return date ? date->utf8() : value->description()->utf8();
    }
    if (isA(value, NSData::class_()))
        return hexText(static_cast<NSData*>(value));
    if (isA(value, NSURL::class_())) {
        auto* url = static_cast<NSURL*>(value);
        NSString* path = url->isFileURL() ? url->path() : nullptr;
        return (path ? path : url->absoluteString())->utf8();
    }
    if (isA(value, NSArray::class_())) {
        auto* array = static_cast<NSArray*>(value);
        std::string lines;
        for (NSUInteger i = 0; i < array->count(); ++i)
            lines += (i ? "\n" : "") + text(array->objectAtIndex(i), yes, no);
        return lines;
    }
    if (isA(value, NSDictionary::class_())) {
        auto* dictionary = static_cast<NSDictionary*>(value);
        std::string lines;
        for (id key : *dictionary)
            lines += (lines.empty() ? "" : "\n") + text(key, yes, no) + " = " + text(dictionary->objectForKey(key), yes, no);
        return lines;
    }
    return value->description()->utf8();
}

// ---- NSControl

NSControl::~NSControl() { unbind(); }

void NSControl::adoptWidget(QWidget* widget) { setHost(std::make_unique<NSViewHost>(this, widget)); }

QWidget* NSControl::widget() const { return host() ? host()->widget : nullptr; }

id NSControl::valueAtPath(NSObject* object, const std::string& keyPath)
{
    id value = object;
    size_t start = 0;
    while (value && start <= keyPath.size()) {
        const size_t dot = keyPath.find('.', start);
        const std::string key = keyPath.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        if (!value->isa()->findProperty(key))
            return nil;
        value = value->valueForKey(key);
        if (dot == std::string::npos)
            break;
        start = dot + 1;
    }
    return value;
}

bool NSControl::attach(Binding& binding, NSObject* object, const std::string& keyPath)
{
    const std::string firstKey = keyPath.substr(0, keyPath.find('.'));
    if (!object || firstKey.empty() || !object->isa()->findProperty(firstKey))
        return false;
    if (binding.object)
        binding.object->removeObserver(this, binding.firstKey);
    binding = {object, keyPath, firstKey};
    object->addObserver(this, firstKey, 0, nullptr);
    refresh();
    return true;
}

bool NSControl::bind(NSObject* object, const std::string& keyPath) { return attach(m_value, object, keyPath); }

bool NSControl::bindEnabled(NSObject* object, const std::string& keyPath) { return attach(m_enabled, object, keyPath); }

void NSControl::unbind()
{
    for (Binding* binding : {&m_value, &m_enabled}) {
        if (binding->object)
            binding->object->removeObserver(this, binding->firstKey);
        *binding = {};
    }
}

void NSControl::refresh()
{
    AutoreleasePoolScope pool;
    if (m_value.object)
        showValue(valueAtPath(m_value.object, m_value.keyPath));
    if (m_enabled.object) {
        id value = valueAtPath(m_enabled.object, m_enabled.keyPath);
        setEnabled(isA(value, NSNumber::class_()) && static_cast<NSNumber*>(value)->boolValue());
    }
}

void NSControl::observeValueForKeyPath(NSString* keyPath, id object, NSDictionary* change, void* context)
{
    // The will-change notice of a key is not asked for; this is the did-change one.
    refresh();
}

BOOL NSControl::isEnabled() const { return widget() ? widget()->isEnabled() : NO; }

void NSControl::setEnabled(BOOL enabled)
{
    if (widget())
        widget()->setEnabled(enabled);
}

void NSControl::setBooleanTexts(const std::string& yes, const std::string& no)
{
    m_yes = yes;
    m_no = no;
    refresh();
}

void NSControl::sendAction()
{
    if (!m_target || m_action.empty())
        return;
    Retained<NSObject> keepTarget(m_target);
    if (const auto* method = m_target->isa()->findAction(m_action))
        (*method)(m_target, this);
}

// ---- NSTextField

NSView* NSTextField::initWithFrame(NSRect frame)
{
    NSControl::initWithFrame(frame);
    if (WindowSystem::isAvailable()) {
        auto* label = new QLabel;
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(true);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        // Reached with Tab too, so a screen reader's user can read each value.
        label->setFocusPolicy(Qt::StrongFocus);
        label->setMinimumWidth(40);
        adoptWidget(label);
    }
    return this;
}

NSString* NSTextField::stringValue() const
{
    auto* label = qobject_cast<QLabel*>(widget());
    return label ? NSString::stringWithUTF8(label->text().toStdString()) : NSString::string();
}

void NSTextField::setStringValue(NSString* text)
{
    if (auto* label = qobject_cast<QLabel*>(widget()))
        label->setText(qt(text));
}

void NSTextField::setTextStyle(const std::string& style)
{
    QWidget* label = widget();
    if (!label)
        return;
    QFont font = label->font();
    if (style == "title") {
        font.setPointSizeF(font.pointSizeF() * 1.5);
        font.setBold(true);
    } else if (style == "heading") {
        font.setBold(true);
    } else if (style == "warning") {
        font.setBold(true);
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, QColor(160, 20, 20));
        label->setPalette(palette);
    } else if (style == "caption") {
        font.setPointSizeF(font.pointSizeF() * 0.9);
        label->setForegroundRole(QPalette::PlaceholderText);
    }
    label->setFont(font);
}

void NSTextField::showValue(id value)
{
    auto* label = qobject_cast<QLabel*>(widget());
    if (!label)
        return;
    const bool empty = !value || (isA(value, NSString::class_()) && static_cast<NSString*>(value)->length() == 0);
    label->setText(empty && m_hidesWhenEmpty ? QString() : qt(NSValueText::text(value, m_yes.c_str(), m_no.c_str())));
    if (m_hidesWhenEmpty)
        setHidden(empty);
}

// ---- NSImageView

NSView* NSImageView::initWithFrame(NSRect frame)
{
    NSControl::initWithFrame(frame);
    if (WindowSystem::isAvailable()) {
        auto* label = new QLabel;
        label->setFixedSize(int(frame.size.width), int(frame.size.height));
        label->setAlignment(Qt::AlignCenter);
        adoptWidget(label);
    }
    return this;
}

void NSImageView::setImage(NSImage* image)
{
    auto* label = qobject_cast<QLabel*>(widget());
    if (!label)
        return;
    if (!image || !image->isValid()) {
        label->setPixmap(QPixmap());
        return;
    }
    const qreal dpr = label->devicePixelRatioF();
    const QSize box = label->size() * dpr;
    const NSSize natural = image->size();
    QSize pixels(int(natural.width * dpr), int(natural.height * dpr));
    pixels.scale(box.boundedTo(pixels.isEmpty() ? box : box), Qt::KeepAspectRatio);
    QPixmap pixmap = QPixmap::fromImage(NSImageAccess::renderAt(image, pixels));
    pixmap.setDevicePixelRatio(dpr);
    label->setPixmap(pixmap);
}

void NSImageView::showValue(id value) { setImage(isA(value, NSImage::class_()) ? static_cast<NSImage*>(value) : nullptr); }

// ---- NSButton

NSView* NSButton::initWithFrame(NSRect frame)
{
    NSControl::initWithFrame(frame);
    if (WindowSystem::isAvailable()) {
        auto* button = new QPushButton;
        QObject::connect(button, &QPushButton::clicked, button, [this] { sendAction(); });
        adoptWidget(button);
    }
    return this;
}

NSString* NSButton::title() const
{
    auto* button = qobject_cast<QPushButton*>(widget());
    return button ? NSString::stringWithUTF8(button->text().toStdString()) : NSString::string();
}

void NSButton::setTitle(NSString* title)
{
    if (auto* button = qobject_cast<QPushButton*>(widget()))
        button->setText(qt(title));
}

void NSButton::performClick(id sender)
{
    if (auto* button = qobject_cast<QPushButton*>(widget()))
        button->click();
}

// ---- NSTextView

NSView* NSTextView::initWithFrame(NSRect frame)
{
    NSControl::initWithFrame(frame);
    if (WindowSystem::isAvailable()) {
        auto* text = new QPlainTextEdit;
        text->setReadOnly(true);
        // Long lines (a problem naming a certificate, an entitlement's value)
        // wrap at the view's width rather than hide behind a scroll bar.
        text->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        text->setMinimumHeight(int(frame.size.height > 0 ? frame.size.height : 80));
        text->setTabChangesFocus(true);
        adoptWidget(text);
    }
    return this;
}

NSString* NSTextView::string() const
{
    auto* text = qobject_cast<QPlainTextEdit*>(widget());
    return text ? NSString::stringWithUTF8(text->toPlainText().toStdString()) : NSString::string();
}

void NSTextView::showValue(id value)
{
    if (auto* text = qobject_cast<QPlainTextEdit*>(widget()))
        text->setPlainText(value ? qt(NSValueText::text(value, m_yes.c_str(), m_no.c_str())) : QString());
}

// ---- NSHTMLView

NSView* NSHTMLView::initWithFrame(NSRect frame)
{
    NSControl::initWithFrame(frame);
    if (WindowSystem::isAvailable()) {
        auto* browser = new QTextBrowser;
        // The HTML comes from certificate names: nothing it names is fetched.
        browser->setOpenLinks(false);
        browser->setOpenExternalLinks(false);
        browser->setMinimumHeight(int(frame.size.height > 0 ? frame.size.height : 100));
        adoptWidget(browser);
    }
    return this;
}

void NSHTMLView::showValue(id value)
{
    auto* browser = qobject_cast<QTextBrowser*>(widget());
    if (!browser)
        return;
    if (isA(value, NSString::class_()))
        browser->setHtml(qt(static_cast<NSString*>(value)));
    else
        browser->setPlainText(value ? qt(NSValueText::text(value)) : QString());
}

// ---- NSTableView

NSView* NSTableView::initWithFrame(NSRect frame)
{
    NSControl::initWithFrame(frame);
    if (WindowSystem::isAvailable()) {
        auto* table = new QTableWidget(0, 2);
        table->setHorizontalHeaderLabels({"Name", "Value"});
        table->verticalHeader()->hide();
        table->horizontalHeader()->setStretchLastSection(true);
        table->setEditTriggers(QAbstractItemView::NoEditTriggers);
        table->setSelectionBehavior(QAbstractItemView::SelectRows);
        table->setWordWrap(false);
        table->setMinimumHeight(int(frame.size.height > 0 ? frame.size.height : 120));
        adoptWidget(table);
    }
    return this;
}

void NSTableView::setColumnTitles(const std::string& first, const std::string& second)
{
    if (auto* table = qobject_cast<QTableWidget*>(widget()))
        table->setHorizontalHeaderLabels({qt(first), qt(second)});
}

NSUInteger NSTableView::numberOfRows() const
{
    auto* table = qobject_cast<QTableWidget*>(widget());
    return table ? NSUInteger(table->rowCount()) : 0;
}

void NSTableView::showValue(id value)
{
    auto* table = qobject_cast<QTableWidget*>(widget());
    if (!table)
        return;
    table->setRowCount(0);
    auto addRow = [&](const std::string& name, const std::string& shown) {
        const int row = table->rowCount();
        table->insertRow(row);
        table->setItem(row, 0, new QTableWidgetItem(qt(name)));
        table->setItem(row, 1, new QTableWidgetItem(qt(shown)));
    };
    if (isA(value, NSDictionary::class_())) {
        auto* dictionary = static_cast<NSDictionary*>(value);
        for (id key : *dictionary)
            addRow(NSValueText::text(key), NSValueText::text(dictionary->objectForKey(key), m_yes.c_str(), m_no.c_str()));
    } else if (isA(value, NSArray::class_())) {
        auto* array = static_cast<NSArray*>(value);
        for (NSUInteger i = 0; i < array->count(); ++i)
            addRow(std::to_string(i + 1), NSValueText::text(array->objectAtIndex(i), m_yes.c_str(), m_no.c_str()));
    } else if (value) {
        addRow("", NSValueText::text(value, m_yes.c_str(), m_no.c_str()));
    }
    table->resizeColumnToContents(0);
    table->resizeRowsToContents();
}

// ---- containers

NSView* NSStackView::initWithFrame(NSRect frame)
{
    NSView::initWithFrame(frame);
    if (WindowSystem::isAvailable()) {
        auto* widget = new QWidget;
        auto* layout = new QBoxLayout(QBoxLayout::TopToBottom, widget);
        layout->setContentsMargins(0, 0, 0, 0);
        setHost(std::make_unique<NSViewHost>(this, widget));
    }
    return this;
}

namespace {
QBoxLayout* boxLayout(const NSView* view)
{
    return view->host() ? qobject_cast<QBoxLayout*>(view->host()->widget->layout()) : nullptr;
}
} // namespace

void NSStackView::setVertical(BOOL vertical)
{
    if (QBoxLayout* layout = boxLayout(this))
        layout->setDirection(vertical ? QBoxLayout::TopToBottom : QBoxLayout::LeftToRight);
}

void NSStackView::addArrangedSubview(NSView* view, int stretch)
{
    QWidget* widget = arrange(this, view);
    if (QBoxLayout* layout = boxLayout(this); layout && widget)
        layout->addWidget(widget, stretch);
}

void NSStackView::addSpacing(int points)
{
    if (QBoxLayout* layout = boxLayout(this))
        layout->addSpacing(points);
}

void NSStackView::setSpacing(int points)
{
    if (QBoxLayout* layout = boxLayout(this))
        layout->setSpacing(points);
}

void NSStackView::setMargin(int points)
{
    if (QBoxLayout* layout = boxLayout(this))
        layout->setContentsMargins(points, points, points, points);
}

void NSStackView::addStretch()
{
    if (QBoxLayout* layout = boxLayout(this))
        layout->addStretch(1);
}

NSView* NSBox::initWithFrame(NSRect frame)
{
    NSView::initWithFrame(frame);
    if (WindowSystem::isAvailable()) {
        auto* group = new QGroupBox;
        auto* layout = new QBoxLayout(QBoxLayout::TopToBottom, group);
        layout->setSpacing(6);
        setHost(std::make_unique<NSViewHost>(this, group));
    }
    return this;
}

void NSBox::setTitle(NSString* title)
{
    if (auto* group = host() ? qobject_cast<QGroupBox*>(host()->widget) : nullptr)
        group->setTitle(qt(title));
}

NSView* NSFormView::initWithFrame(NSRect frame)
{
    NSView::initWithFrame(frame);
    if (WindowSystem::isAvailable()) {
        auto* widget = new QWidget;
        auto* layout = new QFormLayout(widget);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
        layout->setLabelAlignment(Qt::AlignRight | Qt::AlignTop);
        setHost(std::make_unique<NSViewHost>(this, widget));
    }
    return this;
}

void NSFormView::addRow(NSString* label, NSView* view)
{
    QWidget* field = arrange(this, view);
    auto* layout = host() ? qobject_cast<QFormLayout*>(host()->widget->layout()) : nullptr;
    if (!layout || !field)
        return;
    auto* name = new QLabel(qt(label) + ":");
    name->setBuddy(field);
    field->setAccessibleName(field->accessibleName().isEmpty() && qobject_cast<QLabel*>(field) == nullptr
                                 ? qt(label)
                                 : field->accessibleName());
    if (field->accessibleDescription().isEmpty())
        field->setAccessibleDescription(qt(label));
    layout->addRow(name, field);
}

NSView* NSScrollView::initWithFrame(NSRect frame)
{
    NSView::initWithFrame(frame);
    if (WindowSystem::isAvailable()) {
        auto* scroll = new QScrollArea;
        scroll->setWidgetResizable(true);
        scroll->setFrameShape(QFrame::NoFrame);
        setHost(std::make_unique<NSViewHost>(this, scroll));
    }
    return this;
}

void NSScrollView::setDocumentView(NSView* view)
{
    addSubview(view);
    view->setArranged(YES);
    if (auto* scroll = host() ? qobject_cast<QScrollArea*>(host()->widget) : nullptr; scroll && view->host())
        scroll->setWidget(view->host()->widget);
}
