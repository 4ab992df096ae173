#include "StationProbe.h"

#include "StationConnection.h"
#include "StationMemory.h"

#include <chrono>

namespace {

// The longest frame (260 bytes of 10 bits) is 45 ms on the line at 57600 baud.
constexpr int kLongestFrameMs = 50;

}  // namespace

ProbeAnswer probeStation(const QString& devicePath) {
    ProbeAnswer answer;
    StationConnection connection;
    if (!connection.open(devicePath.toStdWString())) return answer;
    answer.opened = true;
    // No fixed part of the time-out, and only the first byte's wait as the
    // reply window (100 ms): a silent line is given up on soon, so that a
    // waiting port is asked again soon.
    connection.serialPort().setReadTimeout(0);
    connection.setShortReplyWindow(true);
    try {
        std::uint8_t head[kParamHeadSize] = {};
        connection.readRom16(kParamBlockAddress, kParamHeadSize, head, 1);
        answer.address = blockAddress(head);
    } catch (int) {
        // Silent, or no proper answer: no station to read here now. A reply
        // that started within the window is on the line for at most a whole
        // frame's time: the port is held until it is over, and whoever opens
        // the port next (the next probe, a run) starts by discarding it, so
        // it is never taken for a later request.
        std::this_thread::sleep_for(std::chrono::milliseconds(kLongestFrameMs));
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
