#pragma once
// --wire-trace: every frame both ways on standard error, timestamped, hex.
#include <QElapsedTimer>
#include <QString>
#include <cstdint>
#include <vector>

#include "SerialPort.h"

class WireTrace {
public:
    WireTrace();
    // The observer to hand to SerialPort::setWireObserver; `this` must outlive it.
    WireObserver observer();
    void flush();   // prints a reply cut short

    // Formatting, exposed for tests.
    static QString hex(const std::uint8_t* bytes, int count);
    static QString line(double ms, char direction, const QString& body);

private:
    void onBytes(WireDirection direction, const std::uint8_t* bytes, int count);
    void emitReceived(bool partial);

    QElapsedTimer clock_;
    std::vector<std::uint8_t> received_;
    double receivedAtMs_ = 0;
};
