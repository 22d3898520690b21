#include "app/markscodec.h"

#include <QDataStream>
#include <QIODevice>

#include <cmath>

namespace {

const QByteArray magic("BRIVELA-MARKS");
constexpr quint32 version = 1;
// Bytes one mark takes: kind, four coordinates, colour, hidden.
constexpr qint64 markBytes = 1 + 4 * 8 + 4 + 1;
// Marks lie on the photo, whose sides the image readers keep far below this.
constexpr double coordinateLimit = 1 << 20;

bool sensible(double v, double low)
{
    return std::isfinite(v) && v >= low && v <= coordinateLimit;
}

} // namespace

QByteArray MarksCodec::encode(const QList<Mark> &marks)
{
    QByteArray data;
    QDataStream out(&data, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_4);
    out.setByteOrder(QDataStream::LittleEndian);
    out.writeRawData(magic.constData(), int(magic.size()));
    out << version << quint64(marks.size());
    for (const Mark &mark : marks) {
        out << quint8(mark.kind) << mark.rect.x() << mark.rect.y() << mark.rect.width() << mark.rect.height()
            << quint32(mark.colour) << quint8(mark.isHidden() ? 1 : 0);
    }
    return data;
}

bool MarksCodec::decode(const QByteArray &data, QList<Mark> *marks, QString *reason)
{
    marks->clear();
    const auto refuse = [&](const QString &why) {
        marks->clear();
        *reason = why;
        return false;
    };
    if (!data.startsWith(magic))
        return refuse(tr("its marks are not in a form this version reads"));
    QDataStream in(data);
    in.setVersion(QDataStream::Qt_6_4);
    in.setByteOrder(QDataStream::LittleEndian);
    in.skipRawData(int(magic.size()));
    quint32 fileVersion = 0;
    quint64 count = 0;
    in >> fileVersion >> count;
    if (in.status() != QDataStream::Ok || fileVersion != version)
        return refuse(tr("its marks are not in a form this version reads"));
    const qint64 left = data.size() - magic.size() - 12;
    if (count > quint64(left / markBytes) || qint64(count) * markBytes != left)
        return refuse(tr("its marks are damaged"));
    marks->reserve(qsizetype(count));
    quint64 id = 0;
    for (quint64 i = 0; i < count; ++i) {
        quint8 kind = 0;
        double x = 0;
        double y = 0;
        double w = 0;
        double h = 0;
        quint32 colour = 0;
        quint8 hidden = 0;
        in >> kind >> x >> y >> w >> h >> colour >> hidden;
        if (in.status() != QDataStream::Ok || kind > Mark::Colour || hidden > 1 || !sensible(x, -coordinateLimit)
            || !sensible(y, -coordinateLimit) || !sensible(w, 0) || !sensible(h, 0))
            return refuse(tr("its marks are damaged"));
        Mark mark;
        mark.id = ++id;
        mark.kind = Mark::Kind(kind);
        mark.rect = QRectF(x, y, w, h);
        mark.colour = colour;
        mark.hiddenBy = hidden;
        marks->append(mark);
    }
    return true;
}
