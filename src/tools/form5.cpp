#include "tools/form5.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>
#include <cerrno>
#include <string>

#include <sys/stat.h>

#include "platform/io.h"
#include "tools/cabinettool.h"
#include "tools/nativepath.h"
#include "ui/prompter.h"
#include "ui/window.h"

namespace ravelin::tools {

QString cabinetToolNotRunText(const QString& tool, const QString& reason)
{
    const QString start = QString::fromLatin1(kNoListingMessage) + QStringLiteral(": ");
    if (tool.isEmpty())
        return start + QString::fromLatin1(kCabinetToolName) +
               QStringLiteral(" was not found beside the program or on PATH");
    return start + tool + QStringLiteral(" could not be run: ") + reason;
}

TForm5::TForm5(QWidget* parent, const QString& cabinet)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setObjectName(QStringLiteral("Form5"));
    setWindowTitle(QStringLiteral("Cabinet Information"));

    Label1 = new QLabel(QStringLiteral("Cabinet File Information:"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Edit1 = new QLineEdit(this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setEnabled(false);
    Edit1->setText(cabinet);
    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Listings are laid out in columns.
    Memo1->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    QPalette palette = Memo1->palette();
    palette.setColor(QPalette::Text, Qt::black);
    palette.setColor(QPalette::Base, Qt::white);
    Memo1->setPalette(palette);
    Button1 = new QPushButton(QStringLiteral("&OK"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setDefault(true);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addWidget(Edit1);
    layout->addWidget(Memo1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(Button1);
    layout->addLayout(buttons);
    setFixedSize(560, 400);

    Timer1.setObjectName(QStringLiteral("Timer1"));
    Timer1.setSingleShot(true);
    Timer1.setInterval(1);
    connect(&Timer1, &QTimer::timeout, this, &TForm5::Timer1Timer);
    connect(Button1, &QPushButton::clicked, this, &TForm5::Button1Click);
}

void TForm5::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    ui::centreOnScreen(this);
    // The work starts once the window is on the screen.
    Timer1.start();
}

void TForm5::Timer1Timer()
{
    // Stopped before anything is shown, so the command runs once per showing.
    Timer1.stop();
    const QString name = Edit1->text();
    if (cabinetListCommandLine(name).size() > kMaxCommandLine) {
        ui::showMessage(this, QString::fromLatin1(kCommandTooLongMessage), ui::Icon::Error);
        return;
    }
    // The names the lister would open are looked at first, without opening
    // them: a pipe, socket or device would keep it waiting for ever, and text
    // that no longer names the file it came from would reach another one.
    const QStringList arguments = cabinetListArguments(name);
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        int error = 0;
        if (!textNamesOnePath(argument))
            error = EILSEQ;
        else if (!io::statRegular(QFile::encodeName(argument).toStdString(), nullptr, &error) &&
                 error != io::kNotRegularFile)
            error = 0; // missing or unreadable: the lister says so in its listing
        if (error) {
            Memo1->clear();
            ui::showMessage(this, cannotOpenFileText(argument, error), ui::Icon::Error);
            return;
        }
    }

    const QString listingPath = QDir::current().absoluteFilePath(QString::fromLatin1(kListingFileName));
    const std::string listingNative = QFile::encodeName(listingPath).toStdString();
    // Something other than a file under the listing's name (a pipe would
    // block the lister's output and the reading back) is not used.
    int listingError = 0;
    if (!io::statRegular(listingNative, nullptr, &listingError) && listingError == io::kNotRegularFile) {
        Memo1->clear();
        ui::showMessage(this, QString::fromLatin1(kNoListingMessage), ui::Icon::None);
        return;
    }
    const QString tool = cabinetToolPath();
    QString notRun;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    runAndWait(tool, arguments, listingPath, &notRun); // exit code not used
    QApplication::restoreOverrideCursor();
    if (tool.isEmpty() || !notRun.isEmpty()) {
        // Nothing ran, so whatever listing lies there is not this cabinet's.
        Memo1->clear();
        ui::showMessage(this, cabinetToolNotRunText(tool, notRun), ui::Icon::None);
        return;
    }

    std::string bytes;
    io::Fd listing = io::openForReading(listingNative, &listingError);
    struct stat st {};
    bool read = listing && ::fstat(listing.get(), &st) == 0;
    if (read) {
        bytes.resize(static_cast<std::size_t>(st.st_size));
        const ssize_t got = io::readAll(listing.get(), bytes.data(), bytes.size());
        read = got >= 0;
        if (read)
            bytes.resize(static_cast<std::size_t>(got));
    }
    if (!read) {
        Memo1->clear();
        ui::showMessage(this, QString::fromLatin1(kNoListingMessage), ui::Icon::None);
        return;
    }
    QString text = QString::fromLocal8Bit(bytes.data(), static_cast<qsizetype>(bytes.size()));
    text.remove(QLatin1Char('\r'));
    Memo1->setPlainText(text);
}

void TForm5::Button1Click()
{
    accept();
}

} // namespace ravelin::tools
