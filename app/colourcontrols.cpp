#include "app/colourcontrols.h"

#include "app/colourswatches.h"
#include "app/document.h"
#include "app/referencedock.h"
#include "canvas/czefgraphicsview.h"
#include "imaging/strokestyle.h"

#include <QAction>
#include <QFileDialog>
#include <QFileInfo>
#include <QImageReader>
#include <QLabel>
#include <QMainWindow>
#include <QSettings>
#include <QShortcut>
#include <QSlider>
#include <QToolBar>

namespace {

const QString naturalKey = QStringLiteral("NaturalColour");
const QString strengthKey = QStringLiteral("Strength");
const QString softnessKey = QStringLiteral("Softness");
const QString referenceDirKey = QStringLiteral("ReferenceDir");

// A stored whole number within the range, or the fallback for anything else
// a damaged settings file may hold.
int storedValue(const QString &key, int minimum, int maximum, int fallback)
{
    bool ok = false;
    const int value = QSettings().value(key, fallback).toInt(&ok);
    return ok && value >= minimum && value <= maximum ? value : fallback;
}

StrokeStyle::Model modelFor(bool natural)
{
    return natural ? StrokeStyle::Model::Natural : StrokeStyle::Model::Classic;
}

} // namespace

ColourControls::ColourControls(QMainWindow *window, QToolBar *toolBar, const Actions &actions, CZefGraphicsView *view,
                               Document *document)
    : QObject(window)
    , window(window)
    , view(view)
    , document(document)
{
    QAction *natural = actions.naturalColour;
    natural->setCheckable(true);
    natural->setChecked(QSettings().value(naturalKey, false).toBool());
    document->setModel(modelFor(natural->isChecked()));
    connect(natural, &QAction::toggled, this, [this](bool on) {
        QSettings().setValue(naturalKey, on);
        this->document->setModel(modelFor(on));
    });

    toolBar->addSeparator();
    strength = addSlider(toolBar, "sliderStrength", tr("Strength"), strengthKey, StrokeStyle::minStrength,
                         StrokeStyle::maxStrength, StrokeStyle::defaultStrength);
    strength->setToolTip(tr("Strength: how much colour a stroke lays"));
    connect(strength, &QSlider::valueChanged, document, &Document::setStrength);
    document->setStrength(strength->value());
    softness =
        addSlider(toolBar, "sliderSoftness", tr("Softness"), softnessKey, 0, StrokeStyle::maxSoftness, defaultSoftness);
    softness->setToolTip(tr("Softness: how far in from its rim the brush fades"));
    connect(softness, &QSlider::valueChanged, document, &Document::setSoftness);
    document->setSoftness(softness->value());

    toolBar->addSeparator();
    swatchBar = new ColourSwatches(toolBar);
    swatchBar->setObjectName(QStringLiteral("colourSwatches"));
    swatchBar->setCurrent(document->hasPhoto() ? document->style().brush : Document::openingBrushColour);
    toolBar->addWidget(swatchBar);
    connect(swatchBar, &ColourSwatches::chosen, this, &ColourControls::setBrushColour);
    // A photo opens with the brush colour it starts with.
    connect(document, &Document::opened, this, [this] { swatchBar->setCurrent(this->document->style().brush); });

    dock = new ReferenceDock(window);
    window->addDockWidget(Qt::RightDockWidgetArea, dock);
    dock->hide();

    const auto picked = [this](QRgb colour) {
        setBrushColour(colour);
        endPick();
    };
    connect(view, &CZefGraphicsView::colourPicked, this, picked);
    connect(dock, &ReferenceDock::colourPicked, this, picked);

    cancelPick = new QShortcut(QKeySequence(Qt::Key_Escape), window);
    cancelPick->setEnabled(false);
    connect(cancelPick, &QShortcut::activated, this, &ColourControls::endPick);
    actions.pickColour->setShortcut(QKeySequence(Qt::Key_I));
    connect(actions.pickColour, &QAction::triggered, this, &ColourControls::startPick);
    connect(actions.openReference, &QAction::triggered, this, &ColourControls::chooseReference);
}

QSlider *ColourControls::addSlider(QToolBar *toolBar, const char *name, const QString &label, const QString &key,
                                   int minimum, int maximum, int fallback)
{
    auto *title = new QLabel(label + QLatin1Char(' '), toolBar);
    auto *slider = new QSlider(Qt::Horizontal, toolBar);
    auto *shown = new QLabel(toolBar);
    slider->setObjectName(QLatin1String(name));
    slider->setRange(minimum, maximum);
    slider->setValue(storedValue(key, minimum, maximum, fallback));
    slider->setMaximumWidth(110);
    title->setBuddy(slider);
    // Room for "100 %" from the start, so the tool bar does not shift.
    shown->setMinimumWidth(shown->fontMetrics().horizontalAdvance(QStringLiteral("100 % ")));
    const auto show = [shown](int value) { shown->setText(tr("%1 %").arg(value)); };
    show(slider->value());
    connect(slider, &QSlider::valueChanged, this, [key, show](int value) {
        QSettings().setValue(key, value);
        show(value);
    });
    toolBar->addWidget(title);
    toolBar->addWidget(slider);
    toolBar->addWidget(shown);
    return slider;
}

void ColourControls::setBrushColour(QRgb colour)
{
    colour |= 0xFF000000u;
    document->setBrushColour(colour);
    swatchBar->setCurrent(colour);
    swatchBar->addRecent(colour);
}

void ColourControls::startPick()
{
    if (toolBeforePick >= 0 && view->toolMode == CZefGraphicsView::Picker)
        return;
    toolBeforePick = view->toolMode;
    view->toolMode = CZefGraphicsView::Picker;
    view->viewport()->setCursor(Qt::CrossCursor);
    cancelPick->setEnabled(true);
    emit message(tr("Click the photo or the reference photo to take a colour (Esc gives up)"));
}

void ColourControls::endPick()
{
    if (toolBeforePick < 0)
        return;
    // Another tool chosen meanwhile stays chosen.
    if (view->toolMode == CZefGraphicsView::Picker)
        view->toolMode = toolBeforePick;
    toolBeforePick = -1;
    cancelPick->setEnabled(false);
    view->viewport()->unsetCursor();
    emit message(QString());
}

void ColourControls::chooseReference()
{
    QStringList patterns;
    for (const QByteArray &format : QImageReader::supportedImageFormats())
        patterns.append(QStringLiteral("*.") + QString::fromLatin1(format));
    const QString fileName =
        QFileDialog::getOpenFileName(window, tr("Open Reference Photo"), QSettings().value(referenceDirKey).toString(),
                                     tr("Images (%1);;All Files (*)").arg(patterns.join(QLatin1Char(' '))));
    if (fileName.isEmpty())
        return;
    QSettings().setValue(referenceDirKey, QFileInfo(fileName).absolutePath());
    openReference(fileName);
}

bool ColourControls::openReference(const QString &fileName)
{
    if (!dock->open(fileName)) {
        emit message(dock->errorString());
        return false;
    }
    dock->show();
    dock->raise();
    emit message(QString());
    return true;
}
