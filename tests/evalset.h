#ifndef EVALSET_H
#define EVALSET_H

#include <QColor>
#include <QImage>
#include <QList>
#include <QPoint>
#include <QSize>
#include <QString>

// The evaluation set of real photos that scripts/make-eval-set.py writes: per
// photo the grey version the algorithms see and the colour version the truth
// comes from; per object its true region, its true median colour and the
// strokes a person would lay on it; per spread photo one scribble per region
// in that region's true colour. The same reader serves the tests (a reduced
// subset in the test tree) and the benchmarks (the whole set), together with
// the measures that judge a result against the truth.
class EvalSet
{
public:
    struct Stroke {
        QList<QPoint> points; // a polyline through pixel centres
        double width = 0;
        int pixelCount = 0;   // as the generator counted its pixels
    };

    struct Object {
        QString name;
        QImage mask; // Format_Grayscale8, 255 inside the true region, 0 outside
        QColor median;
        bool touchesBorder = false;
        QString hard; // what makes the object hard, in a few words
        QList<Stroke> keepStrokes;
        QList<Stroke> removeStrokes;
        Stroke shortKeepStroke;
        // The strokes as the pixels they cover, each pixel once, row by row.
        QList<QPoint> keep;
        QList<QPoint> remove;
        QList<QPoint> shortKeep;
    };

    struct Scribble {
        Stroke stroke;
        QColor colour;
        QList<QPoint> pixels;
    };

    struct Photo {
        QString name;
        QString source; // the Debian file it was made from
        QImage grey;    // Format_Grayscale8
        QImage colour;  // Format_RGB32; a grey photo's colour is its grey
        bool greyOnly = false; // no colour truth: leave it out of colour measures
        QList<Object> objects;
        QList<Scribble> scribbles;
    };

    struct Lab {
        double L = 0;
        double a = 0;
        double b = 0;
    };

    // Reads a set; on any failure photos() is empty and errorString() says why.
    static EvalSet load(const QString &jsonPath);
    // The reduced subset in the test tree and the whole set of the benchmarks;
    // BRIVELA_EVALSET in the environment names another JSON for both.
    static QString testSetPath();
    static QString benchSetPath();

    bool isValid() const { return m_error.isEmpty(); }
    QString errorString() const { return m_error; }
    const QList<Photo> &photos() const { return m_photos; }

    // The pixels within width / 2 of the stroke's polyline (the disc of its
    // width swept along it) that lie inside `size`, each once, row by row.
    static QList<QPoint> strokePixels(const Stroke &stroke, const QSize &size);
    // A Format_Grayscale8 mask with the given pixels at 255.
    static QImage maskOf(const QList<QPoint> &pixels, const QSize &size);
    // Rec. 601 luma, (299 R + 587 G + 114 B + 500) / 1000, as the set's grey files.
    static QImage greyOf(const QImage &colour);

    // Masks are any images of equal size; a pixel is inside where its grey
    // value is at least 128. Images of different sizes give NaN.
    static double iou(const QImage &a, const QImage &b);
    // The share of the result's boundary pixels (inside pixels with a
    // 4-neighbour outside; the photo's edge is no boundary) that lie within
    // `tolerance` pixels of the truth's boundary. Swapped, it is the share of
    // the true boundary that the result found.
    static double boundaryWithin(const QImage &result, const QImage &truth, double tolerance = 2.0);
    // The mean CIEDE2000 difference between two sRGB images over the inside
    // of `mask` (the whole image when the mask is null); NaN when nothing is
    // inside or the sizes differ.
    static double meanDeltaE2000(const QImage &a, const QImage &b, const QImage &mask = QImage());

    // CIE L*a*b* of an sRGB colour, D65 white.
    static Lab labFromSrgb(QRgb rgb);
    // CIEDE2000 with kL = kC = kH = 1.
    static double deltaE2000(const Lab &x, const Lab &y);

private:
    QList<Photo> m_photos;
    QString m_error;
};

#endif // EVALSET_H
