#include "app/form1.h"

#include "platform/io.h"
#include "tools/form5.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QScreen>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <cerrno>
#include <cstring>

#include "cabinet/builder.h"
#include "cabinet/filelist.h"
#include "cabinet/form8.h"
#include "crypto/window/form9.h"
#include "distribution/wizard/form7.h"
#include "platform/constants.h"
#include "platform/io.h"
#include "platform/paths.h"
#include "settings/form2.h"
#include "settings/placement.h"
#include "tools/form4.h"
#include "tools/form5.h"
#include "tools/form6.h"
#include "tools/nativepath.h"
#include "ui/icons.h"
#include "ui/panelstatusbar.h"
#include "ui/prompter.h"
#include "ui/window.h"

namespace ravelin::app {

namespace {
constexpr int kHelpCompressGuard = 1001;

struct ButtonSpec {
    const char* name;
    const char* hint;
    ui::Picture picture;
    bool separatorBefore;
};
constexpr ButtonSpec kButtons[] = {
    {"SpeedButton1", "Create new cab", ui::Picture::NewCab, false},
    {"SpeedButton8", "Add Files to cab", ui::Picture::AddFiles, true},
    {"SpeedButton9", "Compress Files", ui::Picture::Compress, false},
    {"SpeedButton2", "Encrypt / Decrypt", ui::Picture::Encrypt, true},
    {"SpeedButton4", "Organise cab files", ui::Picture::Organise, false},
    {"SpeedButton3", "Distribution Wizard", ui::Picture::Wizard, false},
    {"SpeedButton5", "Visit Korvane on the web", ui::Picture::Web, true},
    {"SpeedButton6", "Get help", ui::Picture::Help, false},
    {"SpeedButton10", "Exit", ui::Picture::Exit, true},
};

QFrame* makeSeparator(QWidget* parent)
{
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::VLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setFixedWidth(4);
    return line;
}
} // namespace

bool TForm1::startupQueriesNewCabinet(const QStringList& arguments)
{
    for (int i = 0; i < 2 && i < arguments.size(); ++i)
        if (arguments[i] == QLatin1String("/noquery"))
            return false;
    return true;
}

TForm1::TForm1(const QStringList& arguments, QWidget* parent) : QMainWindow(parent), m_arguments(arguments)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromLatin1(kApplicationTitle));
    setWindowIcon(ui::picture(ui::Picture::Application));
    resize(566, 412);
    setAcceptDrops(true);

    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("Form1Client"));
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    Bevel1 = new QFrame(central);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setFrameShape(QFrame::HLine);
    Bevel1->setFrameShadow(QFrame::Sunken);
    Bevel1->setFixedHeight(2);
    column->addWidget(Bevel1);

    Panel1 = new QWidget(central);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFixedHeight(47);
    buildToolbar(Panel1);
    column->addWidget(Panel1);

    ListView1 = new cabinet::TListView(central);
    column->addWidget(ListView1, 1);

    StatusStrip = new QWidget(central);
    StatusStrip->setObjectName(QStringLiteral("Panel2"));
    StatusStrip->setFixedHeight(18);
    buildStatusStrip(StatusStrip);
    column->addWidget(StatusStrip);

    // The cabinet settings live in hidden controls, as the new-cabinet
    // dialog and the builder expect.
    Edit1 = new QLineEdit(central);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->hide();
    Edit2 = new QLineEdit(central);
    Edit2->setObjectName(QStringLiteral("Edit2"));
    Edit2->hide();
    CheckBox1 = new QCheckBox(QStringLiteral("Self-Extracting"), central);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    CheckBox1->hide();

    setCentralWidget(central);
    buildMenus();

    m_droppedFiles = false;
    AIPerform();
    m_extractorPath = paths::join(QDir::currentPath(), QStringLiteral("extract.exe"));

    ui::centreOnScreen(this);
}

TForm1::~TForm1()
{
    // A window taken down without being closed still keeps its placement.
    if (m_placementRestored && !m_placementSaved)
        savePlacement();
}

void TForm1::buildToolbar(QWidget* strip)
{
    auto* row = new QHBoxLayout(strip);
    row->setContentsMargins(2, 3, 2, 3);
    row->setSpacing(1);
    for (const ButtonSpec& spec : kButtons) {
        if (spec.separatorBefore)
            row->addWidget(makeSeparator(strip));
        auto* button = new QToolButton(strip);
        button->setObjectName(QString::fromLatin1(spec.name));
        button->setAutoRaise(true);
        button->setFixedSize(50, 40);
        button->setIcon(ui::picture(spec.picture));
        button->setIconSize(QSize(32, 32));
        button->setToolTip(QString::fromLatin1(spec.hint));
        button->setAccessibleName(QString::fromLatin1(spec.hint));
        button->setFocusPolicy(Qt::NoFocus);
        row->addWidget(button);
        m_buttons.append(button);
        m_hints.append(QString::fromLatin1(spec.hint));
    }
    row->addStretch(1);

    connect(m_buttons[0], &QToolButton::clicked, this, &TForm1::NewCabClick);
    connect(m_buttons[1], &QToolButton::clicked, this, &TForm1::AddFilesClick);
    connect(m_buttons[2], &QToolButton::clicked, this, &TForm1::CompressFilesClick);
    connect(m_buttons[3], &QToolButton::clicked, this, &TForm1::EncryptClick);
    connect(m_buttons[4], &QToolButton::clicked, this, &TForm1::OrganiseClick);
    connect(m_buttons[5], &QToolButton::clicked, this, &TForm1::WizardClick);
    connect(m_buttons[6], &QToolButton::clicked, this,
            [this] { openWebPage(QString::fromLatin1(kWebMainPage)); });
    connect(m_buttons[7], &QToolButton::clicked, this, &TForm1::HelpClick);
    connect(m_buttons[8], &QToolButton::clicked, this, &TForm1::ExitClick);
}

void TForm1::buildStatusStrip(QWidget* strip)
{
    auto* row = new QHBoxLayout(strip);
    row->setContentsMargins(2, 0, 0, 0);
    row->setSpacing(0);
    Label1 = new QLabel(QStringLiteral("Compressing Files..."), strip);
    Label1->setObjectName(QStringLiteral("Label1"));
    row->addWidget(Label1);
    row->addStretch(1);
    ProgressBar1 = new QProgressBar(strip);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setFixedWidth(173);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    row->addWidget(ProgressBar1);

    // The status bar lies over the label and the progress bar and covers
    // them whenever it is visible.
    StatusBar1 = new ui::PanelStatusBar({300, 50}, strip);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->raise();
}

void TForm1::layoutStatusStrip()
{
    if (StatusBar1 && StatusStrip)
        StatusBar1->setGeometry(0, 0, StatusStrip->width(), StatusStrip->height());
}

void TForm1::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    layoutStatusStrip();
}

QAction* TForm1::makeAction(const QString& objectName, const QString& text)
{
    auto* a = new QAction(text, this);
    a->setObjectName(objectName);
    return a;
}

QAction* TForm1::action(const QString& objectName) const
{
    return findChild<QAction*>(objectName, Qt::FindDirectChildrenOnly);
}

void TForm1::buildMenus()
{
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));

    // File
    QMenu* file = bar->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("File1"));
    QAction* newCab = makeAction(QStringLiteral("NewCab1"), QStringLiteral("&New Cab"));
    connect(newCab, &QAction::triggered, this, &TForm1::NewCabClick);
    file->addAction(newCab);
    QAction* getInfo = makeAction(QStringLiteral("GetInfo1"), QStringLiteral("&Get Info"));
    connect(getInfo, &QAction::triggered, this, &TForm1::GetInfoClick);
    file->addAction(getInfo);
    file->addSeparator();
    QAction* compress = makeAction(QStringLiteral("CompressFiles1"), QStringLiteral("&Compress Files"));
    connect(compress, &QAction::triggered, this, &TForm1::CompressFilesClick);
    file->addAction(compress);
    file->addSeparator();
    QAction* exitAction = makeAction(QStringLiteral("Exit1"), QStringLiteral("E&xit"));
    connect(exitAction, &QAction::triggered, this, &TForm1::ExitClick);
    file->addAction(exitAction);

    // View
    QMenu* view = bar->addMenu(QStringLiteral("&View"));
    view->setObjectName(QStringLiteral("View1"));
    QAction* toolBar = makeAction(QStringLiteral("ToolBar1"), QStringLiteral("&Tool Bar"));
    toolBar->setCheckable(true);
    toolBar->setChecked(true);
    connect(toolBar, &QAction::triggered, this, &TForm1::ToolBarClick);
    QAction* toolTips = makeAction(QStringLiteral("ToolTips1"), QStringLiteral("&Tool Tips"));
    toolTips->setCheckable(true);
    toolTips->setChecked(true);
    connect(toolTips, &QAction::triggered, this, &TForm1::ToolTipsClick);
    view->addAction(toolBar);
    view->addAction(toolTips);
    view->addSeparator();

    m_viewGroup = new QActionGroup(this);
    m_viewGroup->setExclusive(true);
    struct ViewSpec {
        const char* name;
        const char* text;
        cabinet::ViewStyle style;
    };
    const ViewSpec views[] = {
        {"LargeIcons1", "&Large Icons", cabinet::ViewStyle::Icon},
        {"SmallIcons1", "&Small Icons", cabinet::ViewStyle::SmallIcon},
        {"List1", "&List", cabinet::ViewStyle::List},
        {"Details1", "&Details", cabinet::ViewStyle::Report},
    };
    QList<QAction*> viewActions;
    for (const ViewSpec& v : views) {
        QAction* a = makeAction(QString::fromLatin1(v.name), QString::fromLatin1(v.text));
        a->setCheckable(true);
        a->setActionGroup(m_viewGroup);
        const cabinet::ViewStyle style = v.style;
        connect(a, &QAction::triggered, this, [this, style] { ListView1->setViewStyle(style); });
        view->addAction(a);
        viewActions.append(a);
    }
    viewActions.last()->setChecked(true);

    // Tools
    QMenu* tools = bar->addMenu(QStringLiteral("&Tools"));
    tools->setObjectName(QStringLiteral("Tools1"));
    QAction* organise = makeAction(QStringLiteral("OrganiseCabs1"), QStringLiteral("&Organise Cabs"));
    connect(organise, &QAction::triggered, this, &TForm1::OrganiseClick);
    QAction* encrypt = makeAction(QStringLiteral("EncryptDecrypt1"), QStringLiteral("Encrypt / &Decrypt"));
    connect(encrypt, &QAction::triggered, this, &TForm1::EncryptClick);
    QAction* wizard =
        makeAction(QStringLiteral("DistributionWizard1"), QStringLiteral("Distribution &Wizard"));
    connect(wizard, &QAction::triggered, this, &TForm1::WizardClick);
    tools->addAction(organise);
    tools->addAction(encrypt);
    tools->addSeparator();
    tools->addAction(wizard);

    // Help
    QMenu* help = bar->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("Help1"));
    QAction* contents = makeAction(QStringLiteral("RavelinHelp1"), QStringLiteral("&Ravelin Help"));
    contents->setShortcut(QKeySequence(Qt::Key_F1));
    contents->setShortcutContext(Qt::WindowShortcut);
    connect(contents, &QAction::triggered, this, &TForm1::HelpClick);
    help->addAction(contents);

    QMenu* web = help->addMenu(QStringLiteral("&Korvane On The Web"));
    web->setObjectName(QStringLiteral("KorvaneOnTheWeb1"));
    struct LinkSpec {
        const char* name;
        const char* text;
        const char* target;
    };
    const LinkSpec pages[] = {
        {"MainPage1", "&Main Page", kWebMainPage},
        {"FreeDownloads1", "&Free Downloads", kWebDownloadsPage},
        {"InternetProducts1", "&Internet Products", kWebInternetProductsPage},
        {"Developers1", "&Developers ", kWebDevelopersPage},
        {nullptr, nullptr, nullptr},
        {"Search1", "&Search", kWebSearchPage},
    };
    for (const LinkSpec& p : pages) {
        if (!p.name) {
            web->addSeparator();
            continue;
        }
        QAction* a = makeAction(QString::fromLatin1(p.name), QString::fromLatin1(p.text));
        const QString target = QString::fromLatin1(p.target);
        connect(a, &QAction::triggered, this, [this, target] { openWebPage(target); });
        web->addAction(a);
    }

    QMenu* mail = help->addMenu(QStringLiteral("&E. Mail Korvane"));
    mail->setObjectName(QStringLiteral("EMailKorvane1"));
    const LinkSpec mails[] = {
        {"Support1", "&Support", kMailSupport},
        {nullptr, nullptr, nullptr},
        {"MakeASuggestion1", "Make A Suggestion", kMailSuggestions},
        {"RequestAFeature1", "Request A Feature", kMailFeatures},
        {"ReportABug1", "Report A Bug", kMailBugs},
    };
    for (const LinkSpec& m : mails) {
        if (!m.name) {
            mail->addSeparator();
            continue;
        }
        QAction* a = makeAction(QString::fromLatin1(m.name), QString::fromLatin1(m.text));
        const QString address = QString::fromLatin1(m.target);
        connect(a, &QAction::triggered, this, [this, address] { openMail(address); });
        mail->addAction(a);
    }
    help->addSeparator();
    QAction* about = makeAction(QStringLiteral("AboutRavelin1"), QStringLiteral("&About Ravelin"));
    connect(about, &QAction::triggered, this, &TForm1::AboutClick);
    help->addAction(about);

    // The list's pop-up menu shares the Tool Bar, Tool Tips and view actions,
    // so both menus always show the same check marks.
    m_popup = new QMenu(this);
    m_popup->setObjectName(QStringLiteral("PopupMenu1"));
    QAction* addFiles = makeAction(QStringLiteral("AddFiles1"), QStringLiteral("&Add Files"));
    connect(addFiles, &QAction::triggered, this, &TForm1::AddFilesClick);
    QAction* deleteFiles = makeAction(QStringLiteral("DeleteFiles1"), QStringLiteral("&Delete Files"));
    connect(deleteFiles, &QAction::triggered, this, &TForm1::DeleteFilesClick);
    QAction* clearList = makeAction(QStringLiteral("ClearList1"), QStringLiteral("&Clear List"));
    connect(clearList, &QAction::triggered, this, &TForm1::ClearListClick);
    m_popup->addAction(addFiles);
    m_popup->addAction(deleteFiles);
    m_popup->addSeparator();
    m_popup->addAction(clearList);
    m_popup->addSeparator();
    m_popup->addAction(toolBar);
    m_popup->addAction(toolTips);
    m_popup->addSeparator();
    for (QAction* a : viewActions)
        m_popup->addAction(a);
    ListView1->setPopupMenu(m_popup);

    // F1 works wherever the focus is in the window.
    addAction(contents);
}

QString TForm1::cabinetName() const
{
    return Edit1->text();
}
QString TForm1::outputDirectory() const
{
    return Edit2->text();
}
bool TForm1::selfExtracting() const
{
    return CheckBox1->isChecked();
}

QStringList TForm1::fileNamesLastFirst() const
{
    QStringList names;
    for (int row = ListView1->rowCount() - 1; row >= 0; --row)
        names.append(ListView1->caption(row));
    return names;
}

QStringList TForm1::fullPathsLastFirst() const
{
    // A row's full path is its Path column (ending in the separator) followed by its name.
    QStringList paths;
    for (int row = ListView1->rowCount() - 1; row >= 0; --row)
        paths.append(ListView1->subItem(row, 4) + ListView1->caption(row));
    return paths;
}

// --- start-up and shut-down -------------------------------------------------

void TForm1::showEvent(QShowEvent* event)
{
    if (!m_placementRestored) {
        m_placementRestored = true;
        restorePlacement();
    }
    QMainWindow::showEvent(event);
    layoutStatusStrip();
    if (!m_activated) {
        m_activated = true;
        QMetaObject::invokeMethod(this, &TForm1::FormActivate, Qt::QueuedConnection);
    }
}

QStringList TForm1::fileArguments(const QStringList& arguments)
{
    QStringList files;
    for (int i = 0; i < arguments.size(); ++i)
        if (!(i < 2 && arguments[i] == QLatin1String("/noquery")))
            files << arguments[i];
    return files;
}

namespace {

// A regular file that starts with a cabinet's signature "MSCF".
bool isCabinetFile(const QString& path)
{
    int error = 0;
    io::Fd fd = io::openForReading(QFile::encodeName(path).toStdString(), &error);
    char magic[4] = {};
    return fd && io::readAll(fd.get(), magic, sizeof magic) == 4 && std::memcmp(magic, "MSCF", 4) == 0;
}

} // namespace

void TForm1::FormActivate()
{
    // Files named on the command line (a file manager's "Open with") come in
    // as dropped files do; a cabinet named alone is shown instead.
    const QStringList files = fileArguments(m_arguments);
    if (files.size() == 1 && isCabinetFile(files.first())) {
        tools::TForm5 info(this, files.first());
        ui::prompter().execDialog(&info);
        return;
    }
    if (!files.isEmpty()) {
        QList<QUrl> urls;
        for (const QString& f : files)
            urls << QUrl::fromLocalFile(QFileInfo(f).absoluteFilePath());
        addDroppedFiles(urls);
    }
    if (startupQueriesNewCabinet(m_arguments))
        showNewCabDialog();
}

void TForm1::closeEvent(QCloseEvent* event)
{
    savePlacement();
    QMainWindow::closeEvent(event);
}

void TForm1::restorePlacement()
{
    settings::restorePlacement(this);
}

void TForm1::savePlacement()
{
    m_placementSaved = true;
    settings::savePlacement(this);
}

// --- commands -----------------------------------------------------------------

void TForm1::NewCabClick()
{
    StatusBar1->setPanelText(0, QString());
    StatusBar1->setPanelText(1, QString());
    if (!m_droppedFiles)
        ListView1->clear();
    m_droppedFiles = false;
    showNewCabDialog();
}

void TForm1::showNewCabDialog()
{
    // A fresh dialog per showing; "&OK" hands back the three cabinet
    // settings, kept in the hidden Edit1, Edit2 and CheckBox1.
    cabinet::TForm8 dialog(this, {cabinetName(), outputDirectory(), CheckBox1->isChecked()});
    const int result = ui::prompter().execDialog(&dialog);
    if (dialog.exitRequested()) {
        ExitClick();
        return;
    }
    if (result == QDialog::Accepted) {
        const cabinet::CabinetSettings chosen = dialog.settings();
        Edit1->setText(chosen.name);
        Edit2->setText(chosen.directory);
        CheckBox1->setChecked(chosen.selfExtracting);
        setWindowTitle(cabinet::captionFor(chosen.name));
    }
}

void TForm1::AddFilesClick()
{
    ListView1->addFromDialog(this);
}

void TForm1::CompressFilesClick()
{
    if (cabinetName().isEmpty() || outputDirectory().isEmpty()) {
        ui::beep(ui::Beep::Error);
        ui::showMessage(this,
                        QStringLiteral("You must select File | New and fill in the options for this cab "
                                       "file before you can compress the file list."),
                        ui::Icon::Error, ui::Ok | ui::Help, QString(), kHelpCompressGuard);
        return;
    }
    setCursor(Qt::WaitCursor);
    ListView1->setCursor(Qt::WaitCursor);
    AINextStep(CheckBox1->isChecked());
    StatusBar1->setPanelText(0, QStringLiteral(" Compressing Files..."));
    QCoreApplication::processEvents();
    DoCabStuffNow();
    QCoreApplication::processEvents();
    unsetCursor();
    ListView1->unsetCursor();
    StatusBar1->setPanelText(0, QStringLiteral(" Done"));
}

void TForm1::DoCabStuffNow()
{
    // The builder reports its own failures; the self-extracting output
    // follows only a cabinet that was completed.
    const cabinet::BuildResult result =
        cabinet::builderFor(this)->DoCabStuffNow({this, ProgressBar1, StatusBar1}, fullPathsLastFirst(),
                                                 cabinetName(), outputDirectory(), CheckBox1->isChecked());
    if (result.completed && CheckBox1->isChecked())
        makeSX();
}

void TForm1::makeSX()
{
    // Reports its own failures; the cabinet stays unless the .exe is complete.
    cabinet::makeSX(this, m_extractorPath, outputDirectory(), cabinetName());
}

void TForm1::AIPerform()
{
    CheckBox1->setChecked(cabinet::AIPerform());
}

void TForm1::AINextStep(bool selfExtracting)
{
    cabinet::AINextStep(selfExtracting);
}

void TForm1::EncryptClick()
{
    crypto::runEncryptWindow(this);
}

void TForm1::OrganiseClick()
{
    tools::runOrganiseWindow(this);
}

void TForm1::WizardClick()
{
    // A fresh wizard each time, reading the current name, directory and list.
    distribution::runWizard(this, cabinetName(), outputDirectory(), fileNamesLastFirst());
}

void TForm1::GetInfoClick()
{
    tools::runCabinetInfo(this);
}

void TForm1::HelpClick()
{
    ui::prompter().showHelp(0);
}

void TForm1::AboutClick()
{
    settings::runAbout(this);
}

void TForm1::ExitClick()
{
    close();
}

void TForm1::DeleteFilesClick()
{
    ListView1->deleteSelected();
}

void TForm1::ClearListClick()
{
    ListView1->clear();
}

void TForm1::ToolBarClick()
{
    Panel1->setVisible(action(QStringLiteral("ToolBar1"))->isChecked());
}

void TForm1::ToolTipsClick()
{
    const bool on = action(QStringLiteral("ToolTips1"))->isChecked();
    for (int i = 0; i < m_buttons.size(); ++i)
        m_buttons[i]->setToolTip(on ? m_hints[i] : QString());
}

void TForm1::openWebPage(const QString& url)
{
    ui::prompter().openUrl(QUrl(url));
}

void TForm1::openMail(const QString& address)
{
    ui::prompter().openUrl(QUrl(QStringLiteral("mailto:") + address));
}

// --- dropped files ----------------------------------------------------------

void TForm1::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls()) {
        for (const QUrl& url : event->mimeData()->urls())
            if (url.isLocalFile()) {
                event->acceptProposedAction();
                return;
            }
    }
    event->ignore();
}

void TForm1::dropEvent(QDropEvent* event)
{
    QList<QUrl> urls;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile())
            urls.append(url);
    event->acceptProposedAction();
    addDroppedFiles(urls);
}

void TForm1::addDroppedFiles(const QList<QUrl>& urls)
{
    for (const QUrl& url : urls) {
        const QString path = url.toLocalFile();
        // A name that is not UTF-8 does not survive as text; it is refused
        // before the text can reach another file.
        if (!tools::localFileSurvivesAsText(url)) {
            cabinet::TListView::reportCannotOpen(this, path, EILSEQ);
            return;
        }
        if (ListView1->addFiles({path}, this, true) != 1)
            return;
        m_droppedFiles = true;
    }
}

} // namespace ravelin::app
