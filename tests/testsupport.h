#ifndef TESTSUPPORT_H
#define TESTSUPPORT_H

#include <QByteArray>
#include <QImage>
#include <QMessageBox>
#include <QMouseEvent>
#include <QString>

#include <functional>

class QWidget;

// Before main runs, every test process gets a home and configuration
// directories of its own in a fresh temporary directory (removed at exit), so
// no test reads or writes the real user's settings.
namespace TestSupport {

// The temporary home of this test process.
QString homeDir();

// Names the application as the program's entry point does, so that the
// settings store is the program's own (inside the temporary home).
void nameApplication();

// Sends a mouse event with exactly the given buttons to a view's viewport.
void sendMouse(QWidget *viewport, QEvent::Type type, const QPoint &pos, Qt::MouseButton button,
               Qt::MouseButtons buttons);

// Arranges for the next modal file dialog to be answered: the name typed into
// its name field and accepted, or cancelled when `fileName` is null. Answers
// a following "replace?" question with Yes when `confirmOverwrite` is set.
// `then` runs just before the answer, to arrange for what comes next.
void answerFileDialog(const QString &fileName, bool confirmOverwrite = false, const std::function<void()> &then = {});

// Arranges for the next modal colour dialog to be accepted with `colour`, or
// cancelled when `colour` is invalid. The colour the dialog opened with is
// stored in *initial when given.
void answerColourDialog(const QColor &colour, QColor *initial = nullptr);

// A JPEG of `image` with an EXIF APP1 segment holding only the orientation
// tag, placed right after the start-of-image marker as cameras write it.
QByteArray jpegWithOrientation(const QImage &image, quint16 orientation);

// Arranges for the next modal message box to be answered with `button`. Its
// text is stored in *text when given; `then` runs just before the answer, to
// arrange for what the answer opens next.
void answerMessageBox(QMessageBox::StandardButton button, QString *text = nullptr,
                      const std::function<void()> &then = {});

} // namespace TestSupport

#endif // TESTSUPPORT_H
