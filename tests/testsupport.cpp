#include "testsupport.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QBuffer>
#include <QColorDialog>
#include <QDeadlineTimer>
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
    QMouseEvent event(type, QPointF(pos), QPointF(viewport->mapToGlobal(pos)), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(viewport, &event);
}

namespace {

// How long a file dialog may take to open: a save between two dialogs runs
// the window's events meanwhile.
constexpr int fileDialogWait = 5000;

void answerFileDialogBy(const QString &fileName, bool confirmOverwrite, const std::function<void()> &then,
                        const QDeadlineTimer &deadline)
{
    QTimer::singleShot(0, [fileName, confirmOverwrite, then, deadline] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog && !deadline.hasExpired()) {
            answerFileDialogBy(fileName, confirmOverwrite, then, deadline);
            return;
        }
        if (!dialog) {
            qWarning("answerFileDialog: no file dialog is open");
            return;
        }
        if (then)
            then();
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

} // namespace

void answerFileDialog(const QString &fileName, bool confirmOverwrite, const std::function<void()> &then)
{
    answerFileDialogBy(fileName, confirmOverwrite, then, QDeadlineTimer(fileDialogWait));
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

QByteArray jpegWithOrientation(const QImage &image, quint16 orientation)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "jpg", 100);
    const QByteArray tiff = QByteArray("II*\0\x08\0\0\0", 8) // little-endian, first IFD at 8
        + QByteArray("\x01\0", 2)                            // one entry
        + QByteArray("\x12\x01\x03\0\x01\0\0\0", 8)          // 0x0112 orientation, SHORT, count 1
        + QByteArray(1, char(orientation)) + QByteArray(3, '\0') + QByteArray(4, '\0'); // value; no next IFD
    const QByteArray payload = QByteArray("Exif\0\0", 6) + tiff;
    const int length = payload.size() + 2;
    const QByteArray app1 = QByteArray("\xFF\xE1", 2) + char(length >> 8) + char(length & 0xFF) + payload;
    QByteArray jpeg = buffer.data();
    jpeg.insert(2, app1);
    return jpeg;
}

void answerMessageBox(QMessageBox::StandardButton button, QString *text, const std::function<void()> &then)
{
    QTimer::singleShot(0, [button, text, then] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box) {
            qWarning("answerMessageBox: no message box is open");
            return;
        }
        if (text)
            *text = box->text();
        if (then)
            then();
        box->button(button)->click();
    });
}

} // namespace TestSupport
