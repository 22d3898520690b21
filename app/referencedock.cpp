#include "app/referencedock.h"

#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QMouseEvent>
#include <QPainter>

ReferenceDock::ReferenceDock(QWidget *parent)
    : QDockWidget(tr("Reference photo"), parent)
    , area(new QWidget(this))
{
    setObjectName(QStringLiteral("referenceDock"));
    area->setObjectName(QStringLiteral("referenceView"));
    area->setMinimumSize(240, 180);
    area->setCursor(Qt::CrossCursor);
    area->setToolTip(tr("Click to take a colour from the reference photo"));
    area->installEventFilter(this);
    setWidget(area);
}

bool ReferenceDock::open(const QString &fileName)
{
    QImageReader reader(fileName);
    reader.setAutoTransform(true);
    QImage read = reader.read();
    if (read.isNull()) {
        lastError =
            tr("Cannot open reference photo %1: %2").arg(QDir::toNativeSeparators(fileName), reader.errorString());
        return false;
    }
    // Colours are read from it pixel by pixel; one format serves every file.
    picture = read.convertToFormat(QImage::Format_RGB32);
    fitted = QImage();
    shownFile = fileName;
    setWindowTitle(tr("Reference: %1").arg(QFileInfo(fileName).fileName()));
    area->update();
    return true;
}

QRect ReferenceDock::pictureRect() const
{
    if (picture.isNull() || area->width() <= 0 || area->height() <= 0)
        return QRect();
    const QSize fitted = picture.size().scaled(area->size(), Qt::KeepAspectRatio);
    return QRect(QPoint((area->width() - fitted.width()) / 2, (area->height() - fitted.height()) / 2), fitted);
}

std::optional<QPoint> ReferenceDock::pixelAt(const QPoint &viewPos) const
{
    const QRect shown = pictureRect();
    if (!shown.contains(viewPos))
        return std::nullopt;
    const int x = int((qint64(viewPos.x() - shown.left()) * picture.width()) / shown.width());
    const int y = int((qint64(viewPos.y() - shown.top()) * picture.height()) / shown.height());
    const QPoint p(std::min(x, picture.width() - 1), std::min(y, picture.height() - 1));
    return p;
}

bool ReferenceDock::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != area)
        return QDockWidget::eventFilter(watched, event);
    if (event->type() == QEvent::Paint) {
        QPainter painter(area);
        painter.fillRect(area->rect(), palette().color(QPalette::Mid));
        const QRect shown = pictureRect();
        if (shown.isEmpty()) {
            painter.drawText(area->rect(), Qt::AlignCenter | Qt::TextWordWrap,
                             tr("Open a colour photo to take colours from"));
        } else {
            // Scaled once per size, not at every repaint of a large photo.
            if (fitted.size() != shown.size())
                fitted = picture.scaled(shown.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            painter.drawImage(shown.topLeft(), fitted);
        }
        return true;
    }
    if (event->type() == QEvent::MouseButtonPress) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::LeftButton)
            if (const std::optional<QPoint> p = pixelAt(mouse->position().toPoint()))
                emit colourPicked(picture.pixel(*p) | 0xFF000000u);
        return true;
    }
    return QDockWidget::eventFilter(watched, event);
}
