#include "settings/help.h"

#include <QApplication>
#include <QFile>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPointer>
#include <QPushButton>
#include <QTextBrowser>
#include <QToolButton>
#include <QVBoxLayout>

#include "platform/constants.h"
#include "settings/contexthelp.h"
#include "ui/icons.h"
#include "ui/prompter.h"

namespace ravelin::settings {

namespace {
QPointer<THelpWindow> g_helpWindow;

QString topicStart(int topic)
{
    return QStringLiteral("<!--topic:%1-->").arg(topic);
}
const QString kTopicEnd = QStringLiteral("<!--/topic-->");
} // namespace

const QList<int>& helpTopicNumbers()
{
    static const QList<int> numbers{1, 2, 3, 4, 5, 6, 7, 8, 10, 11, 12, 1001};
    return numbers;
}

QString helpDocument()
{
    static const QString document = [] {
        QFile file(QString::fromLatin1(kHelpDocumentPath));
        if (!file.open(QIODevice::ReadOnly))
            return QString();
        return QString::fromUtf8(file.readAll());
    }();
    return document;
}

QString helpTopicHtml(int topic)
{
    const QString document = helpDocument();
    const qsizetype start = document.indexOf(topicStart(topic));
    if (start < 0)
        return QString();
    const qsizetype body = start + topicStart(topic).size();
    const qsizetype end = document.indexOf(kTopicEnd, body);
    if (end < 0)
        return QString();
    return document.mid(body, end - body).trimmed();
}

QUrl helpTopicUrl(int topic)
{
    QUrl url(QStringLiteral("qrc") + QString::fromLatin1(kHelpDocumentPath));
    url.setFragment(topic != 0 && !helpTopicHtml(topic).isEmpty() ? QStringLiteral("topic%1").arg(topic)
                                                                  : QStringLiteral("contents"));
    return url;
}

THelpWindow::THelpWindow(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("HelpWindow"));
    setWindowTitle(QString::fromLatin1(kApplicationTitle) + QStringLiteral(" Help"));
    setWindowIcon(ui::picture(ui::Picture::Help));
    // The help window never keeps the program running on its own.
    setAttribute(Qt::WA_QuitOnClose, false);

    auto makeButton = [this](const char* name, const QString& text) {
        auto* b = new QToolButton(this);
        b->setObjectName(QString::fromLatin1(name));
        b->setText(text);
        b->setToolButtonStyle(Qt::ToolButtonTextOnly);
        b->setAutoRaise(true);
        return b;
    };
    ContentsButton = makeButton("ContentsButton", QStringLiteral("&Contents"));
    BackButton = makeButton("BackButton", QStringLiteral("&Back"));
    ForwardButton = makeButton("ForwardButton", QStringLiteral("&Forward"));
    TextBrowser1 = new QTextBrowser(this);
    TextBrowser1->setObjectName(QStringLiteral("TextBrowser1"));
    TextBrowser1->setOpenLinks(true);
    TextBrowser1->setOpenExternalLinks(false);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(ContentsButton);
    buttons->addWidget(BackButton);
    buttons->addWidget(ForwardButton);
    buttons->addStretch(1);
    CloseButton = new QPushButton(QStringLiteral("&Close"), this);
    CloseButton->setObjectName(QStringLiteral("CloseButton"));
    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    bottom->addWidget(CloseButton);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addLayout(buttons);
    layout->addWidget(TextBrowser1, 1);
    layout->addLayout(bottom);
    resize(640, 520);
    connect(CloseButton, &QPushButton::clicked, this, &QWidget::close);

    BackButton->setEnabled(false);
    ForwardButton->setEnabled(false);
    connect(ContentsButton, &QToolButton::clicked, this, [this] { showTopic(0); });
    connect(BackButton, &QToolButton::clicked, TextBrowser1, &QTextBrowser::backward);
    connect(ForwardButton, &QToolButton::clicked, TextBrowser1, &QTextBrowser::forward);
    connect(TextBrowser1, &QTextBrowser::backwardAvailable, BackButton, &QToolButton::setEnabled);
    connect(TextBrowser1, &QTextBrowser::forwardAvailable, ForwardButton, &QToolButton::setEnabled);
}

void THelpWindow::keyPressEvent(QKeyEvent* event)
{
    // Escape closes it as it closes a dialog; the browser and the buttons
    // leave the key to the window, wherever the focus is inside.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void THelpWindow::showTopic(int topic)
{
    TextBrowser1->setSource(helpTopicUrl(topic));
}

void showHelpTopic(int topic)
{
    if (!g_helpWindow) {
        g_helpWindow = new THelpWindow;
        if (QCoreApplication* app = QCoreApplication::instance())
            QObject::connect(app, &QCoreApplication::aboutToQuit, g_helpWindow, [] { delete g_helpWindow; });
    }
    THelpWindow* window = g_helpWindow;
    // Under a modal window an ordinary window could not be used, so the help
    // opens modal on top of it.
    QWidget* modal = QApplication::activeModalWidget();
    const Qt::WindowModality wanted = modal && modal != window ? Qt::ApplicationModal : Qt::NonModal;
    if (window->windowModality() != wanted) {
        window->hide();
        window->setWindowModality(wanted);
    }
    window->showTopic(topic);
    window->show();
    window->raise();
    window->activateWindow();
}

THelpWindow* helpWindow()
{
    return g_helpWindow;
}

void installHelp()
{
    ui::setHelpHandler(&showHelpTopic);
    enableContextHelpForHelpButtonWindows();
}

} // namespace ravelin::settings
