#ifndef COLOURSWATCHES_H
#define COLOURSWATCHES_H

#include <QList>
#include <QRgb>
#include <QWidget>

class QHBoxLayout;
class QToolButton;

// The brush colour's swatch with the colours picked or chosen last, newest
// first, for the tool bar. A click on a swatch asks for its colour (chosen).
// The recent colours are kept in the settings store across sessions; entries
// of a damaged store that are no colour are dropped.
class ColourSwatches : public QWidget
{
    Q_OBJECT

public:
    static constexpr int recentCount = 12;

    explicit ColourSwatches(QWidget *parent = nullptr);

    QRgb current() const { return currentColour; }
    QList<QRgb> recent() const { return recentColours; }

    // Shows `colour` as the brush colour, without adding it to the recent ones.
    void setCurrent(QRgb colour);
    // Puts `colour` first among the recent ones (once), and remembers them.
    void addRecent(QRgb colour);

signals:
    void chosen(QRgb colour);

private:
    void showRecent();

    QRgb currentColour = 0xFFFF0000u;
    QList<QRgb> recentColours;
    QToolButton *currentButton;
    QList<QToolButton *> recentButtons;
};

#endif // COLOURSWATCHES_H
