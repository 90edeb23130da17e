#include "ui/prompter.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>

#include "platform/constants.h"

namespace ravelin::ui {

namespace {
Prompter* g_prompter = nullptr;
std::function<void(int)> g_helpHandler;

struct ButtonMap {
    Button ours;
    QMessageBox::StandardButton qt;
};
constexpr ButtonMap kButtons[] = {
    {Ok, QMessageBox::Ok},         {Cancel, QMessageBox::Cancel}, {Yes, QMessageBox::Yes},
    {No, QMessageBox::No},         {Retry, QMessageBox::Retry},   {Abort, QMessageBox::Abort},
    {Ignore, QMessageBox::Ignore}, {Help, QMessageBox::Help},
};
} // namespace

Prompter& prompter()
{
    static QtPrompter qtPrompter;
    if (g_prompter)
        return *g_prompter;
    return qtPrompter;
}

void setPrompter(Prompter* p)
{
    g_prompter = p;
}

void setHelpHandler(std::function<void(int)> handler)
{
    g_helpHandler = std::move(handler);
}

void invokeHelp(int topic)
{
    if (g_helpHandler)
        g_helpHandler(topic);
}

int showMessage(QWidget* parent, const QString& text, Icon icon, int buttons, const QString& title,
                int helpTopic)
{
    Message m;
    m.text = text;
    m.icon = icon;
    m.buttons = buttons;
    m.title = title;
    m.helpTopic = helpTopic;
    return prompter().message(parent, m);
}

void beep(Beep kind)
{
    prompter().beep(kind);
}

namespace {
QString& titleStore()
{
    static QString title = QString::fromLatin1(kApplicationTitle);
    return title;
}
} // namespace

QString applicationTitle()
{
    return titleStore();
}

void setApplicationTitle(const QString& title)
{
    titleStore() = title;
}

int QtPrompter::message(QWidget* parent, const Message& m)
{
    QMessageBox box(parent);
    box.setWindowTitle(m.title.isEmpty() ? applicationTitle() : m.title);
    box.setText(m.text);
    switch (m.icon) {
    case Icon::None:
        box.setIcon(QMessageBox::NoIcon);
        break;
    case Icon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case Icon::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
    case Icon::Error:
        box.setIcon(QMessageBox::Critical);
        break;
    case Icon::Question:
        box.setIcon(QMessageBox::Question);
        break;
    }
    QMessageBox::StandardButtons qtButtons;
    for (const auto& b : kButtons)
        if (m.buttons & b.ours)
            qtButtons |= b.qt;
    if (!qtButtons)
        qtButtons = QMessageBox::Ok;
    box.setStandardButtons(qtButtons);
    for (const auto& b : kButtons)
        if (m.defaultButton == b.ours)
            box.setDefaultButton(b.qt);
    if (QAbstractButton* help = box.button(QMessageBox::Help)) {
        // Help shows the topic and leaves the box open, as a help button should.
        help->disconnect();
        const int topic = m.helpTopic;
        QObject::connect(help, &QAbstractButton::clicked, help, [topic] { invokeHelp(topic); });
    }
    if (m.helpTopic != 0) {
        // F1 asks for the box's topic, as in any window that carries one.
        auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), &box);
        const int topic = m.helpTopic;
        QObject::connect(f1, &QShortcut::activated, &box, [topic] { invokeHelp(topic); });
    }
    box.exec();
    const QMessageBox::StandardButton pressed = box.standardButton(box.clickedButton());
    for (const auto& b : kButtons)
        if (b.qt == pressed)
            return b.ours;
    // Closed by Escape or the title bar: the cancelling button, else OK.
    if (m.buttons & Cancel)
        return Cancel;
    if (m.buttons & No)
        return No;
    return Ok;
}

void QtPrompter::beep(Beep)
{
    QApplication::beep();
}

QStringList QtPrompter::openFiles(QWidget* parent, const OpenFileRequest& r)
{
    QFileDialog dialog(parent, r.title, r.directory.isEmpty() ? QDir::currentPath() : r.directory, r.filter);
    dialog.setFileMode(r.multiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (!r.defaultSuffix.isEmpty())
        dialog.setDefaultSuffix(r.defaultSuffix);
    dialog.setOption(QFileDialog::DontUseNativeDialog, r.helpButton);
    if (r.helpButton) {
        if (auto* box = dialog.findChild<QDialogButtonBox*>()) {
            QPushButton* help = box->addButton(QDialogButtonBox::Help);
            const int topic = r.helpTopic;
            QObject::connect(help, &QPushButton::clicked, help, [topic] { invokeHelp(topic); });
        }
    }
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles();
}

int QtPrompter::execDialog(QDialog* dialog)
{
    return dialog->exec();
}

bool QtPrompter::openUrl(const QUrl& url)
{
    return QDesktopServices::openUrl(url);
}

void QtPrompter::showHelp(int topic)
{
    invokeHelp(topic);
}

} // namespace ravelin::ui
