#include "canvas/canvaskeys.h"

#include "canvas/czefgraphicsview.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

namespace {

bool takesText(const QWidget *w)
{
    if (!w)
        return false;
    if (const auto *combo = qobject_cast<const QComboBox *>(w))
        return combo->isEditable();
    return qobject_cast<const QLineEdit *>(w) || qobject_cast<const QAbstractSpinBox *>(w)
        || qobject_cast<const QTextEdit *>(w) || qobject_cast<const QPlainTextEdit *>(w);
}

} // namespace

CanvasKeys::CanvasKeys(CZefGraphicsView *view)
    : QObject(view)
    , view(view)
{
    qApp->installEventFilter(this);
}

bool CanvasKeys::concerns(QObject *watched, int key) const
{
    auto *widget = qobject_cast<QWidget *>(watched);
    if (!widget || !view->isVisible() || widget->window() != view->window())
        return false;
    if (takesText(widget) || takesText(QApplication::focusWidget()))
        return false;
    if (key == Qt::Key_Space) {
        return spaceDown || widget == view || widget == view->viewport() || view->hasFocus()
            || view->viewport()->underMouse();
    }
    return true;
}

void CanvasKeys::hold(int key, bool down)
{
    if (key == Qt::Key_Space && spaceDown != down) {
        spaceDown = down;
        view->setSpaceHeld(down);
    } else if (key == Qt::Key_Backslash && backslashDown != down) {
        backslashDown = down;
        view->holdPhoto(down);
    }
}

bool CanvasKeys::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::ShortcutOverride:
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
        auto *key = static_cast<QKeyEvent *>(event);
        const int k = key->key();
        if ((k != Qt::Key_Space && k != Qt::Key_Backslash)
            || (key->modifiers() & (Qt::ControlModifier | Qt::MetaModifier)) || !concerns(watched, k))
            return false;
        if (event->type() == QEvent::ShortcutOverride) {
            event->accept(); // the key is the canvas's, not a shortcut's
            return true;
        }
        if (!key->isAutoRepeat())
            hold(k, event->type() == QEvent::KeyPress);
        return true;
    }
    case QEvent::WindowDeactivate:
        if (watched == view->window()) {
            hold(Qt::Key_Space, false);
            hold(Qt::Key_Backslash, false);
        }
        return false;
    default:
        return false;
    }
}
