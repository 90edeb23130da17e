#include "distribution/wizard/form7.h"

#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <limits>

#include "crypto/codepage.h"

#include "ui/prompter.h"

namespace ravelin::distribution {

namespace {

constexpr int kStripWidth = 120;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;

const char* const kCaptions[] = {
    "Distribution Wizard - Introduction", "Distribution Wizard - Step 1",   "Distribution Wizard - Step 2",
    "Distribution Wizard - Step 3",       "Distribution Wizard - Complete",
};

// The picture along the left edge: the artwork scaled to cover the strip,
// centred, so it fills the full height of the window on every page.
class PictureStrip : public QWidget {
public:
    explicit PictureStrip(QWidget* parent)
        : QWidget(parent), m_picture(QStringLiteral(":/wizard/wizard-strip.png"))
    {
        setObjectName(QStringLiteral("Image1"));
        setFixedWidth(kStripWidth);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), QColor(0x1f, 0x4e, 0x9a));
        if (m_picture.isNull())
            return;
        const QSize scaled = m_picture.size().scaled(size(), Qt::KeepAspectRatioByExpanding);
        const QRect target(QPoint((width() - scaled.width()) / 2, (height() - scaled.height()) / 2), scaled);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawPixmap(target, m_picture);
    }

private:
    QPixmap m_picture;
};

QLabel* textLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

QLineEdit* field(const QString& name, QWidget* parent)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    // The wizard's fields take text of any length.
    edit->setMaxLength(std::numeric_limits<int>::max());
    return edit;
}

QPushButton* button(const QString& name, const QString& text, QWidget* parent)
{
    auto* b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setFixedSize(kButtonWidth, kButtonHeight);
    // No button becomes the default by taking the focus: Enter in a field
    // presses only the page's own default button (keyPressEvent).
    b->setAutoDefault(false);
    return b;
}

// A page: its content above, its buttons along the bottom right (Back and
// Next together, Cancel apart).
QVBoxLayout* pageLayout(QWidget* page)
{
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(12, 10, 10, 10);
    layout->setSpacing(4);
    return layout;
}

void addButtonRow(QVBoxLayout* layout, std::initializer_list<QPushButton*> together, QPushButton* apart)
{
    auto* row = new QHBoxLayout;
    row->setSpacing(0);
    row->addStretch(1);
    for (QPushButton* b : together)
        row->addWidget(b);
    if (apart) {
        row->addSpacing(10);
        row->addWidget(apart);
    }
    layout->addStretch(1);
    layout->addLayout(row);
}

} // namespace

TForm7::TForm7(const WizardSource& source, QWidget* parent) : QDialog(parent), m_source(source)
{
    setObjectName(QStringLiteral("Form7"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setModal(true);
    setFixedSize(kClientWidth, kClientHeight);
    setSizeGripEnabled(false);

    auto* root = new QHBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);
    root->addWidget(new PictureStrip(this));
    m_pages = new QStackedWidget(this);
    m_pages->setObjectName(QStringLiteral("Pages"));
    root->addWidget(m_pages, 1);

    m_pages->addWidget(buildIntroduction());
    m_pages->addWidget(buildStep1());
    m_pages->addWidget(buildStep2());
    m_pages->addWidget(buildStep3());
    m_pages->addWidget(buildComplete());

    connect(Button5, &QPushButton::clicked, this, &TForm7::Button5Click);
    connect(Button1, &QPushButton::clicked, this, &TForm7::Button1Click);
    connect(Button3, &QPushButton::clicked, this, &TForm7::Button3Click);
    connect(Button8, &QPushButton::clicked, this, &TForm7::Button8Click);
    connect(Button9, &QPushButton::clicked, this, &TForm7::Button9Click);
    connect(Button11, &QPushButton::clicked, this, &TForm7::Button11Click);
    connect(Button12, &QPushButton::clicked, this, &TForm7::Button12Click);
    for (QPushButton* b : {Button6, Button2, Button7, Button10, Button13})
        connect(b, &QPushButton::clicked, this, &QDialog::reject);

    showPage(Page::Introduction);
}

TForm7::~TForm7() = default;

QWidget* TForm7::buildIntroduction()
{
    auto* page = new QWidget(m_pages);
    page->setObjectName(QStringLiteral("IntroductionPage"));
    auto* layout = pageLayout(page);
    layout->setSpacing(10);
    layout->addWidget(textLabel(
        QStringLiteral(
            "This wizard is designed to help you make a basic INF file, for use with the Setup API.  "
            "If your INF file is intended for use with an encrypted cab file, you can choose to "
            "create a setup.exe which requires the user to enter your Pass Phrase to install."),
        page));
    layout->addWidget(
        textLabel(QStringLiteral("Please fill in all of the information requested, as this will "
                                 "help to make a problem free setup package."),
                  page));
    layout->addWidget(
        textLabel(QStringLiteral("If you are ready to continue, please click Next >.  Otherwise "
                                 "click cancel.  You can  return to a previous page to make "
                                 "changes at any point in the process."),
                  page));
    Button4 = button(QStringLiteral("Button4"), QStringLiteral("< &Back"), page);
    Button4->setEnabled(false);
    Button5 = button(QStringLiteral("Button5"), QStringLiteral("&Next >"), page);
    Button6 = button(QStringLiteral("Button6"), QStringLiteral("&Cancel"), page);
    addButtonRow(layout, {Button4, Button5}, Button6);
    return page;
}

QWidget* TForm7::buildStep1()
{
    auto* page = new QWidget(m_pages);
    page->setObjectName(QStringLiteral("Step1Page"));
    auto* layout = pageLayout(page);

    Edit1 = field(QStringLiteral("Edit1"), page);
    Edit2 = field(QStringLiteral("Edit2"), page);
    Edit3 = field(QStringLiteral("Edit3"), page);
    Edit3->setText(QString::fromLatin1(kDefaultInstallDirectory));
    ListBox1 = new QListWidget(page);
    ListBox1->setObjectName(QStringLiteral("ListBox1"));
    // The entries can be looked at and selected; every one goes into the INF.
    ListBox1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListBox1->setEditTriggers(QAbstractItemView::NoEditTriggers);

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(3);
    auto* fields = new QVBoxLayout;
    fields->setSpacing(3);
    fields->addWidget(textLabel(QStringLiteral("Cab Name:"), page));
    fields->addWidget(Edit1);
    fields->addSpacing(6);
    fields->addWidget(textLabel(QStringLiteral("Output Directory for .inf file:"), page));
    fields->addWidget(Edit2);
    fields->addSpacing(6);
    fields->addWidget(textLabel(QStringLiteral("Install Directory: (Do not include drive)"), page));
    fields->addWidget(Edit3);
    fields->addStretch(1);
    auto* list = new QVBoxLayout;
    list->setSpacing(3);
    list->addWidget(textLabel(QStringLiteral("File List:"), page));
    list->addWidget(ListBox1, 1);
    grid->addLayout(fields, 0, 0);
    grid->addLayout(list, 0, 1);
    grid->setColumnStretch(0, 3);
    grid->setColumnStretch(1, 2);
    layout->addLayout(grid, 1);

    Button3 = button(QStringLiteral("Button3"), QStringLiteral("< &Back"), page);
    Button1 = button(QStringLiteral("Button1"), QStringLiteral("&Next >"), page);
    Button2 = button(QStringLiteral("Button2"), QStringLiteral("&Cancel"), page);
    auto* row = new QHBoxLayout;
    row->setSpacing(0);
    row->addStretch(1);
    row->addWidget(Button3);
    row->addWidget(Button1);
    row->addSpacing(10);
    row->addWidget(Button2);
    layout->addSpacing(6);
    layout->addLayout(row);
    return page;
}

QWidget* TForm7::buildStep2()
{
    auto* page = new QWidget(m_pages);
    page->setObjectName(QStringLiteral("Step2Page"));
    auto* layout = pageLayout(page);
    m_outcome = textLabel(QString(), page);
    m_outcome->setObjectName(QStringLiteral("Label5"));
    layout->addWidget(m_outcome);
    layout->addSpacing(4);
    layout->addWidget(
        textLabel(QStringLiteral("If you wish to create a setup.exe for your encrypted cab file, "
                                 "fill in the information requested below and click Next.  If you "
                                 "wish to finish here, click Cancel."),
                  page));
    layout->addSpacing(4);
    Edit4 = field(QStringLiteral("Edit4"), page);
    Edit5 = field(QStringLiteral("Edit5"), page);
    Edit6 = field(QStringLiteral("Edit6"), page);
    Edit6->setText(QStringLiteral("readme.txt"));
    layout->addWidget(textLabel(
        QStringLiteral("Please enter your Setup Title (This appears at the top of the setup window:)"),
        page));
    layout->addWidget(Edit4);
    layout->addWidget(
        textLabel(QStringLiteral("Enter a brief description of what you are installing:"), page));
    layout->addWidget(Edit5);
    layout->addWidget(textLabel(QStringLiteral("Readme File Name (do not include path:)"), page));
    layout->addWidget(Edit6);

    Button9 = button(QStringLiteral("Button9"), QStringLiteral("&< &Back"), page);
    Button8 = button(QStringLiteral("Button8"), QStringLiteral("&Next >"), page);
    Button7 = button(QStringLiteral("Button7"), QStringLiteral("&Cancel"), page);
    addButtonRow(layout, {Button9, Button8}, Button7);
    return page;
}

QWidget* TForm7::buildStep3()
{
    auto* page = new QWidget(m_pages);
    page->setObjectName(QStringLiteral("Step3Page"));
    auto* layout = pageLayout(page);
    layout->setSpacing(10);
    layout->addWidget(
        textLabel(QStringLiteral("Finally you must enter your Pass Phrase so the last of the setup "
                                 "files can be encrypted.  Once you have entered your Pass Phrase, "
                                 "you can click Finish."),
                  page));
    layout->addWidget(textLabel(
        QStringLiteral(
            "NOTE:  Your Pass Phrase must be the same as the one you used to encrypt your cab file."),
        page));
    Edit7 = field(QStringLiteral("Edit7"), page);
    auto* fieldBox = new QVBoxLayout;
    fieldBox->setSpacing(3);
    fieldBox->addWidget(textLabel(QStringLiteral("Please enter your Pass Phrase:"), page));
    fieldBox->addWidget(Edit7);
    layout->addLayout(fieldBox);

    Button12 = button(QStringLiteral("Button12"), QStringLiteral("< &Back"), page);
    Button11 = button(QStringLiteral("Button11"), QStringLiteral("&Finish"), page);
    Button10 = button(QStringLiteral("Button10"), QStringLiteral("&Cancel"), page);
    addButtonRow(layout, {Button12, Button11}, Button10);
    return page;
}

QWidget* TForm7::buildComplete()
{
    auto* page = new QWidget(m_pages);
    page->setObjectName(QStringLiteral("CompletePage"));
    auto* layout = pageLayout(page);
    layout->setSpacing(8);
    auto* success = textLabel(QStringLiteral("Sucess!  Your distribution package is now ready."), page);
    QFont bold = success->font();
    bold.setBold(true);
    success->setFont(bold);
    layout->addWidget(success);
    layout->addWidget(
        textLabel(QStringLiteral("These are the files you need to distrubute to your user."), page));
    m_completeDirectory = textLabel(QString(), page);
    m_completeDirectory->setObjectName(QStringLiteral("Label19"));
    layout->addWidget(m_completeDirectory);
    m_completeFiles = textLabel(QString(), page);
    m_completeFiles->setObjectName(QStringLiteral("Label20"));
    m_completeFiles->setWordWrap(false);
    m_completeFiles->setIndent(16);
    layout->addWidget(m_completeFiles);
    layout->addWidget(textLabel(
        QStringLiteral(
            "Remember you should only tell another person the Pass Phrase if you can do so securely."),
        page));

    Button13 = button(QStringLiteral("Button13"), QStringLiteral("&Close"), page);
    addButtonRow(layout, {Button13}, nullptr);
    return page;
}

// --- pages ----------------------------------------------------------------

TForm7::Page TForm7::currentPage() const
{
    return static_cast<Page>(m_pages->currentIndex());
}

QWidget* TForm7::page(Page which) const
{
    return m_pages->widget(static_cast<int>(which));
}

void TForm7::showPage(Page which)
{
    m_pages->setCurrentIndex(static_cast<int>(which));
    setWindowTitle(QString::fromLatin1(kCaptions[static_cast<int>(which)]));
    // Only Finish and Close answer Enter; the other pages have no default.
    Button11->setDefault(which == Page::Step3);
    Button13->setDefault(which == Page::Complete);
    switch (which) {
    case Page::Introduction:
        Button5->setFocus();
        break;
    case Page::Step1:
        Edit1->setFocus();
        break;
    case Page::Step2:
        Edit4->setFocus();
        break;
    case Page::Step3:
        Edit7->setFocus();
        break;
    case Page::Complete:
        Button13->setFocus();
        break;
    }
}

namespace {

// The bytes the writers take for a field's text.
std::string bytesOf(const QString& text)
{
    return QFile::encodeName(text).toStdString();
}

} // namespace

InfRequest TForm7::infRequest() const
{
    InfRequest r;
    r.cabinetName = bytesOf(Edit1->text());
    r.outputDirectory = bytesOf(Edit2->text());
    r.installDirectory = bytesOf(Edit3->text());
    for (int i = 0; i < ListBox1->count(); ++i)
        r.fileNames.push_back(bytesOf(ListBox1->item(i)->text()));
    return r;
}

SetupPackageRequest TForm7::setupRequest() const
{
    SetupPackageRequest r;
    r.cabinetName = bytesOf(Edit1->text());
    r.outputDirectory = bytesOf(Edit2->text());
    r.installDirectory = bytesOf(Edit3->text());
    r.title = bytesOf(Edit4->text());
    r.description = bytesOf(Edit5->text());
    r.readmeFileName = bytesOf(Edit6->text());
    r.passPhrase = Edit7->text();
    return r;
}

QString TForm7::outcomeLine() const
{
    return m_outcome->text();
}

QString TForm7::completeDirectoryLine() const
{
    return m_completeDirectory->text();
}

QStringList TForm7::completeFileList() const
{
    return m_completeFileList;
}

void TForm7::showError(const QString& text, int helpTopic)
{
    ui::beep(ui::Beep::Error);
    ui::showMessage(this, text, ui::Icon::Error, ui::Ok, QString(), helpTopic);
}

// --- handlers -------------------------------------------------------------

void TForm7::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // A wizard is shown once; its fields are filled on that first showing.
    if (!event->spontaneous() && !m_shown) {
        m_shown = true;
        FormShow();
    }
}

void TForm7::keyPressEvent(QKeyEvent* event)
{
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        if (auto* focused = qobject_cast<QPushButton*>(focusWidget()); focused && focused->isVisible()) {
            if (focused->isEnabled())
                focused->click();
            return;
        }
    }
    QDialog::keyPressEvent(event);
}

void TForm7::FormShow()
{
    for (const QString& name : m_source.fileNamesLastFirst)
        ListBox1->addItem(name);
    Edit1->setText(m_source.cabinetName);
    Edit2->setText(m_source.outputDirectory);
    if (const QScreen* s = screen()) {
        const QRect area = s->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
    showPage(Page::Introduction);
}

void TForm7::Button5Click()
{
    showPage(Page::Step1);
}

void TForm7::Button1Click()
{
    const InfRequest request = infRequest();
    if (!WriteInfFile(request)) {
        showError(infFailureMessage(request), kInfFailureHelpTopic);
        return;
    }
    m_outcome->setText(infOutcomeLine(request));
    showPage(Page::Step2);
}

void TForm7::Button3Click()
{
    showPage(Page::Introduction);
}

void TForm7::composeCompletePage()
{
    const QString cab = Edit1->text();
    m_completeDirectory->setText(QStringLiteral("You should find them in your ") + Edit2->text() +
                                 QStringLiteral(" directory"));
    m_completeFileList = QStringList{cab + QStringLiteral(".in_"), cab + QStringLiteral(".ecf"),
                                     QStringLiteral("SETUP.EXE"), QStringLiteral("setup.ini"), Edit6->text()};
    m_completeFiles->setText(m_completeFileList.join(QLatin1Char('\n')));
}

void TForm7::Button8Click()
{
    composeCompletePage();
    const Result written = WriteSetupIni(setupRequest());
    if (!written) {
        // The general error report: the failed file operation in the
        // run-time's own words.
        showError(written.text());
        return;
    }
    showPage(Page::Step3);
}

void TForm7::Button9Click()
{
    showPage(Page::Step1);
}

void TForm7::Button11Click()
{
    if (Edit7->text().length() < kMinimumPassPhrase) {
        showError(
            QStringLiteral("You have not entered the correct number of Characters for a valid Pass Phrase.  "
                           "Please enter some more text."));
        Edit7->setFocus();
        return;
    }
    // The key is the phrase in Windows-1252: a character without a byte there
    // is refused, never replaced by another.
    if (const char32_t c = crypto::firstUnmappedCharacter(Edit7->text())) {
        showError(crypto::unmappedPassPhraseMessage(c));
        Edit7->setFocus();
        return;
    }
    const SetupPackageRequest request = setupRequest();
    if (!WriteEncryptedInf(request)) {
        showError(encryptionFailureMessage(request));
        return;
    }
    // Without its setup program the package is not complete: say so and let
    // the user fix the directory and press Finish again.
    const std::string setupExe = setupExePath(request);
    if (!ExtractResourceToFile(QString::fromLatin1(kSetupResourceType),
                               QString::fromLatin1(kSetupResourceName), setupExe)) {
        showError(setupProgramFailureMessage(setupExe));
        return;
    }
    showPage(Page::Complete);
}

void TForm7::Button12Click()
{
    showPage(Page::Step2);
}

int runWizard(QWidget* owner, const QString& cabinetName, const QString& outputDirectory,
              const QStringList& fileNamesLastFirst)
{
    TForm7 form(WizardSource{cabinetName, outputDirectory, fileNamesLastFirst}, owner);
    return ui::prompter().execDialog(&form);
}

} // namespace ravelin::distribution
