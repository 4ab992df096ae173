#include "StationProbe.h"

#include "StationConnection.h"
#include "StationMemory.h"

ProbeAnswer probeStation(const QString& devicePath) {
    ProbeAnswer answer;
    StationConnection connection;
    if (!connection.open(devicePath.toStdWString())) return answer;
    answer.opened = true;
    // The read's fixed part of the time-out goes: only the per-byte part of
    // the header's read is left as the reply window.
    connection.serialPort().setReadTimeout(0);
    try {
        std::uint8_t head[kParamHeadSize] = {};
        connection.readRom16(kParamBlockAddress, kParamHeadSize, head, 1);
        answer.address = blockAddress(head);
    } catch (int) {
        // Silent, or no proper answer: no station to read here now.
    }
    connection.close();
    return answer;
}

PortProbe::PortProbe(QObject* parent) : QObject(parent) {}

PortProbe::~PortProbe() {
    // The answer it may have posted goes with this object.
    if (thread_.joinable()) thread_.join();
}

bool PortProbe::start(const QString& devicePath) {
    if (busy_) return false;
    if (thread_.joinable()) thread_.join();   // ended already: its answer came
    busy_ = true;
    thread_ = std::thread([this, devicePath] {
        const ProbeAnswer answer = probeStation(devicePath);
        QMetaObject::invokeMethod(this, [this, answer] {
            busy_ = false;
            emit answered(answer);
        }, Qt::QueuedConnection);
    });
    return true;
}
