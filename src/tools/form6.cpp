#include "tools/form6.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileIconProvider>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>
#include <QStorageInfo>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <thread>

#include "platform/io.h"
#include "platform/paths.h"
#include "tools/browsefolder.h"
#include "tools/fileiterator/fileiterator.h"
#include "tools/fileiterator/fileiteratorthread.h"
#include "tools/fileiterator/filemove.h"
#include "tools/nativepath.h"
#include "ui/icons.h"
#include "ui/prompter.h"
#include "ui/window.h"

namespace ravelin::tools {

namespace {

constexpr int kHelpDrive = 10;
constexpr int kHelpDirectory = 11;
constexpr int kHelpList = 12;
constexpr int kHelpButtons = 2;
constexpr auto kCloseWaitStep = std::chrono::milliseconds(200);

QPushButton* makeButton(QWidget* parent, const char* name, const QString& text)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setFixedSize(75, 25);
    ui::setHelpContext(button, kHelpButtons);
    return button;
}

} // namespace

// --- the busy picture ----------------------------------------------------------

TFindFileAnimation::TFindFileAnimation(QWidget* parent) : QWidget(parent), m_timer(new QTimer(this))
{
    m_timer->setInterval(70);
    connect(m_timer, &QTimer::timeout, this, [this] {
        m_frame = m_frame >= StopFrame ? 0 : m_frame + 1;
        update();
    });
    setFixedSize(sizeHint());
}

bool TFindFileAnimation::Active() const
{
    return m_timer->isActive();
}

void TFindFileAnimation::setActive(bool active)
{
    if (active == Active())
        return;
    if (active)
        m_timer->start();
    else
        m_timer->stop();
    m_frame = 0;
    update();
}

void TFindFileAnimation::paintEvent(QPaintEvent*)
{
    // A folder with a magnifying glass circling over it, one turn per cycle.
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor folderColour(230, 190, 80);
    const QRectF folder(14, 16, 40, 28);
    QPainterPath tab;
    tab.addRoundedRect(QRectF(folder.left(), folder.top() - 5, 16, 8), 2, 2);
    p.setPen(QPen(folderColour.darker(150), 1));
    p.setBrush(folderColour.darker(110));
    p.drawPath(tab);
    p.setBrush(folderColour);
    p.drawRoundedRect(folder, 3, 3);
    p.setPen(QPen(Qt::white, 1.5));
    for (int i = 0; i < 3; ++i)
        p.drawLine(QPointF(folder.left() + 8, folder.top() + 8 + i * 6),
                   QPointF(folder.right() - 8, folder.top() + 8 + i * 6));

    const double angle = 2.0 * M_PI * m_frame / (StopFrame + 1);
    const QPointF centre(44 + 12 * std::cos(angle), 22 + 8 * std::sin(angle));
    p.setPen(QPen(QColor(60, 60, 60), 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(centre + QPointF(6, 6), centre + QPointF(14, 14));
    p.setPen(QPen(QColor(40, 40, 40), 2));
    p.setBrush(QColor(180, 220, 255, 170));
    p.drawEllipse(centre, 8, 8);
}

// --- the window ------------------------------------------------------------------

QList<QPair<QString, QString>> TForm6::driveItems()
{
    QList<QPair<QString, QString>> items;
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        if (!volume.isValid() || !volume.isReady())
            continue;
        const QString root = volume.rootPath();
        const QString name = volume.name();
        items.append(
            {root, name.isEmpty() ? root : root + QStringLiteral(" [") + name + QStringLiteral("]")});
    }
    std::sort(items.begin(), items.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    return items;
}

TForm6::TForm6(QWidget* owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("Form6"));
    setWindowTitle(QStringLiteral("Organise Cabs"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::WindowContextHelpButtonHint);
    setFixedSize(462, 371);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(8, 8, 8, 8);
    column->setSpacing(4);

    Label1 = new QLabel(QStringLiteral("Drive to search:"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    column->addWidget(Label1);

    DriveComboBox1 = new QComboBox(this);
    DriveComboBox1->setObjectName(QStringLiteral("DriveComboBox1"));
    ui::setHelpContext(DriveComboBox1, kHelpDrive);
    const QIcon driveIcon = QFileIconProvider().icon(QAbstractFileIconProvider::Drive);
    for (const auto& [root, text] : driveItems())
        DriveComboBox1->addItem(driveIcon, text, root);
    Label1->setBuddy(DriveComboBox1);
    column->addWidget(DriveComboBox1);

    column->addSpacing(4);
    Label2 = new QLabel(QStringLiteral("Directory to store cab files:"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    column->addWidget(Label2);

    auto* directoryRow = new QHBoxLayout;
    directoryRow->setSpacing(2);
    Edit1 = new QLineEdit(this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    ui::setHelpContext(Edit1, kHelpDirectory);
    Label2->setBuddy(Edit1);
    directoryRow->addWidget(Edit1, 1);
    SpeedButton1 = new QToolButton(this);
    SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    SpeedButton1->setAutoRaise(true);
    SpeedButton1->setIcon(ui::picture(ui::Picture::Folder));
    SpeedButton1->setIconSize(QSize(16, 16));
    SpeedButton1->setFixedSize(23, 22);
    // Reached with Tab from the directory box, and pressed with Space.
    SpeedButton1->setFocusPolicy(Qt::StrongFocus);
    SpeedButton1->setToolTip(QStringLiteral("Browse for the directory"));
    SpeedButton1->setAccessibleName(QStringLiteral("Browse for the directory"));
    directoryRow->addWidget(SpeedButton1);
    column->addLayout(directoryRow);

    column->addSpacing(4);
    CheckListBox1 = new QListWidget(this);
    CheckListBox1->setObjectName(QStringLiteral("CheckListBox1"));
    ui::setHelpContext(CheckListBox1, kHelpList);
    CheckListBox1->setSelectionMode(QAbstractItemView::SingleSelection);
    CheckListBox1->setUniformItemSizes(true);
    CheckAll1 = new QAction(QStringLiteral("&Check All"), CheckListBox1);
    CheckAll1->setObjectName(QStringLiteral("CheckAll1"));
    UncheckAll1 = new QAction(QStringLiteral("&Uncheck All"), CheckListBox1);
    UncheckAll1->setObjectName(QStringLiteral("UncheckAll1"));
    CheckListBox1->addAction(CheckAll1);
    CheckListBox1->addAction(UncheckAll1);
    CheckListBox1->setContextMenuPolicy(Qt::ActionsContextMenu);
    column->addWidget(CheckListBox1, 1);

    Label3 = new QLabel(QStringLiteral("Uncheck any files you do not wish to move."), this);
    Label3->setObjectName(QStringLiteral("Label3"));
    column->addWidget(Label3);

    auto* bottomRow = new QHBoxLayout;
    bottomRow->setSpacing(6);
    Animate1 = new TFindFileAnimation(this);
    Animate1->setObjectName(QStringLiteral("Animate1"));
    ui::setHelpContext(Animate1, kHelpButtons);
    bottomRow->addWidget(Animate1);
    bottomRow->addStretch(1);
    Button1 = makeButton(this, "Button1", QStringLiteral("&Search"));
    Button2 = makeButton(this, "Button2", QStringLiteral("&Stop"));
    Button3 = makeButton(this, "Button3", QStringLiteral("&Organise"));
    Button4 = makeButton(this, "Button4", QStringLiteral("&Close"));
    for (QPushButton* b : {Button1, Button2, Button3, Button4})
        bottomRow->addWidget(b, 0, Qt::AlignBottom);
    Button1->setDefault(true);
    Button2->setEnabled(false);
    Button3->setEnabled(false);
    column->addLayout(bottomRow);

    Iterator = new TFileIterator(this);
    Iterator->setObjectName(QStringLiteral("Iterator"));
    BrowseFolder1 = new TBrowseFolder(this);
    BrowseFolder1->setObjectName(QStringLiteral("BrowseFolder1"));

    // The worker raises these; the handlers run here, in the same order.
    Iterator->OnActivate = [this](TFileIterator*) {
        m_workerPending = false;
        emit iteratorActivated();
    };
    Iterator->OnAddFileQuery = &TForm6::IteratorAddFileQuery;
    Iterator->OnAddFile = [this](TFileIterator*, const QByteArray& fileName, const TFileInfo&) {
        emit iteratorFileAdded(fileName);
    };
    Iterator->OnTerminate = [this](TFileIterator*) { emit iteratorTerminated(); };
    connect(this, &TForm6::iteratorActivated, this, &TForm6::IteratorActivate, Qt::QueuedConnection);
    connect(this, &TForm6::iteratorFileAdded, this, &TForm6::IteratorAddFile, Qt::QueuedConnection);
    connect(this, &TForm6::iteratorTerminated, this, &TForm6::IteratorTerminate, Qt::QueuedConnection);

    // The box starts at the volume holding the working directory, and the
    // search root goes with it, so what is shown is what is searched.
    const QString current = QStorageInfo(QDir::currentPath()).rootPath();
    int start = DriveComboBox1->findData(current);
    if (start < 0)
        start = DriveComboBox1->findData(QString(paths::separator));
    if (start >= 0) {
        DriveComboBox1->setCurrentIndex(start);
        Iterator->SetRootFolder(QFile::encodeName(DriveComboBox1->itemData(start).toString()));
    }
    m_driveIndex = DriveComboBox1->currentIndex();

    connect(DriveComboBox1, &QComboBox::currentIndexChanged, this, &TForm6::DriveComboBox1Change);
    connect(SpeedButton1, &QToolButton::clicked, this, &TForm6::SpeedButton1Click);
    connect(Button1, &QPushButton::clicked, this, &TForm6::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm6::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &TForm6::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &TForm6::Button4Click);
    connect(CheckAll1, &QAction::triggered, this, &TForm6::CheckAll1Click);
    connect(UncheckAll1, &QAction::triggered, this, &TForm6::UncheckAll1Click);
}

TForm6::~TForm6()
{
    // The iterator is a child and goes with this window: no worker may
    // still be using it.
    waitForSearchEnd();
}

void TForm6::showEvent(QShowEvent* event)
{
    if (!m_centred) {
        m_centred = true;
        ui::centreOnScreen(this);
    }
    QDialog::showEvent(event);
}

void TForm6::waitForSearchEnd()
{
    // Stop() is repeated on each check: a worker that was still starting
    // is only running (and stoppable) once its Execute has begun.
    while (m_workerPending || !Iterator->Available()) {
        Iterator->Stop();
        if (!m_workerPending && Iterator->Available())
            break;
        std::this_thread::sleep_for(kCloseWaitStep);
    }
}

void TForm6::done(int result)
{
    waitForSearchEnd();
    QDialog::done(result);
}

void TForm6::DriveComboBox1Change(int index)
{
    if (index < 0)
        return;
    try {
        Iterator->SetRootFolder(QFile::encodeName(DriveComboBox1->itemData(index).toString()));
        m_driveIndex = index;
    } catch (const EFileIteratorError& e) {
        // The search keeps its volume; so does the box.
        const QSignalBlocker block(DriveComboBox1);
        DriveComboBox1->setCurrentIndex(m_driveIndex);
        ui::showMessage(this, QString::fromLatin1(e.what()), ui::Icon::Error);
    }
}

void TForm6::SpeedButton1Click()
{
    try {
        // A root without a folder of its own (a Desktop that does not exist
        // here) gives no directory: the box keeps what it holds.
        if (BrowseFolder1->Execute() && !BrowseFolder1->Directory().isEmpty())
            Edit1->setText(BrowseFolder1->Directory());
    } catch (const EBrowseDialogAlreadyShowing&) {
        // The chooser already open keeps the user's attention.
    }
}

void TForm6::Button1Click()
{
    // A second press during a search leaves the running search alone.
    if (m_searching || m_workerPending || !Iterator->Available()) {
        ui::beep(ui::Beep::Default);
        return;
    }
    Animate1->setActive(true);
    Button4->setEnabled(false);
    Button3->setEnabled(false);
    m_searching = true;
    m_workerPending = true;
    try {
        new TFileIteratorThread(Iterator, false);
    } catch (const std::exception&) {
        m_workerPending = false;
        m_searching = false;
        Animate1->setActive(false);
        Button4->setEnabled(true);
        ui::beep(ui::Beep::Error);
        ui::showMessage(this, QStringLiteral("The search could not be started."), ui::Icon::Error);
        return;
    }
    Button2->setEnabled(true);
}

void TForm6::Button2Click()
{
    Iterator->Stop();
    Animate1->setActive(false);
}

void TForm6::Button3Click()
{
    // The destination folder is text typed or chosen; text that stands for
    // more than one folder (a name that was not UTF-8) is not guessed at.
    const QString directory = Edit1->text();
    const bool directoryUsable = textNamesOnePath(directory);
    const QByteArray directoryBytes = QFile::encodeName(directory);

    QStringList failures; // "<path>: <reason>", in list order
    int checked = 0;
    QList<int> moved;
    for (int i = 0; i < CheckListBox1->count(); ++i) {
        QListWidgetItem* item = CheckListBox1->item(i);
        if (item->checkState() != Qt::Checked)
            continue;
        ++checked;
        const QVariant stored = item->data(PathRole);
        const QByteArray from = stored.isValid() ? stored.toByteArray() : QFile::encodeName(item->text());
        const QByteArray name = from.mid(from.lastIndexOf('/') + 1);
        const int error = directoryUsable ? moveFileNoReplace(from.toStdString(),
                                                              (directoryBytes + '/' + name).toStdString())
                                          : EILSEQ;
        if (error == 0) {
            moved.append(i);
            continue;
        }
        const QString reason = QString::fromStdString(io::reasonText(error));
        item->setToolTip(reason);
        failures << displayPath(from) + QStringLiteral(": ") + reason;
    }
    for (auto it = moved.crbegin(); it != moved.crend(); ++it)
        delete CheckListBox1->takeItem(*it);

    if (failures.isEmpty()) {
        ui::beep(ui::Beep::Information);
        ui::showMessage(this, QString::fromLatin1(kFinishedMoving), ui::Icon::Information, ui::Ok);
        return;
    }
    // Some did not move: each is named with the system's reason, and stays
    // checked in the list, so the user can mend the cause and press again.
    const QString text =
        QStringLiteral("Korvane Ravelin could not move %1 of your %2 file(s). They stay checked "
                       "in the list:\n\n%3")
            .arg(failures.size())
            .arg(checked)
            .arg(failures.join(QLatin1Char('\n')));
    ui::beep(ui::Beep::Error);
    ui::showMessage(this, text, ui::Icon::Error, ui::Ok);
}

void TForm6::Button4Click()
{
    close();
}

void TForm6::setChecks(bool checked)
{
    CheckListBox1->setUpdatesEnabled(false);
    for (int i = 0; i < CheckListBox1->count(); ++i)
        CheckListBox1->item(i)->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
    CheckListBox1->setUpdatesEnabled(true);
}

void TForm6::CheckAll1Click()
{
    setChecks(true);
}

void TForm6::UncheckAll1Click()
{
    setChecks(false);
}

void TForm6::IteratorActivate()
{
    CheckListBox1->clear();
    m_count = 0;
    Button2->setEnabled(true);
}

void TForm6::IteratorAddFileQuery(TFileIterator*, const QByteArray& fileName, const TFileInfo&, bool& canAdd)
{
    canAdd = isCabinetFileName(fileName);
}

void TForm6::IteratorAddFile(const QByteArray& fileName)
{
    auto* item = new QListWidgetItem(displayPath(fileName));
    item->setData(PathRole, fileName);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Checked);
    CheckListBox1->addItem(item);
    ++m_count;
    Button2->setEnabled(true);
}

void TForm6::IteratorTerminate()
{
    m_searching = false;
    Button4->setEnabled(true);
    // "&Stop" goes grey; if it held the focus, the focus goes to "&Search",
    // never on to "&Organise", where a second press of Space or Enter after
    // stopping would move files.
    if (Button2->hasFocus() || QApplication::focusWidget() == Button2)
        Button1->setFocus(Qt::OtherFocusReason);
    Button2->setEnabled(false);
    Button3->setEnabled(true);
    Animate1->setActive(false);
}

int runOrganiseWindow(QWidget* owner)
{
    TForm6 window(owner);
    return ui::prompter().execDialog(&window);
}

} // namespace ravelin::tools
