// How the colour models look on the evaluation set's real photos: each object
// painted with its true median colour at the default strength over the grey
// photo, laid on the photo as a flat save shows it, against the true colour
// photo. The classic model is the baseline, measured on the same objects.
//
// Beside them, the closest the natural model comes with any one brush colour.
//
//   brivela_colourquality [--save DIR]   (DIR: grey | classic | natural | truth, per object)

#include "colourquality.h"
#include "evalset.h"

#include <QDir>
#include <QGuiApplication>
#include <QPainter>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

StrokeStyle styleFor(StrokeStyle::Model model, const QColor &colour)
{
    StrokeStyle style;
    style.model = model;
    style.brush = colour.rgb();
    return style;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

double worst(const std::vector<double> &v, bool absolute = false)
{
    double w = 0;
    for (const double x : v)
        w = absolute ? (std::abs(x) > std::abs(w) ? x : w) : std::max(w, x);
    return w;
}

// The object's bounding box of the four pictures side by side.
QImage sideBySide(const QImage &grey, const QImage &classic, const QImage &natural, const QImage &truth,
                  const QImage &mask)
{
    QRect box;
    for (int y = 0; y < mask.height(); ++y)
        for (int x = 0; x < mask.width(); ++x)
            if (mask.constScanLine(y)[x] >= 128)
                box |= QRect(x, y, 1, 1);
    box = box.adjusted(-12, -12, 12, 12) & mask.rect();
    QImage out(box.width() * 4 + 12, box.height(), QImage::Format_RGB32);
    out.fill(Qt::white);
    QPainter painter(&out);
    const QImage pictures[] = {grey.convertToFormat(QImage::Format_RGB32), classic, natural, truth};
    for (int i = 0; i < 4; ++i)
        painter.drawImage(QPoint(i * (box.width() + 4), 0), pictures[i], box);
    return out;
}

// The brush colour that paints the object closest to the colour photo in the
// natural model, by mean CIEDE2000: a pattern search over whole RGB levels
// from the median colour, steps halving from 32 to 1. On an object of
// several colours no one brush colour comes much closer.
QColor bestColour(const EvalSet::Photo &p, const EvalSet::Object &o, double *deltaE)
{
    const auto cost = [&](const QColor &c) {
        return ColourQuality::paintObject(p.grey, p.colour, o.mask, styleFor(StrokeStyle::Model::Natural, c)).deltaE;
    };
    QColor best = o.median;
    double bestCost = cost(best);
    for (int step = 32; step >= 1; step /= 2) {
        for (bool moved = true; moved;) {
            moved = false;
            for (int channel = 0; channel < 3; ++channel) {
                for (const int sign : {-1, 1}) {
                    int rgb[3] = {best.red(), best.green(), best.blue()};
                    rgb[channel] = std::clamp(rgb[channel] + sign * step, 0, 255);
                    const QColor next(rgb[0], rgb[1], rgb[2]);
                    if (next == best)
                        continue;
                    const double c = cost(next);
                    if (c < bestCost) {
                        best = next;
                        bestCost = c;
                        moved = true;
                    }
                }
            }
        }
    }
    *deltaE = bestCost;
    return best;
}

} // namespace

int main(int argc, char **argv)
{
    // No window is shown: the benchmark runs without a display as well.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QString saveDir;
    for (int i = 1; i + 1 < argc; ++i)
        if (QByteArray(argv[i]) == "--save")
            saveDir = QString::fromLocal8Bit(argv[i + 1]);

    const EvalSet set = EvalSet::load(EvalSet::benchSetPath());
    if (!set.isValid()) {
        std::fprintf(stderr, "%s\n", qPrintable(set.errorString()));
        return 1;
    }
    if (!saveDir.isEmpty())
        QDir().mkpath(saveDir);

    std::printf("Objects painted with their true median colour at the default strength (alpha 220), laid over the\n"
                "grey photo as a flat save shows it; mean CIEDE2000 against the colour photo over the object, and\n"
                "the painted pixels' mean luma (Rec. 601) against the grey photo's.\n\n");
    std::printf("%-26s %12s %12s %14s %14s %12s %12s %12s\n", "object", "dE natural", "dE classic", "luma natural",
                "luma classic", "|dY| nat.", "|dY| cl.", "dE best one");
    std::vector<double> dn, dc, ln, lc, db;
    for (const EvalSet::Photo &p : set.photos()) {
        if (p.greyOnly)
            continue;
        for (const EvalSet::Object &o : p.objects) {
            QImage natural;
            QImage classic;
            const auto n = ColourQuality::paintObject(p.grey, p.colour, o.mask,
                                                      styleFor(StrokeStyle::Model::Natural, o.median), &natural);
            const auto c = ColourQuality::paintObject(p.grey, p.colour, o.mask,
                                                      styleFor(StrokeStyle::Model::Classic, o.median), &classic);
            double floor = 0;
            bestColour(p, o, &floor);
            const QString name = p.name + QLatin1Char('/') + o.name;
            std::printf("%-26s %12.2f %12.2f %+13.2f%% %+13.2f%% %12.2f %12.2f %12.2f\n", qPrintable(name), n.deltaE,
                        c.deltaE, 100 * n.lumaShift, 100 * c.lumaShift, n.lumaLevels, c.lumaLevels, floor);
            db.push_back(floor);
            dn.push_back(n.deltaE);
            dc.push_back(c.deltaE);
            ln.push_back(n.lumaShift);
            lc.push_back(c.lumaShift);
            if (!saveDir.isEmpty())
                sideBySide(p.grey, classic, natural, p.colour, o.mask)
                    .save(QDir(saveDir).filePath(p.name + QLatin1Char('-') + o.name + QStringLiteral(".png")));
        }
    }
    std::printf("%-26s %12.2f %12.2f %+13.2f%% %+13.2f%% %12s %12s %12.2f\n", "median", median(dn), median(dc),
                100 * median(ln), 100 * median(lc), "", "", median(db));
    std::printf("%-26s %12.2f %12.2f %+13.2f%% %+13.2f%% %12s %12s %12.2f\n", "worst", worst(dn), worst(dc),
                100 * worst(ln, true), 100 * worst(lc, true), "", "", worst(db));
    std::printf("\n%zu objects; targets for the natural model: median <= 4, worst <= 6, luma within 1 %%.\n"
                "dE best one: the natural model with the one brush colour that comes closest on the object\n"
                "(a pattern search from the median colour): what painting the object in one colour can reach.\n",
                dn.size());
    return 0;
}
