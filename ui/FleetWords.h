#pragma once
// What the fleet window says of a port's runs, in its own (Russian) words:
// the outcome of a run and what to do about it, and what a port is doing.
// The facts come typed from the fleet core and station/; only the words are
// here.
#include <QString>

#include "PortActivity.h"
#include "RunOutcome.h"

// The outcome of a run: what happened and, when the station needs
// attention, what to do; `attention` as the station's state says
// (stateAfter), false for a port that holds no station.
struct OutcomeWords {
    QString text;
    bool attention = false;
};
OutcomeWords outcomeWords(RunOutcome outcome, bool noStation);

// What a port is doing; empty once its run has ended (the outcome says how).
QString activityWords(const PortActivity& activity);
