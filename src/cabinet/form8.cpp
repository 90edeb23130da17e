#include "cabinet/form8.h"

#include <QFile>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QToolButton>
#include <algorithm>
#include <exception>

#include "platform/constants.h"
#include "platform/io.h"
#include "platform/paths.h"
#include "settings/preferences.h"
#include "tools/browsefolder.h"
#include "ui/icons.h"
#include "ui/prompter.h"
#include "ui/window.h"

namespace ravelin::cabinet {

namespace {

constexpr int kClientWidth = 328;
constexpr int kClientHeight = 177;
const char* const kAIInt = "AIInt";
const char* const kAISetting = "AISetting";

} // namespace

QString captionFor(const QString& name)
{
    return name + QStringLiteral(" - ") + QString::fromLatin1(kApplicationTitle);
}

TForm8::TForm8(QWidget* parent, const CabinetSettings& settings) : QDialog(parent), m_settings(settings)
{
    setObjectName(QStringLiteral("Form8"));
    setWindowTitle(QStringLiteral("New Cabinet File"));
    // A dialog border with no title-bar buttons.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(kClientWidth, kClientHeight);

    Label1 = new QLabel(QStringLiteral("Enter Cabinet Name (No Extension Required):"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(8, 8, 312, 16);
    Edit1 = new QLineEdit(this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setGeometry(8, 26, 312, 24);
    Label1->setBuddy(Edit1);

    Label2 = new QLabel(QStringLiteral("Output Directory:"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setGeometry(8, 58, 312, 16);
    Edit2 = new QLineEdit(this);
    Edit2->setObjectName(QStringLiteral("Edit2"));
    Edit2->setGeometry(8, 76, 282, 24);
    Label2->setBuddy(Edit2);
    SpeedButton7 = new QToolButton(this);
    SpeedButton7->setObjectName(QStringLiteral("SpeedButton7"));
    SpeedButton7->setAutoRaise(true);
    SpeedButton7->setIcon(ui::picture(ui::Picture::Folder));
    SpeedButton7->setIconSize(QSize(18, 18));
    SpeedButton7->setToolTip(QStringLiteral("Browse for the output directory"));
    SpeedButton7->setGeometry(294, 76, 26, 24);

    CheckBox1 = new QCheckBox(QStringLiteral("Make Self Extracting"), this);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    CheckBox1->setGeometry(8, 110, 312, 20);
    CheckBox1->setChecked(m_settings.selfExtracting);

    Button1 = new QPushButton(QStringLiteral("&OK"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setDefault(true);
    Button1->setGeometry(164, 142, 75, 27);
    Button2 = new QPushButton(QStringLiteral("&Exit"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setAutoDefault(false);
    Button2->setGeometry(245, 142, 75, 27);

    BrowseFolder1 = new tools::TBrowseFolder(this);
    BrowseFolder1->setObjectName(QStringLiteral("BrowseFolder1"));
    BrowseFolder1->setTitle(QStringLiteral("Output Directory"));
    BrowseFolder1->setFlags(tools::bfStatusText);
    BrowseFolder1->setShowFullPath(true);
    BrowseFolder1->setFolder(tools::TSHFolders::foMyComputer);

    connect(SpeedButton7, &QToolButton::clicked, this, &TForm8::SpeedButton7Click);
    connect(Button1, &QPushButton::clicked, this, &TForm8::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm8::Button2Click);

    Edit1->setFocus();
    ui::centreOnScreen(this);
}

TForm8::~TForm8() = default;

void TForm8::SpeedButton7Click()
{
    try {
        if (BrowseFolder1->Execute())
            Edit2->setText(BrowseFolder1->Directory());
    } catch (const std::exception& e) {
        ui::showMessage(this, QString::fromUtf8(e.what()), ui::Icon::Error);
    }
}

void TForm8::Button1Click()
{
    if (Edit1->text().isEmpty() || Edit2->text().isEmpty()) {
        ui::beep(ui::Beep::Information);
        ui::showMessage(this, QStringLiteral("You must fill in all fields before you can continue"),
                        ui::Icon::Information, ui::Ok);
        return;
    }
    ui::setApplicationTitle(captionFor(Edit1->text()));
    m_settings = {Edit1->text(), Edit2->text(), CheckBox1->isChecked()};
    accept();
}

void TForm8::Button2Click()
{
    m_exitRequested = true;
    done(ExitApplication);
}

// ---------------------------------------------------------------------------

QString cabinetPathFor(const QString& directory, const QString& name)
{
    return paths::join(directory, name + QStringLiteral(".cab"));
}

QString selfExtractingPathFor(const QString& directory, const QString& name)
{
    return paths::join(directory, name + QStringLiteral(".exe"));
}

sfx::SfxResult makeSX(QWidget* parent, const QString& extractorPath, const QString& directory,
                      const QString& name)
{
    const QString cabinet = cabinetPathFor(directory, name);
    const QString output = selfExtractingPathFor(directory, name);
    const sfx::SfxResult result = sfx::joinSelfExtracting(QFile::encodeName(extractorPath).toStdString(),
                                                          QFile::encodeName(cabinet).toStdString(),
                                                          QFile::encodeName(output).toStdString());

    const QString cannotFind = QStringLiteral("Ravelin cannot find file ");
    switch (result.failed) {
    case sfx::SfxStep::None:
        break;
    case sfx::SfxStep::OpenExtractor:
    case sfx::SfxStep::OpenCabinet:
    case sfx::SfxStep::CreateOutput:
        ui::showMessage(parent, QString::fromStdString(io::runtimeText(result.error)), ui::Icon::Error);
        break;
    case sfx::SfxStep::ReadExtractor:
    case sfx::SfxStep::WriteExtractor:
        ui::showMessage(parent, cannotFind + extractorPath);
        break;
    case sfx::SfxStep::ReadCabinet:
    case sfx::SfxStep::WriteCabinet:
        ui::showMessage(parent, cannotFind + cabinet);
        break;
    case sfx::SfxStep::Close:
        ui::showMessage(parent,
                        QStringLiteral("There was an error trying to close a file - Please try again"));
        break;
    }
    return result;
}

bool AIPerform()
{
    settings::Preferences prefs;
    return prefs.readBoolean(QString::fromLatin1(kAISetting), false);
}

int AINextStep(bool selfExtracting)
{
    settings::Preferences prefs;
    // Widened so that a stored extreme value cannot overflow before clamping.
    qint64 n = prefs.readInteger(QString::fromLatin1(kAIInt), 0);
    n += selfExtracting ? 1 : -1;
    n = std::clamp<qint64>(n, 0, 3);
    prefs.writeInteger(QString::fromLatin1(kAIInt), int(n));
    if (n == 0)
        prefs.writeString(QString::fromLatin1(kAISetting), QStringLiteral("0"));
    else if (n == 3)
        prefs.writeString(QString::fromLatin1(kAISetting), QStringLiteral("1"));
    return int(n);
}

} // namespace ravelin::cabinet
