#include "tools/form4.h"

#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QToolButton>

#include "tools/form5.h"
#include "ui/icons.h"
#include "ui/prompter.h"
#include "ui/window.h"

namespace ravelin::tools {

TForm4::TForm4(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setObjectName(QStringLiteral("Form4"));
    setWindowTitle(QStringLiteral("Cabinet Information"));

    Label1 = new QLabel(QStringLiteral("Cab File Name:"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Edit1 = new QLineEdit(this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setMinimumWidth(300);
    Label1->setBuddy(Edit1);
    SpeedButton1 = new QToolButton(this);
    SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    SpeedButton1->setAutoRaise(true);
    SpeedButton1->setIcon(ui::picture(ui::Picture::Folder));
    SpeedButton1->setIconSize(QSize(16, 16));
    SpeedButton1->setToolTip(QStringLiteral("Select a cabinet file"));
    Button1 = new QPushButton(QStringLiteral("&View"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setEnabled(false);
    Button2 = new QPushButton(QStringLiteral("&Cancel"), this);
    Button2->setObjectName(QStringLiteral("Button2"));

    auto* grid = new QGridLayout(this);
    grid->addWidget(Label1, 0, 0, 1, 2);
    grid->addWidget(Edit1, 1, 0);
    grid->addWidget(SpeedButton1, 1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);
    grid->addLayout(buttons, 2, 0, 1, 2);
    grid->setSizeConstraint(QLayout::SetFixedSize);

    connect(Edit1, &QLineEdit::textChanged, this, &TForm4::Edit1Change);
    connect(SpeedButton1, &QToolButton::clicked, this, &TForm4::SpeedButton1Click);
    connect(Button1, &QPushButton::clicked, this, &TForm4::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm4::Button2Click);
}

void TForm4::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        ui::centreOnScreen(this);
}

void TForm4::Edit1Change()
{
    // Any change enables viewing, also one that empties the box.
    Button1->setEnabled(true);
}

void TForm4::SpeedButton1Click()
{
    ui::OpenFileRequest request;
    request.title = QStringLiteral("Cab File");
    request.filter = QStringLiteral("Cab Files (*.cab)");
    request.defaultSuffix = QStringLiteral("cab");
    const QStringList chosen = ui::prompter().openFiles(this, request);
    if (chosen.isEmpty())
        return;
    // Quoted, so that a path with spaces reaches the lister as one argument.
    Edit1->setText(QLatin1Char('"') + chosen.first() + QLatin1Char('"'));
}

void TForm4::Button1Click()
{
    hide();
    {
        TForm5 result(this, Edit1->text());
        ui::prompter().execDialog(&result);
    }
    // However the result window ended, the chooser ends with it: the user is
    // back in the window that opened the chooser.
    done(QDialog::Accepted);
}

void TForm4::Button2Click()
{
    reject();
}

int runCabinetInfo(QWidget* owner)
{
    TForm4 chooser(owner);
    return ui::prompter().execDialog(&chooser);
}

} // namespace ravelin::tools
