// Status read: where the station stands in the mesh network.
#include "DebugLog.h"
#include "LineFacts.h"
#include "StationFiles.h"
#include "StationRecord.h"
#include "WorkThread.h"

namespace {

template <typename T>
void take(T& field, T value, bool& changed) {
    if (field != value) {
        field = value;
        changed = true;
    }
}

}  // namespace

void WorkThread::readStatus() {
    StationRecord* record = StationRecord::instance();
    if (!record) return;
    StationStatus status = record->status();
    appendDebugLog(QStringLiteral("readStatus"));

    // Every read may throw its code; nothing is stored before all five are in.
    const StationPlace place = connection_.readPlace(line::kAttempts);

    bool changed = false;
    take(status.vec, place.statusByte, changed);
    take(status.isConnect, place.attached, changed);
    take(status.parent_addr, place.parent, changed);
    take(status.quality, std::int32_t(place.link), changed);
    take(status.snr, std::int32_t(place.signal), changed);
    record->setStatus(status);

    if (changed) {
        writeStatusFile();
        emit onReadStatus();
    }
}
