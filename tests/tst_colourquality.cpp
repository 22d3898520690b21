#include "colourquality.h"
#include "evalset.h"
#include "testsupport.h"

#include <QtTest>

namespace {

const EvalSet &testSet()
{
    static const EvalSet set = EvalSet::load(EvalSet::testSetPath());
    return set;
}

StrokeStyle styleFor(StrokeStyle::Model model, const QColor &colour)
{
    StrokeStyle style;
    style.model = model;
    style.brush = colour.rgb();
    return style; // default strength, hard
}

} // namespace

// Real photos of the evaluation set's reduced subset, turned grey; each
// object painted with its true median colour at the default strength. The
// median over objects is a figure of the whole set, in the benchmark.
class TestColourQuality : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void naturalColourLooksLikeThePhoto_data();
    void naturalColourLooksLikeThePhoto();
};

void TestColourQuality::initTestCase()
{
    TestSupport::nameApplication();
    QVERIFY2(testSet().isValid(), qPrintable(testSet().errorString()));
}

void TestColourQuality::naturalColourLooksLikeThePhoto_data()
{
    QTest::addColumn<int>("photo");
    QTest::addColumn<int>("object");
    const QList<EvalSet::Photo> &photos = testSet().photos();
    for (int p = 0; p < photos.size(); ++p) {
        if (photos[p].greyOnly)
            continue;
        for (int o = 0; o < photos[p].objects.size(); ++o)
            QTest::addRow("%s: mean CIEDE2000 <= 6, luminance within 1 %%, better than the classic model",
                          qPrintable(photos[p].objects[o].name))
                << p << o;
    }
}

// The natural model keeps each pixel's brightness: the painted object is
// close to the true colour photo and as bright as the grey photo, where the
// classic model darkens it.
void TestColourQuality::naturalColourLooksLikeThePhoto()
{
    QFETCH(int, photo);
    QFETCH(int, object);
    const EvalSet::Photo &p = testSet().photos()[photo];
    const EvalSet::Object &o = p.objects[object];
    const auto natural =
        ColourQuality::paintObject(p.grey, p.colour, o.mask, styleFor(StrokeStyle::Model::Natural, o.median));
    const auto classic =
        ColourQuality::paintObject(p.grey, p.colour, o.mask, styleFor(StrokeStyle::Model::Classic, o.median));
    qInfo("%s: CIEDE2000 natural %.2f, classic %.2f; luma natural %+.2f %%, classic %+.2f %%", qPrintable(o.name),
          natural.deltaE, classic.deltaE, 100 * natural.lumaShift, 100 * classic.lumaShift);
    QVERIFY2(natural.deltaE <= 6, qPrintable(QString::number(natural.deltaE)));
    QVERIFY2(std::abs(natural.lumaShift) <= 0.01, qPrintable(QString::number(natural.lumaShift)));
    QVERIFY(natural.deltaE < classic.deltaE);
}

QTEST_MAIN(TestColourQuality)
#include "tst_colourquality.moc"
