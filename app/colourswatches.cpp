#include "app/colourswatches.h"

#include <QColor>
#include <QHBoxLayout>
#include <QPainter>
#include <QPixmap>
#include <QSettings>
#include <QToolButton>

namespace {

const QString recentKey = QStringLiteral("RecentColours");

QIcon swatchIcon(QRgb colour, int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(QColor::fromRgb(colour));
    QPainter painter(&pixmap);
    painter.setPen(QColor(0, 0, 0, 96));
    painter.drawRect(0, 0, size - 1, size - 1);
    return QIcon(pixmap);
}

QString colourName(QRgb colour)
{
    return QColor::fromRgb(colour).name();
}

} // namespace

ColourSwatches::ColourSwatches(QWidget *parent)
    : QWidget(parent)
    , currentButton(new QToolButton(this))
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 0, 2, 0);
    layout->setSpacing(2);
    currentButton->setObjectName(QStringLiteral("swatchCurrent"));
    currentButton->setIconSize(QSize(22, 22));
    currentButton->setAutoRaise(true);
    layout->addWidget(currentButton);
    connect(currentButton, &QToolButton::clicked, this, [this] { emit chosen(currentColour); });
    for (int i = 0; i < recentCount; ++i) {
        auto *button = new QToolButton(this);
        button->setObjectName(QStringLiteral("swatchRecent%1").arg(i));
        button->setIconSize(QSize(14, 14));
        button->setAutoRaise(true);
        // The places of colours still to come stay empty: the tool bar does
        // not shift its sliders under the pointer as colours are added.
        QSizePolicy policy = button->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        button->setSizePolicy(policy);
        layout->addWidget(button);
        recentButtons.append(button);
        connect(button, &QToolButton::clicked, this, [this, i] {
            if (i < recentColours.size())
                emit chosen(recentColours.at(i));
        });
    }

    const QStringList stored = QSettings().value(recentKey).toStringList();
    for (const QString &name : stored) {
        const QColor colour = QColor::fromString(name);
        if (colour.isValid() && !recentColours.contains(colour.rgb()) && recentColours.size() < recentCount)
            recentColours.append(colour.rgb());
    }
    setCurrent(currentColour);
    showRecent();
}

void ColourSwatches::setCurrent(QRgb colour)
{
    currentColour = colour | 0xFF000000u;
    currentButton->setIcon(swatchIcon(currentColour, 22));
    currentButton->setToolTip(tr("Brush colour %1").arg(colourName(currentColour)));
}

void ColourSwatches::addRecent(QRgb colour)
{
    colour |= 0xFF000000u;
    recentColours.removeAll(colour);
    recentColours.prepend(colour);
    while (recentColours.size() > recentCount)
        recentColours.removeLast();
    QStringList names;
    for (const QRgb c : std::as_const(recentColours))
        names.append(colourName(c));
    QSettings().setValue(recentKey, names);
    showRecent();
}

void ColourSwatches::showRecent()
{
    for (int i = 0; i < recentButtons.size(); ++i) {
        QToolButton *button = recentButtons.at(i);
        const bool used = i < recentColours.size();
        button->setVisible(used);
        if (used) {
            button->setIcon(swatchIcon(recentColours.at(i), 14));
            button->setToolTip(tr("Paint with %1").arg(colourName(recentColours.at(i))));
        }
    }
}
