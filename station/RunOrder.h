#pragma once
// Which of two ledger lines tells of the later run: the one whose run ended
// later; of two that ended at one time, the one read later, as lines are
// appended as runs end. `seq` is the order the lines were read in. The
// ledger summary, the report's merge and the stations' places all take a
// station's latest run by this one rule.
#include <QDateTime>

struct RunOrder {
    QDateTime time;
    qint64 seq = -1;   // -1: nothing held yet

    bool laterThan(const RunOrder& held) const {
        return held.seq < 0 || time > held.time || (time == held.time && seq > held.seq);
    }
};
