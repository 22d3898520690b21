#include "app/workrunner.h"

#include <QApplication>
#include <QEventLoop>
#include <QFutureWatcher>
#include <QKeyEvent>
#include <QPointer>
#include <QProgressDialog>
#include <QShortcutEvent>
#include <QtConcurrent>

WorkRunner::WorkRunner(QWidget *window)
    : QObject(window)
    , window(window)
{ }

bool WorkRunner::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::ShortcutOverride:
        // Claimed as wanted by the widget, so no key of the window's menus
        // and tools fires; the key press itself is held off below.
        if (auto *widget = qobject_cast<QWidget *>(watched); widget && widget->window() == window) {
            event->accept();
            return true;
        }
        return false;
    case QEvent::Shortcut:
        // A shortcut reached some other way: nothing may act now, but Esc
        // (the progress dialog's own shortcut, when it has the focus) stops
        // the work as it does over the window.
        if (static_cast<QShortcutEvent *>(event)->key() == QKeySequence(Qt::Key_Escape))
            cancel();
        return true;
    case QEvent::KeyPress:
        if (static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape)
            cancel();
        Q_FALLTHROUGH();
    case QEvent::KeyRelease:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::Drop:
    case QEvent::Close: {
        // The window waits for the work: it repaints, but painting, menus or
        // another photo would work on what the result is about to change.
        auto *widget = qobject_cast<QWidget *>(watched);
        if (widget && widget->window() == window) {
            if (event->type() == QEvent::Close) {
                closing = true;
                cancel();
            }
            event->ignore();
            return true;
        }
        return false;
    }
    default:
        return false;
    }
}

bool WorkRunner::run(const QString &label, const Work &work)
{
    cancelled = false;
    closing = false;
    running = true;
    QApplication::setOverrideCursor(Qt::BusyCursor);
    qApp->installEventFilter(this);

    QProgressDialog progress(label, tr("Cancel"), 0, 100, window);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(progressDelayMs);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    connect(&progress, &QProgressDialog::canceled, this, &WorkRunner::cancel);

    QPointer<QProgressDialog> shown(&progress);
    const Progress report = [shown](int percent) {
        // Called on the worker: the dialog is told on the UI thread, if it
        // still exists by then.
        QMetaObject::invokeMethod(
            qApp,
            [shown, percent] {
                if (shown)
                    shown->setValue(percent);
            },
            Qt::QueuedConnection);
    };

    QFutureWatcher<void> watcher;
    QEventLoop loop;
    connect(&watcher, &QFutureWatcherBase::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(QtConcurrent::run([&work, this, report] { work(&cancelled, report); }));
    loop.exec();

    qApp->removeEventFilter(this);
    QApplication::restoreOverrideCursor();
    running = false;
    return !cancelled;
}
