#ifndef BUSYCURSOR_H
#define BUSYCURSOR_H

#include <QGuiApplication>

// Shows the busy cursor for as long as it lives, whichever way a slow
// operation ends.
class BusyCursor
{
public:
    BusyCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QGuiApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor &) = delete;
    BusyCursor &operator=(const BusyCursor &) = delete;
};

#endif // BUSYCURSOR_H
