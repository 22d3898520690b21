// Quality of the colour spread on real photos turned grey, each with one short
// scribble per region in the region's true median colour: the mean CIEDE2000
// difference from the true colour photo of the grey photo, of the exact sparse
// solution and of the fast solver, and the fast solver against the exact one.
// Writes each result beside the true photo and the grey to a folder of PNGs.

#include "exactspread.h"

#include "imaging/colourspread.h"

#include <QDir>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

// CPU time of this thread: the machine is shared, and wall time says more of
// the neighbours than of the solver.
double cpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

struct Lab {
    double l, a, b;
};

double linear(double c)
{
    c /= 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

Lab lab(QRgb c)
{
    const double r = linear(qRed(c)), g = linear(qGreen(c)), b = linear(qBlue(c));
    const double x = (0.4124564 * r + 0.3575761 * g + 0.1804375 * b) / 0.95047;
    const double y = 0.2126729 * r + 0.7151522 * g + 0.0721750 * b;
    const double z = (0.0193339 * r + 0.1191920 * g + 0.9503041 * b) / 1.08883;
    const auto f = [](double t) { return t > 216.0 / 24389 ? std::cbrt(t) : (24389.0 / 27 * t + 16) / 116; };
    return {116 * f(y) - 16, 500 * (f(x) - f(y)), 200 * (f(y) - f(z))};
}

double ciede2000(const Lab &p, const Lab &q)
{
    const double pi = 3.14159265358979323846;
    const double c1 = std::hypot(p.a, p.b), c2 = std::hypot(q.a, q.b);
    const double cm = (c1 + c2) / 2;
    const double g = 0.5 * (1 - std::sqrt(std::pow(cm, 7) / (std::pow(cm, 7) + std::pow(25.0, 7))));
    const double a1 = (1 + g) * p.a, a2 = (1 + g) * q.a;
    const double c1p = std::hypot(a1, p.b), c2p = std::hypot(a2, q.b);
    auto hue = [pi](double b, double a) {
        if (a == 0 && b == 0)
            return 0.0;
        double h = std::atan2(b, a) * 180 / pi;
        return h < 0 ? h + 360 : h;
    };
    const double h1 = hue(p.b, a1), h2 = hue(q.b, a2);
    const double dl = q.l - p.l, dc = c2p - c1p;
    double dh = 0;
    if (c1p * c2p != 0) {
        dh = h2 - h1;
        if (dh > 180)
            dh -= 360;
        else if (dh < -180)
            dh += 360;
    }
    const double dH = 2 * std::sqrt(c1p * c2p) * std::sin(dh / 2 * pi / 180);
    const double lm = (p.l + q.l) / 2, cmp = (c1p + c2p) / 2;
    double hm = h1 + h2;
    if (c1p * c2p != 0) {
        if (std::abs(h1 - h2) <= 180)
            hm = (h1 + h2) / 2;
        else
            hm = (h1 + h2 < 360) ? (h1 + h2 + 360) / 2 : (h1 + h2 - 360) / 2;
    }
    const double t = 1 - 0.17 * std::cos((hm - 30) * pi / 180) + 0.24 * std::cos(2 * hm * pi / 180)
                     + 0.32 * std::cos((3 * hm + 6) * pi / 180) - 0.20 * std::cos((4 * hm - 63) * pi / 180);
    const double dtheta = 30 * std::exp(-std::pow((hm - 275) / 25, 2));
    const double rc = 2 * std::sqrt(std::pow(cmp, 7) / (std::pow(cmp, 7) + std::pow(25.0, 7)));
    const double sl = 1 + 0.015 * std::pow(lm - 50, 2) / std::sqrt(20 + std::pow(lm - 50, 2));
    const double sc = 1 + 0.045 * cmp, sh = 1 + 0.015 * cmp * t;
    const double rt = -std::sin(2 * dtheta * pi / 180) * rc;
    return std::sqrt(std::pow(dl / sl, 2) + std::pow(dc / sc, 2) + std::pow(dH / sh, 2) + rt * (dc / sc) * (dH / sh));
}

double meanDifference(const QImage &a, const QImage &b)
{
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            sum += ciede2000(lab(a.pixel(x, y)), lab(b.pixel(x, y)));
    return sum / (double(a.width()) * a.height());
}

} // namespace

int main(int argc, char **argv)
{
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("/tmp/devset");
    const QString out = QStringLiteral("/tmp/spread-overlays");
    ColourSpread::Options options;
    if (argc > 2)
        options.iterations = std::atoi(argv[2]);
    if (argc > 3)
        options.sweeps = std::atoi(argv[3]);
    if (argc > 4)
        options.solvePixels = std::atoll(argv[4]);
    QDir().mkpath(out);
    const QStringList names = QDir(folder).entryList({QStringLiteral("*-grey.png")});
    std::printf("%-12s %9s %9s %9s %9s %9s %9s\n", "photo", "grey", "exact", "fast", "fast-ex", "exact_ms", "fast_ms");
    for (const QString &name : names) {
        const QString stem = name.left(name.size() - 9);
        const QImage grey = QImage(folder + QLatin1Char('/') + name).convertToFormat(QImage::Format_Grayscale8);
        const QImage truth = QImage(folder + QLatin1Char('/') + stem + QStringLiteral("-true.png")).convertToFormat(QImage::Format_RGB32);
        const QImage marksImage = QImage(folder + QLatin1Char('/') + stem + QStringLiteral("-marks.png")).convertToFormat(QImage::Format_ARGB32);
        QList<ColourSpread::Mark> marks;
        for (int y = 0; y < marksImage.height(); ++y)
            for (int x = 0; x < marksImage.width(); ++x)
                if (qAlpha(marksImage.pixel(x, y)) == 255)
                    marks.append({QPoint(x, y), marksImage.pixel(x, y)});
        double start = cpuMs();
        const ColourSpread::Result exact = ExactSpread::compute(grey, marks);
        const double exactMs = cpuMs() - start;
        start = cpuMs();
        const ColourSpread::Result fast = ColourSpread::compute(grey, marks, options);
        const double fastMs = cpuMs() - start;
        const QImage exactImage = ExactSpread::render(grey, exact.chroma);
        const QImage fastImage = ExactSpread::render(grey, fast.chroma);
        std::printf("%-12s %9.2f %9.2f %9.2f %9.2f %9.1f %9.1f\n", qPrintable(stem),
                    meanDifference(grey.convertToFormat(QImage::Format_RGB32), truth), meanDifference(exactImage, truth),
                    meanDifference(fastImage, truth), meanDifference(fastImage, exactImage), exactMs, fastMs);
        std::fflush(stdout);
        QImage sheet(grey.width() * 2, grey.height() * 2, QImage::Format_RGB32);
        QPainter p(&sheet);
        QImage greyMarked = grey.convertToFormat(QImage::Format_RGB32);
        for (const ColourSpread::Mark &m : marks)
            greyMarked.setPixel(m.pixel, m.colour);
        p.drawImage(0, 0, truth);
        p.drawImage(grey.width(), 0, greyMarked);
        p.drawImage(0, grey.height(), exactImage);
        p.drawImage(grey.width(), grey.height(), fastImage);
        p.end();
        sheet.save(out + QLatin1Char('/') + stem + QStringLiteral(".png"));
    }
    return 0;
}
