#ifndef REFERENCEDOCK_H
#define REFERENCEDOCK_H

#include <QDockWidget>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QRgb>
#include <QString>

#include <optional>

// A colour photo beside the canvas to take colours from: any image the
// toolkit reads, shown whole, fitted to the dock and centred. A click on the
// picture reports the colour of the photo pixel under it; a click beside it
// reports nothing. A file that cannot be read leaves the dock as it was.
class ReferenceDock : public QDockWidget
{
    Q_OBJECT

public:
    explicit ReferenceDock(QWidget *parent = nullptr);

    // Reads and shows the image; false, with errorString() set, when it
    // cannot be read.
    bool open(const QString &fileName);
    QString errorString() const { return lastError; }
    QString fileName() const { return shownFile; }
    const QImage &image() const { return picture; }

    // Where the picture is drawn in the dock's view, and the photo pixel under
    // a point of that view.
    QRect pictureRect() const;
    std::optional<QPoint> pixelAt(const QPoint &viewPos) const;
    QWidget *view() const { return area; }

signals:
    void colourPicked(QRgb colour);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *area;
    QImage picture;
    QImage fitted; // the picture at its shown size
    QString shownFile;
    QString lastError;
};

#endif // REFERENCEDOCK_H
