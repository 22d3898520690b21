// How well the fill finds real objects: per object of an evaluation set (real
// photos turned grey, true regions from their colour versions, strokes
// generated from a seed), the intersection over union with the true region
// and the share of the boundary within 2 pixels of the true edge, for three
// ways of marking: keep and remove strokes, one short keep stroke with the
// remove strokes, and keep strokes alone. Beside the fill, in the same run:
// the fill as it was before it had a region model, OpenCV's grabCut with the
// same marks (cut to the parts touching a keep mark), and a magic wand with
// the best tolerance for each photo (an oracle no user has). Then, as a person
// looking at the result would go on: up to five correcting dabs, each where
// the region is most wrong, and the IoU after each, for the fill and grabCut.
//
// Usage: brivela_fillquality [OVERLAY_FOLDER]; BRIVELA_EVALSET names another
// set than the bench's.

#include "evalset.h"
#include "referencefill.h"

#include "imaging/regionfill.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QStringList>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

cv::Mat maskOf(const RowSpans &spans, QSize size)
{
    cv::Mat mask(size.height(), size.width(), CV_8U, cv::Scalar(0));
    for (const RowSpan &s : spans)
        std::fill(mask.ptr<uchar>(s.y) + s.left, mask.ptr<uchar>(s.y) + s.right + 1, uchar(255));
    return mask;
}

cv::Mat hardMaskOf(const CoverageSpans &region, QSize size)
{
    cv::Mat mask(size.height(), size.width(), CV_8U, cv::Scalar(0));
    for (qsizetype i = 0; i < region.size(); ++i) {
        const RowSpan &s = region.spans()[i];
        for (int x = s.left; x <= s.right; ++x)
            if (region.at(i, x) >= 128)
                mask.at<uchar>(s.y, x) = 255;
    }
    return mask;
}

cv::Mat matOf(const QImage &grey)
{
    cv::Mat m(grey.height(), grey.width(), CV_8U);
    for (int y = 0; y < grey.height(); ++y)
        std::copy(grey.constScanLine(y), grey.constScanLine(y) + grey.width(), m.ptr<uchar>(y));
    return m;
}

// The connected parts (4-neighbours) of a mask that hold a keep mark.
cv::Mat touchingKeep(const cv::Mat &mask, const QList<QPoint> &keep)
{
    cv::Mat labels;
    cv::connectedComponents(mask, labels, 4, CV_32S);
    std::vector<char> wanted(size_t(labels.rows) * size_t(labels.cols) + 1, 0);
    for (const QPoint &p : keep) {
        const int l = labels.at<int>(p.y(), p.x());
        if (l > 0)
            wanted[size_t(l)] = 1;
    }
    cv::Mat out(mask.size(), CV_8U, cv::Scalar(0));
    for (int y = 0; y < mask.rows; ++y)
        for (int x = 0; x < mask.cols; ++x)
            if (wanted[size_t(labels.at<int>(y, x))])
                out.at<uchar>(y, x) = 255;
    return out;
}

double iou(const cv::Mat &a, const cv::Mat &b)
{
    const double both = cv::countNonZero(a & b);
    const double either = cv::countNonZero(a | b);
    return either > 0 ? both / either : 0;
}

cv::Mat boundaryOf(const cv::Mat &mask)
{
    cv::Mat eroded;
    cv::erode(mask, eroded, cv::getStructuringElement(cv::MORPH_CROSS, cv::Size(3, 3)), cv::Point(-1, -1), 1,
              cv::BORDER_REPLICATE);
    return mask & ~eroded;
}

// Share of the found boundary within `reach` pixels of the true one.
double boundaryWithin(const cv::Mat &found, const cv::Mat &truth, int reach)
{
    const cv::Mat foundEdge = boundaryOf(found);
    cv::Mat near;
    cv::dilate(boundaryOf(truth), near, cv::Mat::ones(2 * reach + 1, 2 * reach + 1, CV_8U));
    const double total = cv::countNonZero(foundEdge);
    return total > 0 ? cv::countNonZero(foundEdge & near) / total : 0;
}

cv::Mat grabCut(const cv::Mat &grey, const QList<QPoint> &keep, const QList<QPoint> &remove)
{
    cv::Mat colour;
    cv::cvtColor(grey, colour, cv::COLOR_GRAY2BGR);
    cv::Mat mask(grey.size(), CV_8U, cv::Scalar(cv::GC_PR_BGD));
    for (const QPoint &p : keep)
        mask.at<uchar>(p.y(), p.x()) = cv::GC_FGD;
    for (const QPoint &p : remove)
        mask.at<uchar>(p.y(), p.x()) = cv::GC_BGD;
    cv::Mat background;
    cv::Mat foreground;
    cv::grabCut(colour, mask, cv::Rect(), background, foreground, 5, cv::GC_INIT_WITH_MASK);
    const cv::Mat region = (mask == cv::GC_FGD) | (mask == cv::GC_PR_FGD);
    return touchingKeep(region, keep);
}

// The wand's region at the tolerance that fits the truth best.
std::pair<cv::Mat, int> oracleWand(const cv::Mat &grey, const QList<QPoint> &keep, const cv::Mat &truth)
{
    double sum = 0;
    for (const QPoint &p : keep)
        sum += grey.at<uchar>(p.y(), p.x());
    const int mean = int(std::lround(sum / std::max<qsizetype>(1, keep.size())));
    cv::Mat best;
    double bestIou = -1;
    int bestTolerance = 0;
    for (int tolerance = 2; tolerance <= 128; tolerance += 2) {
        cv::Mat within;
        cv::inRange(grey, cv::Scalar(mean - tolerance), cv::Scalar(mean + tolerance), within);
        const cv::Mat region = touchingKeep(within, keep);
        const double score = iou(region, truth);
        if (score > bestIou) {
            bestIou = score;
            best = region;
            bestTolerance = tolerance;
        }
    }
    return {best, bestTolerance};
}

// The photo with what the fill got right tinted blue, what it took beyond the
// truth red, what it missed green; keep marks cyan, remove marks orange, the
// soft rim's partly covered pixels magenta.
void overlay(const QString &folder, const QString &name, const QImage &grey, const cv::Mat &truth, const cv::Mat &found,
             const CoverageSpans *soft, const QList<QPoint> &keep, const QList<QPoint> &remove)
{
    if (folder.isEmpty())
        return;
    QImage out = grey.convertToFormat(QImage::Format_RGB32);
    const auto tint = [](QRgb c, int r, int g, int b) {
        return qRgb((qRed(c) + 2 * r) / 3, (qGreen(c) + 2 * g) / 3, (qBlue(c) + 2 * b) / 3);
    };
    for (int y = 0; y < grey.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(out.scanLine(y));
        for (int x = 0; x < grey.width(); ++x) {
            const bool t = truth.at<uchar>(y, x);
            const bool f = found.at<uchar>(y, x);
            if (t && f)
                line[x] = qRgb(qRed(line[x]) * 3 / 4, qGreen(line[x]) * 3 / 4, 64 + qBlue(line[x]) * 3 / 4);
            else if (f)
                line[x] = tint(line[x], 255, 0, 0);
            else if (t)
                line[x] = tint(line[x], 0, 230, 0);
        }
    }
    if (soft) {
        for (qsizetype i = 0; i < soft->size(); ++i) {
            const RowSpan &s = soft->spans()[i];
            for (int x = s.left; x <= s.right; ++x) {
                const int c = soft->at(i, x);
                if (c > 0 && c < 255)
                    out.setPixel(x, s.y, tint(out.pixel(x, s.y), 230, 0, 230));
            }
        }
    }
    for (const QPoint &p : keep)
        out.setPixel(p, qRgb(0, 230, 255));
    for (const QPoint &p : remove)
        out.setPixel(p, qRgb(255, 150, 0));
    out.save(QDir(folder).filePath(name + QStringLiteral(".png")));
    // The hard region too, for measuring beside the overlay.
    QImage mask(found.cols, found.rows, QImage::Format_Grayscale8);
    for (int y = 0; y < found.rows; ++y)
        std::copy(found.ptr<uchar>(y), found.ptr<uchar>(y) + found.cols, mask.scanLine(y));
    mask.save(QDir(folder).filePath(name + QStringLiteral("_region.png")));
}

// A person's next stroke where the region is most wrong: a dab at the wrong
// pixel farthest from any right one, a keep mark where the region misses the
// object, a remove mark where it runs beyond it; a disc of half that distance
// (2 to 6 pixels) within the wrong area. False when no wrong area is more
// than a few pixels across, where a person would stop.
bool addCorrection(const cv::Mat &found, const cv::Mat &truth, QList<QPoint> &keep, QList<QPoint> &remove)
{
    double farthest = 0;
    cv::Point at;
    bool missed = false;
    cv::Mat area;
    for (const bool inside : {true, false}) {
        const cv::Mat wrong = inside ? (truth & ~found) : (found & ~truth);
        // The photo's border counts as an edge of a wrong area: a person dabs
        // in the middle of what is wrong, not at the photo's edge.
        cv::Mat padded;
        cv::copyMakeBorder(wrong, padded, 1, 1, 1, 1, cv::BORDER_CONSTANT, cv::Scalar(0));
        cv::Mat distance;
        cv::distanceTransform(padded, distance, cv::DIST_L2, cv::DIST_MASK_PRECISE);
        double most = 0;
        cv::Point where;
        cv::minMaxLoc(distance, nullptr, &most, nullptr, &where);
        if (most > farthest) {
            farthest = most;
            at = where - cv::Point(1, 1);
            missed = inside;
            area = wrong;
        }
    }
    if (farthest < 2.5)
        return false;
    const int radius = std::clamp(int(farthest / 2), 2, 6);
    QList<QPoint> &marks = missed ? keep : remove;
    for (int y = std::max(0, at.y - radius); y <= std::min(truth.rows - 1, at.y + radius); ++y)
        for (int x = std::max(0, at.x - radius); x <= std::min(truth.cols - 1, at.x + radius); ++x)
            if ((x - at.x) * (x - at.x) + (y - at.y) * (y - at.y) <= radius * radius && area.at<uchar>(y, x))
                marks.append(QPoint(x, y));
    return true;
}

constexpr int mostCorrections = 5;

// The IoU after the keep and remove strokes and after each correcting stroke
// in turn, until nothing more than a few pixels across is wrong.
template <typename Cut>
std::vector<double> correctedIous(const cv::Mat &truth, QList<QPoint> keep, QList<QPoint> remove, Cut &&cut)
{
    std::vector<double> ious;
    for (int added = 0;; ++added) {
        const cv::Mat found = cut(keep, remove);
        ious.push_back(iou(found, truth));
        if (added == mostCorrections || !addCorrection(found, truth, keep, remove))
            return ious;
    }
}

// How many correcting strokes it took to reach an IoU, or -1.
int strokesTo(const std::vector<double> &ious, double least)
{
    for (size_t i = 0; i < ious.size(); ++i)
        if (ious[i] >= least)
            return int(i);
    return -1;
}

QString iouList(const std::vector<double> &ious)
{
    QStringList parts;
    for (const double v : ious)
        parts << QString::number(v, 'f', 3);
    return parts.join(QLatin1Char(' '));
}

struct Row {
    QString name;
    double ours[3] = {0, 0, 0};
    double reference[3] = {0, 0, 0};
    double grabCut[3] = {0, 0, 0};
    double wand = 0;
    int wandTolerance = 0;
    double boundary = 0;
    double milliseconds = 0;
    qint64 pixels = 0;
    std::vector<double> corrected;        // the fill's
    std::vector<double> grabCutCorrected; // empty when not run
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : (v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const EvalSet set = EvalSet::load(EvalSet::benchSetPath());
    if (!set.isValid()) {
        std::fprintf(stderr, "no evaluation set: %s\n", qPrintable(set.errorString()));
        return 2;
    }
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (!folder.isEmpty())
        QDir().mkpath(folder);
    const QString cache = qEnvironmentVariable("BRIVELA_GRABCUT_CACHE");
    if (!cache.isEmpty())
        QDir().mkpath(cache);
    // Only the fill, for profiling it.
    const bool fillOnly = qEnvironmentVariableIsSet("BRIVELA_FILL_ONLY");
    const QString only = qEnvironmentVariable("BRIVELA_FILL_OBJECT");
    // Which ways of marking to run, as digits: 0 keep and remove, 1 short keep, 2 keep only.
    const QString settingsWanted = qEnvironmentVariable("BRIVELA_FILL_SETTINGS");
    const char *settings[3] = {"keep+remove", "short keep+remove", "keep only"};
    std::vector<Row> rows;
    for (const EvalSet::Photo &photo : set.photos()) {
        for (const EvalSet::Object &object : photo.objects) {
            const QString name = photo.name + QLatin1Char('-') + object.name;
            if (!only.isEmpty() && !name.contains(only))
                continue;
            Row row;
            row.name = name;
            row.pixels = qint64(photo.grey.width()) * photo.grey.height();
            const cv::Mat grey = matOf(photo.grey);
            const cv::Mat truth = matOf(object.mask) > 127;
            const QList<QPoint> keeps[3] = {object.keep, object.shortKeep, object.keep};
            const QList<QPoint> removes[3] = {object.remove, object.remove, {}};
            for (int s = 0; s < 3; ++s) {
                if (!settingsWanted.isEmpty() && !settingsWanted.contains(QChar(u'0' + s)))
                    continue;
                QElapsedTimer timer;
                timer.start();
                const RegionFill::Result result = RegionFill::compute(photo.grey, keeps[s], removes[s]);
                if (s == 0)
                    row.milliseconds = timer.nsecsElapsed() / 1e6;
                const cv::Mat found = hardMaskOf(result.region, photo.grey.size());
                row.ours[s] = iou(found, truth);
                if (s == 0)
                    row.boundary = boundaryWithin(found, truth, 2);
                overlay(folder, name + QStringLiteral("_") + QString::number(s), photo.grey, truth, found,
                        &result.region, keeps[s], removes[s]);
                if (!fillOnly) {
                    const ReferenceFill::Result before = ReferenceFill::compute(photo.grey, keeps[s], removes[s]);
                    const cv::Mat old = maskOf(before.spans, photo.grey.size());
                    row.reference[s] = iou(old, truth);
                    overlay(folder, name + QStringLiteral("_") + QString::number(s) + QStringLiteral("_before"),
                            photo.grey, truth, old, nullptr, keeps[s], removes[s]);
                }
                // grabCut is slow on grey photos; its regions may be kept between runs.
                // The same object in another evaluation set (the reduced copies)
                // has another size and other strokes: the size is in the name.
                const QString cached = cache.isEmpty()
                    ? QString()
                    : QDir(cache).filePath(name + QStringLiteral("_%1x%2_%3.png").arg(grey.cols).arg(grey.rows).arg(s));
                cv::Mat cut;
                if (!cached.isEmpty() && QFileInfo::exists(cached)) {
                    const QImage kept = QImage(cached).convertToFormat(QImage::Format_Grayscale8);
                    if (kept.width() == grey.cols && kept.height() == grey.rows)
                        cut = matOf(kept) > 127;
                }
                if (cut.empty() && fillOnly)
                    continue;
                if (cut.empty()) {
                    cut = grabCut(grey, keeps[s], removes[s]);
                    if (!cached.isEmpty()) {
                        QImage image(cut.cols, cut.rows, QImage::Format_Grayscale8);
                        for (int y = 0; y < cut.rows; ++y)
                            std::copy(cut.ptr<uchar>(y), cut.ptr<uchar>(y) + cut.cols, image.scanLine(y));
                        image.save(cached);
                    }
                }
                row.grabCut[s] = iou(cut, truth);
                if (!fillOnly)
                    overlay(folder, name + QStringLiteral("_") + QString::number(s) + QStringLiteral("_grabcut"),
                            photo.grey, truth, cut, nullptr, keeps[s], removes[s]);
            }
            if (!fillOnly) {
                const auto [wand, tolerance] = oracleWand(grey, object.keep, truth);
                row.wand = iou(wand, truth);
                row.wandTolerance = tolerance;
            }
            // Correcting strokes, as a person would add them while looking at
            // the result.
            const bool correcting = settingsWanted.isEmpty() || settingsWanted.contains(QLatin1Char('0'));
            if (correcting)
                row.corrected =
                    correctedIous(truth, object.keep, object.remove,
                                  [&, step = 0](const QList<QPoint> &keep, const QList<QPoint> &remove) mutable {
                                      const RegionFill::Result result = RegionFill::compute(photo.grey, keep, remove);
                                      const cv::Mat found = hardMaskOf(result.region, photo.grey.size());
                                      overlay(folder, name + QStringLiteral("_corrected%1").arg(step++), photo.grey,
                                              truth, found, &result.region, keep, remove);
                                      return found;
                                  });
            if (correcting && !fillOnly)
                row.grabCutCorrected = correctedIous(truth, object.keep, object.remove,
                                                     [&](const QList<QPoint> &keep, const QList<QPoint> &remove) {
                                                         return grabCut(grey, keep, remove);
                                                     });
            rows.push_back(row);
            std::printf("%-22s fill %.3f %.3f %.3f | before %.3f %.3f %.3f | grabCut %.3f %.3f %.3f | wand %.3f (%d) | "
                        "boundary %.3f | %.1f ms\n",
                        qPrintable(row.name), row.ours[0], row.ours[1], row.ours[2], row.reference[0], row.reference[1],
                        row.reference[2], row.grabCut[0], row.grabCut[1], row.grabCut[2], row.wand, row.wandTolerance,
                        row.boundary, row.milliseconds);
            std::printf("%-22s corrected fill %s | grabCut %s\n", qPrintable(row.name),
                        qPrintable(iouList(row.corrected)), qPrintable(iouList(row.grabCutCorrected)));
            std::fflush(stdout);
        }
    }
    if (rows.empty())
        return 1;
    for (int s = 0; s < 3; ++s) {
        std::vector<double> ours, before, cut;
        for (const Row &row : rows) {
            ours.push_back(row.ours[s]);
            before.push_back(row.reference[s]);
            cut.push_back(row.grabCut[s]);
        }
        std::printf("%-18s median/worst: fill %.3f/%.3f  before %.3f/%.3f  grabCut %.3f/%.3f\n", settings[s],
                    median(ours), *std::min_element(ours.begin(), ours.end()), median(before),
                    *std::min_element(before.begin(), before.end()), median(cut),
                    *std::min_element(cut.begin(), cut.end()));
    }
    std::vector<double> wands, boundaries;
    int behindGrabCut = 0;
    for (const Row &row : rows) {
        wands.push_back(row.wand);
        boundaries.push_back(row.boundary);
        behindGrabCut += row.ours[0] < row.grabCut[0];
    }
    std::printf("wand (oracle) median/worst %.3f/%.3f; boundary within 2 px median %.3f; objects where grabCut is "
                "ahead with keep+remove: %d\n",
                median(wands), *std::min_element(wands.begin(), wands.end()), median(boundaries), behindGrabCut);
    // Correcting strokes needed per object to reach each IoU; more than the
    // most tried counts as one more, for the median.
    for (const double least : {0.85, 0.90, 0.95}) {
        for (const bool ofGrabCut : {false, true}) {
            std::vector<double> counts;
            int never = 0;
            for (const Row &row : rows) {
                const std::vector<double> &ious = ofGrabCut ? row.grabCutCorrected : row.corrected;
                if (ious.empty())
                    continue;
                const int n = strokesTo(ious, least);
                never += n < 0;
                counts.push_back(n < 0 ? mostCorrections + 1 : n);
            }
            if (counts.empty())
                continue;
            std::printf("%s: correcting strokes to IoU %.2f, median %.1f, most %s, never within %d: %d objects\n",
                        ofGrabCut ? "grabCut" : "fill", least, median(counts),
                        never ? "never" : qPrintable(QString::number(*std::max_element(counts.begin(), counts.end()))),
                        mostCorrections, never);
        }
    }
    return 0;
}
