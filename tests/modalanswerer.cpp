#include "modalanswerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QColorDialog>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>

ModalAnswerer::ModalAnswerer()
{
    poll.setInterval(5);
    connect(&poll, &QTimer::timeout, this, &ModalAnswerer::answer);
    poll.start();
}

void ModalAnswerer::act(QWidget *modal, const std::function<void()> &action)
{
    // An answer may open the next dialog (a file dialog asks before replacing
    // a file), and a timer never fires again while its own handler runs: so
    // the answer runs outside it, and the poll waits for it.
    acting = true;
    QMetaObject::invokeMethod(
        this,
        [this, action, shown = QPointer<QWidget>(modal)] {
            acting = false;
            // The dialog may have closed meanwhile (a save in between runs
            // the window's events): then there is nothing left to answer.
            if (shown && shown->isVisible())
                action();
        },
        Qt::QueuedConnection);
}

void ModalAnswerer::answer()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (acting || !modal || !modal->isVisible())
        return;
    if (auto *files = qobject_cast<QFileDialog *>(modal)) {
        auto *edit = files->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        if (pendingFile.isNull() || !edit) {
            act(files, [files] { files->reject(); });
            return;
        }
        edit->setText(std::exchange(pendingFile, QString()));
        // A name the dialog does not accept (a folder it opens instead)
        // leaves it open, and the next poll, with nothing pending, cancels it.
        act(files, [files] { static_cast<QDialog *>(files)->accept(); });
    } else if (auto *colours = qobject_cast<QColorDialog *>(modal)) {
        if (!pendingColour.isValid()) {
            act(colours, [colours] { colours->reject(); });
            return;
        }
        colours->setCurrentColor(std::exchange(pendingColour, QColor()));
        act(colours, [colours] { colours->accept(); });
    } else if (auto *box = qobject_cast<QMessageBox *>(modal)) {
        questions.append(box->text());
        QAbstractButton *yes = box->button(QMessageBox::Yes);
        QAbstractButton *discard = box->button(QMessageBox::Discard);
        if (yes && std::exchange(pendingReplace, false))
            act(box, [yes] { yes->click(); });
        else if (discard)
            act(box, [discard] { discard->click(); });
        else
            act(box, [box] { box->reject(); });
    } else if (auto *dialog = qobject_cast<QDialog *>(modal)) {
        act(dialog, [dialog] { dialog->reject(); });
    }
}
