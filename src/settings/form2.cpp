#include "settings/form2.h"

#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>

#include "platform/constants.h"
#include "ui/prompter.h"
#include "ui/window.h"

namespace ravelin::settings {

TForm2::TForm2(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("About Ravelin Pro"));
    setFixedSize(338, 267);

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel1->setLineWidth(1);
    Panel1->setGeometry(8, 7, 83, 253);
    QPalette brown = Panel1->palette();
    brown.setColor(QPalette::Window, QColor(128, 64, 0));
    Panel1->setPalette(brown);
    Panel1->setAutoFillBackground(true);

    Image1 = new QLabel(Panel1);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(1, 1, 81, 60);
    Image1->setAlignment(Qt::AlignCenter);
    // The picture is fitted into the 81 x 60 area without cutting it.
    Image1->setPixmap(QPixmap(QStringLiteral(":/about/about.png"))
                          .scaled(Image1->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));

    // The version is the program's own (kVersionText), the one --version prints.
    Label1 =
        new QLabel(QStringLiteral("Ravelin Professional (%1)").arg(QString::fromLatin1(kVersionText)), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    QFont bold = Label1->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.25);
    Label1->setFont(bold);
    Label1->setGeometry(106, 20, 224, 28);

    Button1 = new QPushButton(QStringLiteral("&OK"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setDefault(true);
    Button1->setGeometry(254, 232, 75, 25);
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
}

void TForm2::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    ui::centreOnScreen(this);
}

void runAbout(QWidget* owner)
{
    TForm2 about(owner);
    ui::prompter().execDialog(&about);
}

} // namespace ravelin::settings
