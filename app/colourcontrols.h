#ifndef COLOURCONTROLS_H
#define COLOURCONTROLS_H

#include <QObject>
#include <QRgb>
#include <QString>

class ColourSwatches;
class CZefGraphicsView;
class Document;
class QAction;
class QLabel;
class QMainWindow;
class QShortcut;
class QSlider;
class QToolBar;
class ReferenceDock;

// How the brush lays colour and where its colour comes from, for the window:
// the Natural colour action and the Strength and Softness sliders (all kept
// in the settings store and handed to the document for the next stroke or
// fill), the brush colour's swatches, picking colours from the canvas (Pick
// colour for one pick, then back to the tool before, Esc giving up; Alt+click
// with the brush) and from a reference photo in a dock.
class ColourControls : public QObject
{
    Q_OBJECT

public:
    static constexpr int defaultSoftness = 0;

    struct Actions {
        QAction *naturalColour;
        QAction *pickColour;
        QAction *openReference;
    };

    // Adds its controls to the end of `toolBar` and its dock to `window`.
    ColourControls(QMainWindow *window, QToolBar *toolBar, const Actions &actions, CZefGraphicsView *view,
                   Document *document);

    // Makes `colour` the brush colour and the newest of the recent ones.
    void setBrushColour(QRgb colour);
    // Shows the named image in the reference dock; false, with the reason
    // given through message(), when it cannot be read.
    bool openReference(const QString &fileName);

    QSlider *strengthSlider() const { return strength; }
    QSlider *softnessSlider() const { return softness; }
    ColourSwatches *swatches() const { return swatchBar; }
    ReferenceDock *referenceDock() const { return dock; }

signals:
    // Something for the status bar.
    void message(const QString &text);

private:
    QSlider *addSlider(QToolBar *toolBar, const char *name, const QString &label, const QString &key, int minimum,
                       int maximum, int fallback);
    void startPick();
    void endPick();
    void chooseReference();

    QMainWindow *window;
    CZefGraphicsView *view;
    Document *document;
    QSlider *strength = nullptr;
    QSlider *softness = nullptr;
    ColourSwatches *swatchBar = nullptr;
    ReferenceDock *dock = nullptr;
    QShortcut *cancelPick = nullptr;
    int toolBeforePick = -1; // while Pick colour waits for its one pick
};

#endif // COLOURCONTROLS_H
