#include "evalset.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtMath>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace {

constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();

QList<QPoint> pointsOf(const QJsonArray &array)
{
    QList<QPoint> points;
    points.reserve(array.size());
    for (const QJsonValue &v : array) {
        const QJsonArray p = v.toArray();
        points.append(QPoint(p.at(0).toInt(), p.at(1).toInt()));
    }
    return points;
}

EvalSet::Stroke strokeOf(const QJsonObject &object)
{
    EvalSet::Stroke stroke;
    stroke.points = pointsOf(object.value(QLatin1String("points")).toArray());
    stroke.width = object.value(QLatin1String("width")).toDouble();
    stroke.pixelCount = object.value(QLatin1String("pixelCount")).toInt();
    return stroke;
}

QColor colourOf(const QJsonValue &value)
{
    const QJsonArray c = value.toArray();
    return QColor(c.at(0).toInt(), c.at(1).toInt(), c.at(2).toInt());
}

// The union of the strokes' pixels, each once, row by row.
QList<QPoint> pixelsOf(const QList<EvalSet::Stroke> &strokes, const QSize &size)
{
    QList<QPoint> all;
    for (const EvalSet::Stroke &s : strokes)
        all += EvalSet::strokePixels(s, size);
    const auto rowOrder = [](const QPoint &a, const QPoint &b) {
        return a.y() != b.y() ? a.y() < b.y() : a.x() < b.x();
    };
    std::sort(all.begin(), all.end(), rowOrder);
    all.erase(std::unique(all.begin(), all.end()), all.end());
    return all;
}

QImage insideOf(const QImage &mask)
{
    return mask.convertToFormat(QImage::Format_Grayscale8);
}

double srgbToLinear(int v)
{
    const double c = v / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double labF(double t)
{
    constexpr double delta = 6.0 / 29.0;
    return t > delta * delta * delta ? std::cbrt(t) : t / (3 * delta * delta) + 4.0 / 29.0;
}

} // namespace

EvalSet EvalSet::load(const QString &jsonPath)
{
    EvalSet set;
    QFile file(jsonPath);
    if (!file.open(QIODevice::ReadOnly)) {
        set.m_error = QStringLiteral("cannot open %1: %2").arg(jsonPath, file.errorString());
        return set;
    }
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (doc.isNull()) {
        set.m_error = QStringLiteral("%1: %2").arg(jsonPath, parseError.errorString());
        return set;
    }
    const QDir base = QFileInfo(jsonPath).absoluteDir();
    const auto image = [&](const QString &name, QImage::Format format, QImage *out) {
        const QString path = base.filePath(name);
        QImage img(path);
        if (img.isNull()) {
            set.m_error = QStringLiteral("cannot read %1 (the bench set's photos are made from the Debian files "
                                         "by scripts/make-eval-set.py --photos)")
                              .arg(path);
            return false;
        }
        *out = img.convertToFormat(format);
        return true;
    };

    QList<Photo> photos;
    const QJsonArray photoArray = doc.object().value(QLatin1String("photos")).toArray();
    for (const QJsonValue &pv : photoArray) {
        const QJsonObject po = pv.toObject();
        Photo photo;
        photo.name = po.value(QLatin1String("name")).toString();
        photo.source = po.value(QLatin1String("source")).toObject().value(QLatin1String("path")).toString();
        photo.greyOnly = po.value(QLatin1String("greyOnly")).toBool();
        if (!image(po.value(QLatin1String("grey")).toString(), QImage::Format_Grayscale8, &photo.grey)
            || !image(po.value(QLatin1String("colour")).toString(), QImage::Format_RGB32, &photo.colour))
            return set;
        const QSize size = photo.grey.size();
        if (photo.colour.size() != size) {
            set.m_error = QStringLiteral("%1: the grey and colour photos differ in size").arg(photo.name);
            return set;
        }
        const QJsonArray objectArray = po.value(QLatin1String("objects")).toArray();
        for (const QJsonValue &ov : objectArray) {
            const QJsonObject oo = ov.toObject();
            Object object;
            object.name = oo.value(QLatin1String("name")).toString();
            if (!image(oo.value(QLatin1String("mask")).toString(), QImage::Format_Grayscale8, &object.mask))
                return set;
            if (object.mask.size() != size) {
                set.m_error = QStringLiteral("%1/%2: the mask is not the photo's size").arg(photo.name, object.name);
                return set;
            }
            object.median = colourOf(oo.value(QLatin1String("median")));
            object.touchesBorder = oo.value(QLatin1String("touchesBorder")).toBool();
            object.hard = oo.value(QLatin1String("hard")).toString();
            for (const QJsonValue &s : oo.value(QLatin1String("keep")).toArray())
                object.keepStrokes.append(strokeOf(s.toObject()));
            for (const QJsonValue &s : oo.value(QLatin1String("remove")).toArray())
                object.removeStrokes.append(strokeOf(s.toObject()));
            object.shortKeepStroke = strokeOf(oo.value(QLatin1String("shortKeep")).toObject());
            object.keep = pixelsOf(object.keepStrokes, size);
            object.remove = pixelsOf(object.removeStrokes, size);
            object.shortKeep = strokePixels(object.shortKeepStroke, size);
            photo.objects.append(object);
        }
        const QJsonArray scribbleArray = po.value(QLatin1String("scribbles")).toArray();
        for (const QJsonValue &sv : scribbleArray) {
            const QJsonObject so = sv.toObject();
            Scribble scribble;
            scribble.stroke = strokeOf(so);
            scribble.colour = colourOf(so.value(QLatin1String("colour")));
            scribble.pixels = strokePixels(scribble.stroke, size);
            photo.scribbles.append(scribble);
        }
        photos.append(photo);
    }
    if (photos.isEmpty()) {
        set.m_error = QStringLiteral("%1 holds no photos").arg(jsonPath);
        return set;
    }
    set.m_photos = photos;
    return set;
}

// The build names the two sets' places: the test tree's subset, and the bench
// set that the bench build completes with the photos from the Debian files.
QString EvalSet::testSetPath()
{
    const QString env = qEnvironmentVariable("BRIVELA_EVALSET");
    if (!env.isEmpty())
        return env;
#ifdef BRIVELA_TEST_EVALSET
    return QStringLiteral(BRIVELA_TEST_EVALSET);
#else
    return QString();
#endif
}

QString EvalSet::benchSetPath()
{
    const QString env = qEnvironmentVariable("BRIVELA_EVALSET");
    if (!env.isEmpty())
        return env;
#ifdef BRIVELA_BENCH_EVALSET
    return QStringLiteral(BRIVELA_BENCH_EVALSET);
#else
    return QString();
#endif
}

QList<QPoint> EvalSet::strokePixels(const Stroke &stroke, const QSize &size)
{
    QList<QPoint> pixels;
    if (stroke.points.isEmpty())
        return pixels;
    const double r = stroke.width / 2;
    int minX = stroke.points.first().x();
    int maxX = minX;
    int minY = stroke.points.first().y();
    int maxY = minY;
    for (const QPoint &p : stroke.points) {
        minX = std::min(minX, p.x());
        maxX = std::max(maxX, p.x());
        minY = std::min(minY, p.y());
        maxY = std::max(maxY, p.y());
    }
    const int x0 = std::max(0, int(std::floor(minX - r)));
    const int x1 = std::min(size.width() - 1, int(std::ceil(maxX + r)));
    const int y0 = std::max(0, int(std::floor(minY - r)));
    const int y1 = std::min(size.height() - 1, int(std::ceil(maxY + r)));
    // The generator's rule, to the same rounding: the squared distance to the
    // nearest segment, compared with r squared plus a hair for ties.
    const double limit = r * r + 1e-9;
    const qsizetype segments = std::max<qsizetype>(1, stroke.points.size() - 1);
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
            double best = std::numeric_limits<double>::infinity();
            for (qsizetype i = 0; i < segments; ++i) {
                const QPoint a = stroke.points.at(i);
                const QPoint b = stroke.points.at(std::min(i + 1, stroke.points.size() - 1));
                const double dx = b.x() - a.x();
                const double dy = b.y() - a.y();
                const double dd = dx * dx + dy * dy;
                const double t = dd == 0 ? 0.0 : std::clamp(((x - a.x()) * dx + (y - a.y()) * dy) / dd, 0.0, 1.0);
                const double ex = x - a.x() - t * dx;
                const double ey = y - a.y() - t * dy;
                best = std::min(best, ex * ex + ey * ey);
            }
            if (best <= limit)
                pixels.append(QPoint(x, y));
        }
    }
    return pixels;
}

QImage EvalSet::maskOf(const QList<QPoint> &pixels, const QSize &size)
{
    QImage mask(size, QImage::Format_Grayscale8);
    mask.fill(0);
    const QRect bounds(QPoint(0, 0), size);
    for (const QPoint &p : pixels) {
        if (bounds.contains(p))
            mask.scanLine(p.y())[p.x()] = 255;
    }
    return mask;
}

QImage EvalSet::greyOf(const QImage &colour)
{
    const QImage rgb = colour.convertToFormat(QImage::Format_RGB32);
    QImage grey(rgb.size(), QImage::Format_Grayscale8);
    for (int y = 0; y < rgb.height(); ++y) {
        const auto *in = reinterpret_cast<const QRgb *>(rgb.constScanLine(y));
        uchar *out = grey.scanLine(y);
        for (int x = 0; x < rgb.width(); ++x)
            out[x] = uchar((299 * qRed(in[x]) + 587 * qGreen(in[x]) + 114 * qBlue(in[x]) + 500) / 1000);
    }
    return grey;
}

double EvalSet::iou(const QImage &a, const QImage &b)
{
    if (a.size() != b.size())
        return notANumber;
    const QImage ga = insideOf(a);
    const QImage gb = insideOf(b);
    qint64 both = 0;
    qint64 either = 0;
    for (int y = 0; y < ga.height(); ++y) {
        const uchar *pa = ga.constScanLine(y);
        const uchar *pb = gb.constScanLine(y);
        for (int x = 0; x < ga.width(); ++x) {
            const bool ia = pa[x] >= 128;
            const bool ib = pb[x] >= 128;
            both += ia && ib;
            either += ia || ib;
        }
    }
    return either == 0 ? 1.0 : double(both) / double(either);
}

namespace {

// Inside pixels with a 4-neighbour outside; neighbours off the photo do not count.
QImage boundaryOf(const QImage &mask)
{
    const QImage m = insideOf(mask);
    const int w = m.width();
    const int h = m.height();
    QImage edge(m.size(), QImage::Format_Grayscale8);
    edge.fill(0);
    const auto inside = [&](int x, int y) { return m.constScanLine(y)[x] >= 128; };
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            if (!inside(x, y))
                continue;
            if ((x > 0 && !inside(x - 1, y)) || (x + 1 < w && !inside(x + 1, y)) || (y > 0 && !inside(x, y - 1))
                || (y + 1 < h && !inside(x, y + 1)))
                edge.scanLine(y)[x] = 255;
        }
    }
    return edge;
}

} // namespace

double EvalSet::boundaryWithin(const QImage &result, const QImage &truth, double tolerance)
{
    if (result.size() != truth.size())
        return notANumber;
    const QImage mine = boundaryOf(result);
    const QImage theirs = boundaryOf(truth);
    const int reach = int(std::floor(tolerance));
    QList<QPoint> disc;
    for (int dy = -reach; dy <= reach; ++dy) {
        for (int dx = -reach; dx <= reach; ++dx) {
            if (dx * dx + dy * dy <= tolerance * tolerance + 1e-9)
                disc.append(QPoint(dx, dy));
        }
    }
    const int w = mine.width();
    const int h = mine.height();
    qint64 total = 0;
    qint64 near = 0;
    bool trueEdge = false;
    for (int y = 0; y < h && !trueEdge; ++y) {
        const uchar *row = theirs.constScanLine(y);
        trueEdge = std::any_of(row, row + w, [](uchar v) { return v != 0; });
    }
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            if (!mine.constScanLine(y)[x])
                continue;
            ++total;
            for (const QPoint &d : std::as_const(disc)) {
                const int tx = x + d.x();
                const int ty = y + d.y();
                if (tx >= 0 && ty >= 0 && tx < w && ty < h && theirs.constScanLine(ty)[tx]) {
                    ++near;
                    break;
                }
            }
        }
    }
    if (total == 0)
        return trueEdge ? 0.0 : 1.0;
    return double(near) / double(total);
}

double EvalSet::meanDeltaE2000(const QImage &a, const QImage &b, const QImage &mask)
{
    if (a.size() != b.size() || (!mask.isNull() && mask.size() != a.size()))
        return notANumber;
    const QImage ra = a.convertToFormat(QImage::Format_RGB32);
    const QImage rb = b.convertToFormat(QImage::Format_RGB32);
    const QImage m = mask.isNull() ? QImage() : insideOf(mask);
    double sum = 0;
    qint64 count = 0;
    for (int y = 0; y < ra.height(); ++y) {
        const auto *pa = reinterpret_cast<const QRgb *>(ra.constScanLine(y));
        const auto *pb = reinterpret_cast<const QRgb *>(rb.constScanLine(y));
        const uchar *pm = m.isNull() ? nullptr : m.constScanLine(y);
        for (int x = 0; x < ra.width(); ++x) {
            if (pm && pm[x] < 128)
                continue;
            // Equal pixels differ by nothing; most of a good result is equal.
            if ((pa[x] & 0xFFFFFFu) != (pb[x] & 0xFFFFFFu))
                sum += deltaE2000(labFromSrgb(pa[x]), labFromSrgb(pb[x]));
            ++count;
        }
    }
    return count == 0 ? notANumber : sum / double(count);
}

EvalSet::Lab EvalSet::labFromSrgb(QRgb rgb)
{
    static const std::array<double, 256> linear = [] {
        std::array<double, 256> t{};
        for (int i = 0; i < 256; ++i)
            t[size_t(i)] = srgbToLinear(i);
        return t;
    }();
    const double r = linear[size_t(qRed(rgb))];
    const double g = linear[size_t(qGreen(rgb))];
    const double b = linear[size_t(qBlue(rgb))];
    // sRGB to XYZ (IEC 61966-2-1), relative to the D65 white.
    const double x = (0.4124564 * r + 0.3575761 * g + 0.1804375 * b) / 0.95047;
    const double y = 0.2126729 * r + 0.7151522 * g + 0.0721750 * b;
    const double z = (0.0193339 * r + 0.1191920 * g + 0.9503041 * b) / 1.08883;
    const double fx = labF(x);
    const double fy = labF(y);
    const double fz = labF(z);
    return {116 * fy - 16, 500 * (fx - fy), 200 * (fy - fz)};
}

double EvalSet::deltaE2000(const Lab &x, const Lab &y)
{
    // Sharma, Wu and Dalal (2005), equations (1) to (22), with the mean hue
    // and hue difference taken as their notes say where a chroma is zero.
    const auto deg = [](double radians) { return radians * 180.0 / M_PI; };
    const auto rad = [](double degrees) { return degrees * M_PI / 180.0; };
    const double pow25_7 = 6103515625.0; // 25^7

    const double c1 = std::hypot(x.a, x.b);
    const double c2 = std::hypot(y.a, y.b);
    const double cMean = (c1 + c2) / 2;
    const double cMean7 = std::pow(cMean, 7);
    const double g = 0.5 * (1 - std::sqrt(cMean7 / (cMean7 + pow25_7)));
    const double a1 = (1 + g) * x.a;
    const double a2 = (1 + g) * y.a;
    const double c1p = std::hypot(a1, x.b);
    const double c2p = std::hypot(a2, y.b);
    const auto hue = [&](double b, double a) {
        if (a == 0 && b == 0)
            return 0.0;
        const double h = deg(std::atan2(b, a));
        return h < 0 ? h + 360 : h;
    };
    const double h1p = hue(x.b, a1);
    const double h2p = hue(y.b, a2);

    const double dLp = y.L - x.L;
    const double dCp = c2p - c1p;
    double dhp = 0;
    if (c1p * c2p != 0) {
        dhp = h2p - h1p;
        if (dhp > 180)
            dhp -= 360;
        else if (dhp < -180)
            dhp += 360;
    }
    const double dHp = 2 * std::sqrt(c1p * c2p) * std::sin(rad(dhp / 2));

    const double lMean = (x.L + y.L) / 2;
    const double cpMean = (c1p + c2p) / 2;
    double hpMean = h1p + h2p;
    if (c1p * c2p != 0) {
        if (std::abs(h1p - h2p) <= 180)
            hpMean = (h1p + h2p) / 2;
        else if (h1p + h2p < 360)
            hpMean = (h1p + h2p + 360) / 2;
        else
            hpMean = (h1p + h2p - 360) / 2;
    }
    const double t = 1 - 0.17 * std::cos(rad(hpMean - 30)) + 0.24 * std::cos(rad(2 * hpMean))
        + 0.32 * std::cos(rad(3 * hpMean + 6)) - 0.20 * std::cos(rad(4 * hpMean - 63));
    const double dTheta = 30 * std::exp(-std::pow((hpMean - 275) / 25, 2));
    const double cpMean7 = std::pow(cpMean, 7);
    const double rc = 2 * std::sqrt(cpMean7 / (cpMean7 + pow25_7));
    const double l50 = (lMean - 50) * (lMean - 50);
    const double sl = 1 + 0.015 * l50 / std::sqrt(20 + l50);
    const double sc = 1 + 0.045 * cpMean;
    const double sh = 1 + 0.015 * cpMean * t;
    const double rt = -std::sin(rad(2 * dTheta)) * rc;

    const double l = dLp / sl;
    const double c = dCp / sc;
    const double h = dHp / sh;
    return std::sqrt(l * l + c * c + h * h + rt * c * h);
}
