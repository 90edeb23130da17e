#include "ui/window.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace ravelin::ui {

void setHelpContext(QWidget* control, int topic)
{
    control->setProperty(kHelpContextProperty, topic);
}

void centreOnScreen(QWidget* window)
{
    QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
}

} // namespace ravelin::ui
