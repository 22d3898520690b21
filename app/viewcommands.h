#ifndef VIEWCOMMANDS_H
#define VIEWCOMMANDS_H

#include <QKeySequence>
#include <QList>
#include <QObject>

class CZefGraphicsView;
class QLabel;
class QMainWindow;
class Ui_MainWindow;

// The window's commands on the view: zoom in and out (buttons, menu and
// keys), Fit to window, Actual size, the zoom shown in the status bar, the
// brush size kept alike in the slider and the spin box and stepped with
// [ and ], and Show colouring in step with the \ key.
class ViewCommands : public QObject
{
    Q_OBJECT

public:
    // The brush size's steps of about 15 %, by at least a pixel, within the
    // slider's range.
    static constexpr int smallestBrush = 1;
    static constexpr int largestBrush = 999;
    static int smallerBrush(int size);
    static int largerBrush(int size);
    // The zoom as the status bar shows it: "100 %", "12.5 %".
    static QString zoomText(qreal zoom);
    // A command's keys: the platform's standard ones first, then the extra
    // ones, once each.
    static QList<QKeySequence> keysFor(QKeySequence::StandardKey key, const QList<QKeySequence> &extra);

    ViewCommands(QMainWindow *window, Ui_MainWindow *ui);

private:
    void stepBrush(bool larger);

    Ui_MainWindow *ui;
    CZefGraphicsView *view;
    QLabel *zoomLabel;
};

#endif // VIEWCOMMANDS_H
