#pragma once
// The places in the mesh a station reported, kept as the ledgers are
// merged: the latest of all (the station's last known place, for the CSV),
// and the latest read while it was still on the old system (its link in the
// old network, from which the report finds where the mesh is split).
#include <QDateTime>
#include <optional>

#include "Ledger.h"
#include "RunOrder.h"

// A place read from a station already on the new system describes the new
// network; every other run read it on the old one, before writing.
inline bool placeOnOldNetwork(RunOutcome outcome) { return outcome != RunOutcome::AlreadyMoved; }

struct PlaceSeen {
    std::optional<StationPlace> place;
    QDateTime time;
    qint64 seq = -1;   // the order lines were read in (RunOrder)

    void take(const PlaceSeen& other) {
        if (other.place && (!place || RunOrder{other.time, other.seq}.laterThan(RunOrder{time, seq}))) *this = other;
    }
};

struct StationPlaces {
    PlaceSeen latest;
    PlaceSeen old;

    void note(const LedgerEntry& entry, RunOutcome outcome, qint64 seq) {
        if (!entry.place) return;
        const PlaceSeen seen{entry.place, entry.time, seq};
        latest.take(seen);
        if (placeOnOldNetwork(outcome)) old.take(seen);
    }
    void merge(const StationPlaces& other) {
        latest.take(other.latest);
        old.take(other.old);
    }
};
