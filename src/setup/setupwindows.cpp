#include "setup/setupwindows.h"

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <sys/stat.h>

#include "crypto/codepage.h"
#include "platform/io.h"
#include "tools/browsefolder.h"
#include "ui/icons.h"
#include "ui/prompter.h"

namespace ravelin::setup {

namespace {

// Caption of the banner and title of every message box of the setup program.
const QString kCaption = QStringLiteral("Vaultline");
// The dialogs' captions are one non-breaking space, so they look empty.
const QString kDialogCaption = QString(QChar(0x00A0));

const QString kTooShort = QStringLiteral("You have not entered the correct number of Characters for a valid "
                                         "Pass Phrase.  Please enter some more text.");
const QString kInfDecryptionFailed = QStringLiteral(
    "An error occured while trying to perform decryption.  Please contact the person you recieved this setup "
    "package from.");
const QString kCabinetDecryptionFailed =
    QStringLiteral("An error occured while trying to perform decryption.  Please contact the person/company "
                   "you recieved this "
                   "setup package from.");
const QString kWrongPassPhrase = QStringLiteral("Sorry, you entered an inccorect pass phrase.");
const QString kMatched = QStringLiteral("Your Pass Phrase has matched.  Setup will now continue.");
const QString kInstallFailed = QStringLiteral("An error occured while trying to Install ");
const QString kNoReadme = QStringLiteral("No Readme Information Available");

// The shortest pass phrase accepted, and the most the box takes.
constexpr int kMinPassPhrase = 16;
constexpr int kMaxPassPhrase = 56;

// Readme files are shown whole up to this size.
constexpr qint64 kMaxReadmeSize = 16 * 1024 * 1024;

// A message followed by what failed and why, on a paragraph of its own.
QString withReason(const QString& message, const QString& reason)
{
    return reason.isEmpty() ? message : message + QStringLiteral("\n\n") + reason;
}

QString text(const std::string& bytes)
{
    return QFile::decodeName(QByteArray::fromStdString(bytes));
}

void tellError(QWidget* parent, const QString& text)
{
    ui::beep(ui::Beep::Error);
    ui::showMessage(parent, text, ui::Icon::Error, ui::Ok, kCaption);
}

void tellInformation(QWidget* parent, const QString& text)
{
    ui::beep(ui::Beep::Information);
    ui::showMessage(parent, text, ui::Icon::Information, ui::Ok, kCaption);
}

QLabel* label(QWidget* parent, const QString& text, const QRect& geometry, const char* name)
{
    auto* l = new QLabel(text, parent);
    l->setObjectName(QLatin1String(name));
    l->setGeometry(geometry);
    return l;
}

QLabel* picture(QWidget* parent, const QRect& geometry, const char* name)
{
    auto* l = new QLabel(parent);
    l->setObjectName(QLatin1String(name));
    l->setGeometry(geometry);
    l->setPixmap(setupPicture(qMin(geometry.width(), geometry.height())));
    return l;
}

QPushButton* button(QWidget* parent, const QString& text, const QRect& geometry, const char* name)
{
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(name));
    b->setGeometry(geometry);
    b->setAutoDefault(false);
    return b;
}

// A fixed-size dialog with a dialog border, centred on the screen.
void makeDialog(QDialog* dialog, const char* name, QSize clientSize)
{
    dialog->setObjectName(QLatin1String(name));
    dialog->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    dialog->setWindowTitle(kDialogCaption);
    dialog->setFont(dialogFont());
    dialog->setFixedSize(clientSize);
    dialog->setModal(true);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        dialog->move(area.center() - QPoint(clientSize.width() / 2, clientSize.height() / 2));
    }
}

} // namespace

QPixmap setupPicture(int size)
{
    return ui::ownPicture(ui::Picture::Application).pixmap(QSize(size, size));
}

QFont dialogFont()
{
    // The first Windows face the machine really has; otherwise the default
    // sans serif narrowed, so the dialogs' fixed layout holds its texts (a
    // font configuration answers any name with its default face, which is
    // too wide for them).
    static const QString family = [] {
        const QStringList families = QFontDatabase::families();
        for (const char* name : {"MS Sans Serif", "Microsoft Sans Serif", "Liberation Sans Narrow"})
            if (families.contains(QLatin1String(name), Qt::CaseInsensitive))
                return QString::fromLatin1(name);
        return QString();
    }();
    QFont font;
    if (family.isEmpty())
        font.setStretch(QFont::Condensed);
    else
        font.setFamily(family);
    font.setPointSize(8);
    return font;
}

// ---- Pass phrase ------------------------------------------------------------

PassPhraseDialog::PassPhraseDialog(SetupContext* context, QWidget* parent)
    : QDialog(parent), m_context(context)
{
    makeDialog(this, "PassPhraseDialog", QSize(320, 204));
    picture(this, QRect(8, 8, 37, 37), "Image1");
    QLabel* product = label(this, QStringLiteral("Korvane Vaultline v1.0"), QRect(56, 18, 256, 18), "Label1");
    QFont bold = product->font();
    bold.setBold(true);
    product->setFont(bold);
    label(this, QStringLiteral("Before setup can run you must enter the Pass Phrase required to"),
          QRect(8, 54, 308, 16), "Label2");
    label(this, QStringLiteral("decrypt the setup files."), QRect(8, 70, 308, 16), "Label3");
    label(this, QStringLiteral("Please ensure you enter the pass phrase correctly."), QRect(8, 92, 308, 16),
          "Label4");
    label(this, QStringLiteral("Pass Phrase:"), QRect(8, 121, 70, 16), "Label5");
    Edit1 = new QLineEdit(this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setGeometry(80, 118, 232, 21);
    Edit1->setMaxLength(kMaxPassPhrase);
    Edit1->setEchoMode(QLineEdit::Normal);
    Button1 = button(this, QStringLiteral("&Next >"), QRect(150, 150, 78, 25), "Button1");
    Button1->setDefault(true);
    Button2 = button(this, QStringLiteral("&Cancel"), QRect(234, 150, 78, 25), "Button2");
    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setGeometry(0, 184, 320, 20);
    StatusBar1->setSizeGripEnabled(false);
    m_panel = new QLabel(StatusBar1);
    m_panel->setObjectName(QStringLiteral("Panel0"));
    m_panel->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    StatusBar1->addWidget(m_panel, 1);
    Edit1->setFocus();

    connect(Button1, &QPushButton::clicked, this, &PassPhraseDialog::Button1Click);
    connect(Button2, &QPushButton::clicked, this, [this] { done(EndProgram); });
}

QString PassPhraseDialog::statusText() const
{
    return m_panel->text();
}

void PassPhraseDialog::setStatus(const QString& text)
{
    m_panel->setText(text);
    // Let the panel show before the decryption holds the thread.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void PassPhraseDialog::Button1Click()
{
    const QString passPhrase = Edit1->text();
    if (passPhrase.size() < kMinPassPhrase) {
        tellError(this, kTooShort);
        Edit1->setFocus();
        return;
    }
    // The key is the phrase in Windows-1252, as the package was made; a
    // character without a byte there can be in no package's pass phrase.
    if (const char32_t c = crypto::firstUnmappedCharacter(passPhrase)) {
        tellError(this, crypto::unmappedPassPhraseMessage(c));
        Edit1->setFocus();
        return;
    }
    setStatus(QStringLiteral("Working..."));

    const InfCheckResult check = decryptAndCheckInf(*m_context, passPhrase);
    switch (check.outcome) {
    case InfCheck::Failed:
        tellError(this, withReason(kInfDecryptionFailed, check.reason));
        setStatus(QStringLiteral("Error!"));
        return; // stays: the end user may correct the package and retry
    case InfCheck::WrongPassPhrase:
        tellError(this, kWrongPassPhrase);
        done(EndProgram);
        return;
    case InfCheck::Matched:
        break;
    }

    QString reason;
    if (!decryptCabinet(*m_context, passPhrase, &reason)) {
        tellError(this, withReason(kCabinetDecryptionFailed, reason));
        setStatus(QStringLiteral("Error!"));
        done(EndProgram);
        return;
    }
    setStatus(QStringLiteral("Ok, Done"));
    tellInformation(this, kMatched);
    done(Continue);
}

// ---- Readme -----------------------------------------------------------------

ReadmeDialog::ReadmeDialog(SetupContext* context, QWidget* parent) : QDialog(parent)
{
    makeDialog(this, "ReadmeDialog", QSize(319, 345));
    picture(this, QRect(8, 8, 37, 37), "Image1");
    label(this, QStringLiteral("Please read this information carefully."), QRect(56, 10, 255, 16), "Label1");
    label(this, QStringLiteral("To see more text use the scrollbar"), QRect(56, 28, 255, 16), "Label2");
    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setGeometry(8, 52, 303, 250);
    Memo1->setReadOnly(true);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Button1 = button(this, QStringLiteral("&Next >"), QRect(149, 312, 78, 25), "Button1");
    Button1->setDefault(true);
    Button2 = button(this, QStringLiteral("&Exit"), QRect(233, 312, 78, 25), "Button2");

    // An unreadable readme (no name, no file, a path) shows the fixed line.
    QString text = kNoReadme;
    const QString name = context->settings.readmeFileName;
    if (installer::isSafeFileName(name)) {
        // A regular file only: a pipe under the readme's name must not hold
        // the program before its first window.
        int error = 0;
        io::Fd file = io::openForReading(
            context->packageDirectory + "/" + QFile::encodeName(name).toStdString(), &error);
        struct stat st {};
        if (file && ::fstat(file.get(), &st) == 0) {
            QByteArray bytes(qsizetype(std::min<qint64>(st.st_size, kMaxReadmeSize)), Qt::Uninitialized);
            const ssize_t n = io::readAll(file.get(), bytes.data(), std::size_t(bytes.size()));
            if (n >= 0) {
                bytes.truncate(n);
                text = QString::fromLocal8Bit(bytes);
            }
        }
    }
    Memo1->setPlainText(text);

    connect(Button1, &QPushButton::clicked, this, [this] { done(Continue); });
    connect(Button2, &QPushButton::clicked, this, [this] { done(EndProgram); });
}

// ---- Ready ------------------------------------------------------------------

ReadyDialog::ReadyDialog(SetupContext* context, QWidget* parent) : QDialog(parent), m_context(context)
{
    makeDialog(this, "ReadyDialog", QSize(278, 147));
    label(this, QStringLiteral("Setup is ready to proceed with the installation."), QRect(52, 10, 222, 16),
          "Label1");
    label(this, QStringLiteral("Click Next to continue"), QRect(52, 30, 222, 16), "Label2");
    picture(this, QRect(8, 8, 37, 37), "Image1");
    label(this, QStringLiteral("Files will be installed to:"), QRect(8, 56, 262, 16), "Label3");
    Edit1 = new QLineEdit(this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setGeometry(8, 74, 186, 23);
    Button3 = button(this, QStringLiteral("&Browse..."), QRect(200, 73, 70, 25), "Button3");
    Button1 = button(this, QStringLiteral("&Next >"), QRect(110, 114, 78, 25), "Button1");
    Button1->setDefault(true);
    Button2 = button(this, QStringLiteral("&Cancel"), QRect(194, 114, 78, 25), "Button2");
    connect(Edit1, &QLineEdit::textChanged, this,
            [this](const QString& t) { Button1->setEnabled(!t.isEmpty()); });
    connect(Button3, &QPushButton::clicked, this, &ReadyDialog::Button3Click);
    connect(Button1, &QPushButton::clicked, this, &ReadyDialog::Button1Click);
    connect(Button2, &QPushButton::clicked, this, [this] { done(EndProgram); });
}

void ReadyDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    FormShow();
}

void ReadyDialog::FormShow()
{
    // Once: the INF is decrypted by the time the dialog first shows, and a
    // destination the end user typed survives the dialog being shown again.
    if (m_shown)
        return;
    m_shown = true;
    m_defaultText = text(defaultInstallDirectory(*m_context));
    Edit1->setText(m_defaultText);
    Edit1->setCursorPosition(0);
    Button1->setFocus();
}

void ReadyDialog::Button3Click()
{
    tools::TBrowseFolder browse(this);
    browse.setObjectName(QStringLiteral("BrowseFolder1"));
    browse.setTitle(QStringLiteral("Choose the folder to install the files into:"));
    browse.setFlags(tools::bfFileSysDirsOnly);
    browse.setFolder(tools::TSHFolders::foDesktop);
    // Start at the destination, or the nearest folder above it that exists
    // (it is usually still to be made).
    QString start =
        QDir::cleanPath(QFile::decodeName(typedInstallDirectory(*m_context, Edit1->text()).c_str()));
    while (!start.isEmpty() && !QFileInfo(start).isDir() && start != u'/')
        start = QFileInfo(start).path();
    // The picker selects its root first; the first change of selection is
    // that, and the place to move to the start.
    auto moved = std::make_shared<bool>(false);
    browse.setOnSelectionChanged([start, moved](QDialog* dialog, int, const tools::TItemIDList&) {
        if (*moved)
            return;
        *moved = true;
        if (auto* d = qobject_cast<tools::TBrowseFolderDialog*>(dialog))
            d->setSelectionPath(start);
    });
    if (browse.Execute() && !browse.Directory().isEmpty())
        Edit1->setText(browse.Directory());
}

void ReadyDialog::Button1Click()
{
    const QString typed = Edit1->text();
    if (typed.isEmpty())
        return;
    // The default is kept as bytes; only a changed text is taken as typed.
    m_context->installDirectory =
        typed == m_defaultText ? std::string() : typedInstallDirectory(*m_context, typed);
    hide();
    // Synchronous: the outcome is known when the call returns.
    const installer::InstallResult result = install(*m_context);
    QWidget* owner = parentWidget();
    if (!result.ok()) {
        tellError(owner, withReason(kInstallFailed + m_context->settings.description + QStringLiteral("."),
                                    result.reason));
        done(EndProgram);
        return;
    }
    const QString where = !result.installDirectory.isEmpty()    ? result.installDirectory
                          : m_context->installDirectory.empty() ? m_defaultText
                                                                : text(m_context->installDirectory);
    tellInformation(owner,
                    QStringLiteral("Setup has completed successfully\n\nFiles installed to: ") + where);
    done(Continue);
}

// ---- Banner -----------------------------------------------------------------

// The setup title in Arial bold, 32 pixels, black over a white drop shadow.
class BannerLabel : public QWidget {
public:
    explicit BannerLabel(QWidget* parent) : QWidget(parent)
    {
        setObjectName(QStringLiteral("Label1"));
        QFont font(QStringLiteral("Arial"));
        font.setFamilies(
            {QStringLiteral("Arial"), QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
        font.setBold(true);
        font.setPixelSize(32);
        font.setStretch(QFont::Unstretched);
        setFont(font);
    }
    QString text;
    void setText(const QString& t)
    {
        text = t;
        const QFontMetrics metrics(font());
        resize(metrics.horizontalAdvance(text) + 4, metrics.height() + 4);
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setFont(font());
        const int base = QFontMetrics(font()).ascent();
        p.setPen(Qt::white);
        p.drawText(2, base + 2, text);
        p.setPen(Qt::black);
        p.drawText(0, base, text);
    }
};

SetupBanner::SetupBanner(const std::string& packageDirectory, QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("SetupBanner"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowStaysOnTopHint);
    setWindowTitle(kCaption);
    // Maximised; the screen's size as well for a desktop that cannot maximise.
    if (QScreen* screen = QGuiApplication::primaryScreen())
        setGeometry(screen->availableGeometry());
    setWindowState(Qt::WindowMaximized);
    setFont(dialogFont());
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(64, 128, 128));
    setPalette(pal);

    loadContext(&m_context, packageDirectory);

    picture(this, QRect(8, 8, 37, 37), "Image1");
    m_label = new BannerLabel(this);
    m_label->move(52, 6);
    m_label->setText(m_context.settings.title);

    m_pass = new PassPhraseDialog(&m_context, this);
    m_readme = new ReadmeDialog(&m_context, this);
    m_ready = new ReadyDialog(&m_context, this);
}

QString SetupBanner::titleText() const
{
    return m_label->text;
}

bool SetupBanner::event(QEvent* e)
{
    // Activation starts the dialogs; a desktop without a window manager never
    // activates anything, so being shown counts too.
    if ((e->type() == QEvent::WindowActivate || e->type() == QEvent::Show) && !m_started) {
        m_started = true;
        // Not from inside the event: the dialogs run their own loops.
        QTimer::singleShot(0, this, [this] { run(); });
    }
    return QWidget::event(e);
}

int SetupBanner::run()
{
    m_started = true;
    int code = 1;
    if (ui::prompter().execDialog(m_pass) == Continue && ui::prompter().execDialog(m_readme) == Continue &&
        ui::prompter().execDialog(m_ready) == Continue)
        code = 0;
    // Installed, failed, cancelled or refused: the decrypted files go.
    m_context.work.remove();
    emit finished(code);
    return code;
}

} // namespace ravelin::setup
