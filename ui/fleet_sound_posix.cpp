// The display's bell: once for a station done, twice for one that needs
// attention.
#include <QApplication>
#include <QTimer>

#include "FleetSound.h"

void playOutcomeSound(bool attention) {
    QApplication::beep();
    if (attention) QTimer::singleShot(250, [] { QApplication::beep(); });
}
