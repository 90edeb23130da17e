#include "settings/placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QStringList>
#include <QWidget>
#include <array>
#include <optional>

#include "platform/constants.h"
#include "settings/preferences.h"
#include "ui/prompter.h"

namespace ravelin::settings {

namespace {

QString name(const char* n)
{
    return QString::fromLatin1(n);
}

// The four numbers of "%d,%d,%d,%d" text; an item that is missing or not a
// number stays empty.
std::array<std::optional<int>, 4> fourNumbers(const QString& text)
{
    std::array<std::optional<int>, 4> numbers;
    const QStringList items = text.split(QLatin1Char(','));
    for (int i = 0; i < 4 && i < items.size(); ++i)
        numbers[i] = parseInteger(items[i].trimmed());
    return numbers;
}

QString fourNumbersText(int a, int b, int c, int d)
{
    return QStringLiteral("%1,%2,%3,%4").arg(a).arg(b).arg(c).arg(d);
}

bool isFixedSize(const QWidget* window)
{
    return window->minimumSize() == window->maximumSize();
}

// A window placed where no screen is could not be found again by the user.
QRect ontoAScreen(QRect rect)
{
    const QList<QScreen*> screens = QGuiApplication::screens();
    for (const QScreen* screen : screens)
        if (screen->availableGeometry().intersects(rect))
            return rect;
    if (const QScreen* primary = QGuiApplication::primaryScreen())
        rect.moveTopLeft(primary->availableGeometry().topLeft());
    return rect;
}

// The available area of the screen that holds most of `rect`.
QRect availableAreaFor(const QRect& rect)
{
    QRect best;
    qint64 bestArea = -1;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect common = screen->availableGeometry().intersected(rect);
        const qint64 area = common.isEmpty() ? 0 : qint64(common.width()) * common.height();
        if (area > bestArea) {
            bestArea = area;
            best = screen->availableGeometry();
        }
    }
    return best;
}

// A rectangle wider or taller than the screen's available area gets that
// area's extent on that axis; a huge stored size would otherwise make a
// window the windowing system cannot even hold.
QRect fittedToScreen(QRect rect)
{
    const QRect area = availableAreaFor(rect);
    if (!area.isValid())
        return rect;
    if (rect.width() > area.width()) {
        rect.setLeft(area.left());
        rect.setWidth(area.width());
    }
    if (rect.height() > area.height()) {
        rect.setTop(area.top());
        rect.setHeight(area.height());
    }
    return rect;
}

} // namespace

QRect normalRectFromText(const QString& normPos, const QRect& current, bool fixedSize)
{
    const auto n = fourNumbers(normPos);
    const int left = n[0].value_or(current.left());
    const int top = n[1].value_or(current.top());
    int right = n[2].value_or(current.left() + current.width());
    int bottom = n[3].value_or(current.top() + current.height());
    if (fixedSize) {
        right = left + current.width();
        bottom = top + current.height();
    }
    // Built from two corners with exclusive right and bottom; QRect's own
    // right() and bottom() are inclusive.
    return QRect(QPoint(left, top), QSize(right - left, bottom - top));
}

void restorePlacement(QWidget* window, const Preferences& prefs)
{
    if (!window)
        return;
    const int flags = prefs.readInteger(name(kPlacementFlags), 0);
    if (prefs.contains(name(kPlacementMinMaxPos)) || prefs.contains(name(kPlacementNormPos))) {
        const QRect rect = normalRectFromText(prefs.readString(name(kPlacementNormPos)), window->geometry(),
                                              isFixedSize(window));
        if (rect.width() > 0 && rect.height() > 0)
            window->setGeometry(fittedToScreen(ontoAScreen(rect)));
    }
    Qt::WindowStates state =
        window->windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen);
    switch (prefs.readInteger(name(kPlacementShowCmd), kShowNormal)) {
    case 2:
    case 6:
        state |= Qt::WindowMinimized;
        if (flags & kRestoreToMaximized)
            state |= Qt::WindowMaximized;
        break;
    case 3:
        state |= Qt::WindowMaximized;
        break;
    default:
        break;
    }
    window->setWindowState(state);
}

void restorePlacement(QWidget* window)
{
    const Preferences prefs;
    restorePlacement(window, prefs);
}

bool writePlacement(QWidget* window, Preferences& prefs)
{
    if (!window)
        return true;
    const bool minimized = window->isMinimized();
    const bool maximized = window->isMaximized() || window->isFullScreen();
    const QRect normal = window->normalGeometry().isValid() ? window->normalGeometry() : window->geometry();
    const int showCmd = minimized ? kShowMinimized : maximized ? kShowMaximized : kShowNormal;
    const int flags = minimized && maximized ? kRestoreToMaximized : 0;
    QPoint maxPos(-1, -1);
    if (maximized && !minimized)
        maxPos = window->frameGeometry().topLeft();
    bool ok = prefs.writeInteger(name(kPlacementFlags), flags);
    ok = prefs.writeInteger(name(kPlacementShowCmd), showCmd) && ok;
    ok = prefs.writeString(name(kPlacementMinMaxPos), fourNumbersText(-1, -1, maxPos.x(), maxPos.y())) && ok;
    ok = prefs.writeString(name(kPlacementNormPos),
                           fourNumbersText(normal.left(), normal.top(), normal.left() + normal.width(),
                                           normal.top() + normal.height())) &&
         ok;
    return ok;
}

QString preferencesFilePath()
{
    const QSettings settings(QSettings::NativeFormat, QSettings::UserScope,
                             QString::fromLatin1(kOrganisationName), QString::fromLatin1(kApplicationName));
    return settings.fileName();
}

bool savePlacement(QWidget* window, Preferences& prefs, const QString& storeFile)
{
    if (writePlacement(window, prefs))
        return true;
    ui::showMessage(window, QStringLiteral("Cannot create file %1").arg(storeFile), ui::Icon::Error);
    return false;
}

bool savePlacement(QWidget* window)
{
    Preferences prefs;
    return savePlacement(window, prefs, preferencesFilePath());
}

} // namespace ravelin::settings
