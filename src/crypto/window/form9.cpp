#include "crypto/window/form9.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QToolButton>

#include <exception>
#include <thread>

#include "crypto/blowfish.h"
#include "crypto/codepage.h"
#include "crypto/window/animate.h"
#include "platform/paths.h"
#include "ui/icons.h"
#include "ui/panelstatusbar.h"
#include "ui/prompter.h"
#include "ui/window.h"

namespace ravelin::crypto {

namespace {

template <typename W> W* place(W* widget, const char* name, int x, int y, int w, int h)
{
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(x, y, w, h);
    return widget;
}

const QString kShortPassPhrase =
    QStringLiteral("You have not entered the correct number of Characters for a valid Pass Phrase.  "
                   "Please enter some more text.");

// The bytes of the file a path text names, or false when the text cannot
// stand for a name on disk: the file dialog shows a name byte that is not
// UTF-8 as U+FFFD, and the bytes of that text would name another file.
bool exactPath(const QString& text, std::string* bytes)
{
    const QByteArray encoded = QFile::encodeName(text);
    if (text.contains(QChar::ReplacementCharacter) || QFile::decodeName(encoded) != text)
        return false;
    *bytes = encoded.toStdString();
    return true;
}

// Lets the window paint what has just changed; the user's input waits.
void repaintNow()
{
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

} // namespace

TForm9::TForm9(QWidget* owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("Form9"));
    setWindowTitle(QStringLiteral("Encryption / Decryption"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::WindowContextHelpButtonHint);
    setFixedSize(335, 314);

    Panel1 = place(new QFrame(this), "Panel1", 0, 0, 335, 70);
    Panel1->setFrameStyle(QFrame::NoFrame);
    Animate1 = new TAnimate(Panel1);
    Animate1->setObjectName(QStringLiteral("Animate1"));
    Animate1->move((335 - Animate1->width()) / 2, (70 - Animate1->height()) / 2);
    ui::setHelpContext(Animate1, 2);

    Label2 = place(new QLabel(QStringLiteral("Pass Phrase:"), this), "Label2", 16, 78, 120, 16);
    Label1 = place(new QLabel(QStringLiteral("Bits: 0"), this), "Label1", 199, 78, 120, 16);
    Label1->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    Edit1 = place(new QLineEdit(this), "Edit1", 16, 96, 303, 22);
    Edit1->setMaxLength(kMaxPassPhrase);
    Edit1->setEchoMode(QLineEdit::Normal);
    ui::setHelpContext(Edit1, 1);
    Label2->setBuddy(Edit1);

    Label3 = place(new QLabel(QStringLiteral("Operation:"), this), "Label3", 16, 126, 120, 16);
    RadioButton1 =
        place(new QRadioButton(QStringLiteral("&Encrypt File"), this), "RadioButton1", 28, 144, 150, 20);
    RadioButton1->setChecked(true);
    ui::setHelpContext(RadioButton1, 3);
    RadioButton2 =
        place(new QRadioButton(QStringLiteral("&Decrypt File"), this), "RadioButton2", 28, 166, 150, 20);
    ui::setHelpContext(RadioButton2, 4);

    Label4 = place(new QLabel(QStringLiteral("FileName:"), this), "Label4", 16, 194, 120, 16);
    Edit2 = place(new QLineEdit(this), "Edit2", 16, 212, 277, 22);
    ui::setHelpContext(Edit2, 5);
    Label4->setBuddy(Edit2);
    SpeedButton1 = place(new QToolButton(this), "SpeedButton1", 296, 211, 24, 24);
    SpeedButton1->setAutoRaise(true);
    SpeedButton1->setFocusPolicy(Qt::NoFocus);
    SpeedButton1->setIcon(ui::picture(ui::Picture::Folder));
    SpeedButton1->setIconSize(QSize(16, 16));
    SpeedButton1->setToolTip(QStringLiteral("Select File for Encryption / Decryption"));

    Button1 = place(new QPushButton(QStringLiteral("&Encrypt"), this), "Button1", 163, 250, 75, 25);
    Button1->setDefault(true);
    ui::setHelpContext(Button1, 6);
    Button2 = place(new QPushButton(QStringLiteral("&Close"), this), "Button2", 244, 250, 75, 25);
    ui::setHelpContext(Button2, 7);

    StatusBar1 = new ui::PanelStatusBar({331}, this);
    place(StatusBar1, "StatusBar1", 0, 292, 335, 22);
    ui::setHelpContext(StatusBar1, 8);

    setTabOrder(Edit1, RadioButton1);
    setTabOrder(RadioButton1, RadioButton2);
    setTabOrder(RadioButton2, Edit2);
    setTabOrder(Edit2, Button1);
    setTabOrder(Button1, Button2);
    Edit1->setFocus();

    connect(Edit1, &QLineEdit::textChanged, this, &TForm9::Edit1Change);
    connect(RadioButton1, &QRadioButton::clicked, this, &TForm9::RadioButton1Click);
    connect(RadioButton2, &QRadioButton::clicked, this, &TForm9::RadioButton2Click);
    connect(SpeedButton1, &QToolButton::clicked, this, &TForm9::SpeedButton1Click);
    connect(Button1, &QPushButton::clicked, this, &TForm9::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm9::close);
}

TForm9::~TForm9() = default;

void TForm9::showEvent(QShowEvent* event)
{
    if (!m_centred) {
        m_centred = true;
        ui::centreOnScreen(this);
    }
    QDialog::showEvent(event);
}

void TForm9::closeEvent(QCloseEvent* event)
{
    if (m_busy) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void TForm9::reject()
{
    if (!m_busy)
        QDialog::reject();
}

void TForm9::Edit1Change()
{
    Label1->setText(QStringLiteral("Bits: ") + QString::number(Edit1->text().size() * 8));
}

void TForm9::RadioButton1Click()
{
    Button1->setText(QStringLiteral("&Encrypt"));
}

void TForm9::RadioButton2Click()
{
    Button1->setText(QStringLiteral("&Decrypt"));
}

void TForm9::SpeedButton1Click()
{
    ui::OpenFileRequest request;
    if (RadioButton1->isChecked()) {
        request.filter = QStringLiteral("Cabinet File (*.cab)");
        request.defaultSuffix = QStringLiteral("cab");
        request.title = QStringLiteral("Select File To Encrypt");
    } else {
        request.filter = QStringLiteral("Encrypted Cabinet File (*.ecf)");
        request.defaultSuffix = QStringLiteral("ecf");
        request.title = QStringLiteral("Select File To Decrypt");
    }
    const QStringList chosen = ui::prompter().openFiles(this, request);
    if (!chosen.isEmpty())
        Edit2->setText(chosen.first());
}

void TForm9::Button1Click()
{
    if (m_busy)
        return;
    if (Edit1->text().size() < kMinPassPhrase) {
        ui::beep(ui::Beep::Error);
        ui::showMessage(this, kShortPassPhrase, ui::Icon::Error, ui::Ok);
        Edit1->setFocus();
        return;
    }
    // The key is the phrase in Windows-1252; a character without a byte there
    // would have to become another one, and different phrases one key.
    if (const char32_t c = firstUnmappedCharacter(Edit1->text())) {
        ui::beep(ui::Beep::Error);
        ui::showMessage(this, unmappedPassPhraseMessage(c), ui::Icon::Error, ui::Ok);
        Edit1->setFocus();
        return;
    }
    const bool encrypt = RadioButton1->isChecked();
    std::string input;
    if (!exactPath(Edit2->text(), &input)) {
        ui::beep(ui::Beep::Error);
        ui::showMessage(this, QStringLiteral("Cannot open file ") + Edit2->text(), ui::Icon::Error, ui::Ok);
        StatusBar1->setPanelText(0, encrypt ? QStringLiteral("Error during encryption")
                                            : QStringLiteral("Error during Decryption"));
        return;
    }
    runOperation(encrypt);
}

bool TForm9::runOperation(bool encrypt)
{
    const QString file = Edit2->text();
    m_busy = true;
    std::exception_ptr failure;
    try {
        Animate1->setActive(true);
        repaintNow();
        StatusBar1->setPanelText(0,
                                 (encrypt ? QStringLiteral("Encrypting ") : QStringLiteral("Decrypting ")) +
                                     paths::namePart(file));
        repaintNow();

        auto* fish = new TBlowFish(this);
        (encrypt ? Encryptor : Decryptor) = fish;
        fish->setInputType(TBlowFish::SourceFile);
        // The text has been checked to stand for its bytes (exactPath).
        fish->setInputFilePath(file);
        fish->setOutputFilePath(
            paths::changeExtension(file, encrypt ? QStringLiteral(".ecf") : QStringLiteral(".cab")));
        fish->setKey(Edit1->text());
        fish->setCipherMode(TBlowFish::ECBMode);

        // The file work runs beside the event loop so the animation plays;
        // user input waits until it is done, so the call stays one step.
        QEventLoop wait;
        std::thread worker([&] {
            try {
                if (encrypt)
                    fish->Encrypt(false);
                else
                    fish->Decrypt(false);
            } catch (...) {
                failure = std::current_exception();
            }
            QMetaObject::invokeMethod(&wait, "quit", Qt::QueuedConnection);
        });
        wait.exec(QEventLoop::ExcludeUserInputEvents);
        worker.join();
    } catch (...) {
        failure = std::current_exception();
    }
    // The component lives for its operation only; its key text is wiped now.
    delete Encryptor.data();
    delete Decryptor.data();
    Animate1->setActive(false);
    m_busy = false;

    if (!failure) {
        StatusBar1->setPanelText(0, encrypt ? QStringLiteral("Encryption Complete!")
                                            : QStringLiteral("Decryption Complete!"));
        return true;
    }
    ui::beep(ui::Beep::Error);
    ui::showMessage(this,
                    (encrypt ? QStringLiteral("An error occured while trying to Encrypt ")
                             : QStringLiteral("An error occured while trying to Decrypt ")) +
                        file +
                        QStringLiteral(".  Please check that all parameters are correct and try again."),
                    ui::Icon::Error, ui::Ok);
    StatusBar1->setPanelText(0, encrypt ? QStringLiteral("Error during encryption")
                                        : QStringLiteral("Error during Decryption"));
    return false;
}

int runEncryptWindow(QWidget* owner)
{
    TForm9 form(owner);
    return ui::prompter().execDialog(&form);
}

} // namespace ravelin::crypto
