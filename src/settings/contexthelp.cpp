#include "settings/contexthelp.h"

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QScreen>
#include <QShortcut>
#include <QVBoxLayout>
#include <QWhatsThis>

#include "settings/help.h"

namespace ravelin::settings {

namespace {

constexpr const char* kContextHelpWindowProperty = "ravelinContextHelp";
QPointer<ContextHelpPopup> g_popup;

bool hasContextHelp(const QWidget* widget)
{
    const QWidget* window = widget->window();
    return window && window->property(kContextHelpWindowProperty).toBool();
}

// Answers Qt's "What's This?" questions for the controls of windows that
// enabled context help: the cursor shows where there is a topic, and a click
// shows it.
class WhatsThisFilter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::WhatsThis && event->type() != QEvent::QueryWhatsThis)
            return false;
        if (!watched->isWidgetType())
            return false;
        auto* control = static_cast<QWidget*>(watched);
        if (!hasContextHelp(control))
            return false;
        const int topic = helpContextOf(control);
        if (topic == 0 || helpTopicHtml(topic).isEmpty())
            return false;
        event->accept();
        if (event->type() == QEvent::WhatsThis) {
            // Shown once Qt has finished with the click that chose the control.
            QPointer<QWidget> target(control);
            QMetaObject::invokeMethod(
                this,
                [target] {
                    if (QWhatsThis::inWhatsThisMode())
                        QWhatsThis::leaveWhatsThisMode();
                    if (target)
                        showContextHelp(target);
                },
                Qt::QueuedConnection);
        }
        return true;
    }
};

void installWhatsThisFilter()
{
    static QPointer<WhatsThisFilter> filter;
    if (filter || !qApp)
        return;
    filter = new WhatsThisFilter(qApp);
    qApp->installEventFilter(filter);
}

// Gives context help to windows that show the title-bar help button.
class HelpButtonWindowWatcher : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show && watched->isWidgetType()) {
            auto* widget = static_cast<QWidget*>(watched);
            if (widget->isWindow() && (widget->windowFlags() & Qt::WindowContextHelpButtonHint) &&
                !widget->property(kContextHelpWindowProperty).toBool())
                enableContextHelp(widget);
        }
        return false;
    }
};

} // namespace

void enableContextHelpForHelpButtonWindows()
{
    static QPointer<HelpButtonWindowWatcher> watcher;
    if (watcher || !qApp)
        return;
    watcher = new HelpButtonWindowWatcher(qApp);
    qApp->installEventFilter(watcher);
}

void enableContextHelp(QWidget* window)
{
    if (!window || window->property(kContextHelpWindowProperty).toBool())
        return;
    // Changing the flags of a shown window would hide it.
    if (!(window->windowFlags() & Qt::WindowContextHelpButtonHint))
        window->setWindowFlag(Qt::WindowContextHelpButtonHint, true);
    window->setProperty(kContextHelpWindowProperty, true);
    installWhatsThisFilter();
    auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), window);
    f1->setObjectName(QStringLiteral("ContextHelpShortcut"));
    f1->setContext(Qt::WindowShortcut);
    QObject::connect(f1, &QShortcut::activated, window, [window] {
        QWidget* focus = QApplication::focusWidget();
        showContextHelp(focus && (focus == window || window->isAncestorOf(focus)) ? focus : window);
    });
}

int helpContextOf(const QWidget* control)
{
    for (const QWidget* w = control; w; w = w->parentWidget()) {
        const int topic = w->property(kHelpContextProperty).toInt();
        if (topic != 0)
            return topic;
        if (w->isWindow())
            break;
    }
    return 0;
}

bool showContextHelp(QWidget* control)
{
    if (!control)
        return false;
    const int topic = helpContextOf(control);
    if (topic == 0)
        return false;
    const QString html = helpTopicHtml(topic);
    if (html.isEmpty())
        return false;
    if (g_popup)
        g_popup->close();
    auto* popup = new ContextHelpPopup(topic, html, control);
    g_popup = popup;
    popup->adjustSize();
    QPoint corner = control->mapToGlobal(QPoint(0, 0));
    if (const QScreen* screen = control->screen()) {
        const QRect area = screen->availableGeometry();
        corner.setX(qMax(area.left(), qMin(corner.x(), area.right() + 1 - popup->width())));
        corner.setY(qMax(area.top(), qMin(corner.y(), area.bottom() + 1 - popup->height())));
    }
    popup->move(corner);
    popup->show();
    return true;
}

ContextHelpPopup::ContextHelpPopup(int topic, const QString& html, QWidget* parent)
    : QFrame(parent, Qt::Popup | Qt::FramelessWindowHint), m_topic(topic)
{
    setObjectName(QStringLiteral("ContextHelpPopup"));
    setProperty("helpTopic", topic);
    setAttribute(Qt::WA_DeleteOnClose);
    setFrameStyle(QFrame::Box | QFrame::Plain);
    setBackgroundRole(QPalette::ToolTipBase);
    setForegroundRole(QPalette::ToolTipText);
    setAutoFillBackground(true);
    m_text = new QLabel(this);
    m_text->setObjectName(QStringLiteral("ContextHelpText"));
    m_text->setTextFormat(Qt::RichText);
    m_text->setWordWrap(true);
    m_text->setText(html);
    m_text->setFixedWidth(360);
    m_text->setForegroundRole(QPalette::ToolTipText);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 6, 8, 6);
    layout->addWidget(m_text);
}

ContextHelpPopup* ContextHelpPopup::current()
{
    return g_popup;
}

void ContextHelpPopup::mousePressEvent(QMouseEvent* event)
{
    QFrame::mousePressEvent(event);
    close();
}

void ContextHelpPopup::keyPressEvent(QKeyEvent* event)
{
    event->accept();
    close();
}

} // namespace ravelin::settings
