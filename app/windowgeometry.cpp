#include "app/windowgeometry.h"

#include <QGuiApplication>
#include <QMainWindow>
#include <QScreen>
#include <QSettings>

#include <algorithm>
#include <cmath>

namespace {

const QString geometryKey = QStringLiteral("window/geometry");
const QString stateKey = QStringLiteral("window/state");

QRect availableFor(const QMainWindow *window)
{
    const QScreen *screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

} // namespace

namespace WindowGeometry {

QRect onScreen(const QRect &frame, const QRect &available)
{
    if (available.isEmpty())
        return frame;
    QRect r(frame.topLeft(), frame.size().boundedTo(available.size()));
    r.moveLeft(std::clamp(r.left(), available.left(), available.right() - r.width() + 1));
    r.moveTop(std::clamp(r.top(), available.top(), available.bottom() - r.height() + 1));
    return r;
}

void restore(QMainWindow *window)
{
    QSettings settings;
    const QRect available = availableFor(window);
    const QByteArray geometry = settings.value(geometryKey).toByteArray();
    if (geometry.isEmpty() || !window->restoreGeometry(geometry)) {
        if (available.isEmpty())
            return;
        const double side = std::sqrt(firstShare);
        const QSize size(int(available.width() * side), int(available.height() * side));
        window->resize(size);
        window->move(available.center() - QPoint(size.width() / 2, size.height() / 2));
    } else if (!window->isMaximized() && !window->isFullScreen()) {
        const QRect frame = window->geometry();
        const QRect fitted = onScreen(frame, available);
        if (fitted != frame)
            window->setGeometry(fitted);
    }
    // A damaged state leaves the tool bars as the form has them.
    window->restoreState(settings.value(stateKey).toByteArray());
}

void save(const QMainWindow *window)
{
    QSettings settings;
    settings.setValue(geometryKey, window->saveGeometry());
    settings.setValue(stateKey, window->saveState());
}

} // namespace WindowGeometry
