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

#include "tools/cabinettool.h"
#include "tools/form4.h"
#include "ui/prompter.h"

namespace ravelin::tools {

TForm5::TForm5(TForm4* chooser, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), m_chooser(chooser)
{
    setObjectName(QStringLiteral("Form5"));
    setWindowTitle(QStringLiteral("Cabinet Information"));

    Label1 = new QLabel(QStringLiteral("Cabinet File Information:"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Edit1 = new QLineEdit(this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setEnabled(false);
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
    centreOnScreen(this);
    if (m_chooser)
        Edit1->setText(m_chooser->Edit1->text());
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
    const QString listingPath = QDir::current().absoluteFilePath(QString::fromLatin1(kListingFileName));
    QApplication::setOverrideCursor(Qt::WaitCursor);
    runAndWait(cabinetToolPath(), cabinetListArguments(name), listingPath); // exit code not used
    QApplication::restoreOverrideCursor();

    QFile listing(listingPath);
    if (!listing.open(QIODevice::ReadOnly)) {
        Memo1->clear();
        ui::showMessage(this, QString::fromLatin1(kNoListingMessage), ui::Icon::None);
        return;
    }
    const QByteArray bytes = listing.readAll();
    if (listing.error() != QFileDevice::NoError) {
        Memo1->clear();
        ui::showMessage(this, QString::fromLatin1(kNoListingMessage), ui::Icon::None);
        return;
    }
    QString text = QString::fromLocal8Bit(bytes);
    text.remove(QLatin1Char('\r'));
    Memo1->setPlainText(text);
}

void TForm5::Button1Click()
{
    accept();
}

} // namespace ravelin::tools
