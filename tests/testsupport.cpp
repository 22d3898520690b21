#include "testsupport.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QColorDialog>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <QtTest>

#include <cstdlib>

namespace {

QString &tempHome()
{
    static QString path;
    return path;
}

void isolateHome()
{
    QByteArray pattern = QDir::tempPath().toLocal8Bit() + "/brivela-test-XXXXXX";
    if (!mkdtemp(pattern.data()))
        qFatal("cannot create a temporary home for the tests");
    tempHome() = QString::fromLocal8Bit(pattern);
    const QByteArray home = pattern;
    qputenv("HOME", home);
    qputenv("XDG_CONFIG_HOME", home + "/.config");
    qputenv("XDG_DATA_HOME", home + "/.local/share");
    qputenv("XDG_CACHE_HOME", home + "/.cache");
    qputenv("XDG_RUNTIME_DIR", home + "/runtime");
    QDir().mkpath(QString::fromLocal8Bit(home + "/runtime"));
    QFile::setPermissions(QString::fromLocal8Bit(home + "/runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

void removeHome()
{
    if (!tempHome().isEmpty())
        QDir(tempHome()).removeRecursively();
}

} // namespace

Q_CONSTRUCTOR_FUNCTION(isolateHome)
Q_DESTRUCTOR_FUNCTION(removeHome)

namespace TestSupport {

QString homeDir()
{
    return tempHome();
}

void nameApplication()
{
    QCoreApplication::setApplicationName(QStringLiteral("Brivela 1.0"));
    QCoreApplication::setOrganizationName(QStringLiteral("Fendrel software"));
}

void sendMouse(QWidget *viewport, QEvent::Type type, const QPoint &pos, Qt::MouseButton button,
               Qt::MouseButtons buttons)
{
    QMouseEvent event(type, QPointF(pos), QPointF(viewport->mapToGlobal(pos)), button, buttons,
                      Qt::NoModifier);
    QApplication::sendEvent(viewport, &event);
}

void answerFileDialog(const QString &fileName, bool confirmOverwrite)
{
    QTimer::singleShot(0, [fileName, confirmOverwrite] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog) {
            qWarning("answerFileDialog: no file dialog is open");
            return;
        }
        if (fileName.isNull()) {
            dialog->reject();
            return;
        }
        auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        QVERIFY(edit);
        // A suggested name that exists is selected in the list, and the
        // selection, not the typed name, is what the dialog returns unless
        // the name field has the keyboard focus, as it has for a user typing.
        if (auto *list = dialog->findChild<QAbstractItemView *>(QStringLiteral("listView")))
            list->clearSelection();
        edit->setText(fileName);
        if (confirmOverwrite) {
            QTimer::singleShot(0, [] {
                if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()))
                    box->button(QMessageBox::Yes)->click();
            });
        }
        static_cast<QDialog *>(dialog)->accept();
    });
}

void answerColourDialog(const QColor &colour, QColor *initial)
{
    QTimer::singleShot(0, [colour, initial] {
        auto *dialog = qobject_cast<QColorDialog *>(QApplication::activeModalWidget());
        if (!dialog) {
            qWarning("answerColourDialog: no colour dialog is open");
            return;
        }
        if (initial)
            *initial = dialog->currentColor();
        if (!colour.isValid()) {
            dialog->reject();
            return;
        }
        dialog->setCurrentColor(colour);
        dialog->accept();
    });
}

} // namespace TestSupport
