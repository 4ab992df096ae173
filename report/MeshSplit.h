#pragma once
// The mesh network as the report sees it: every station of the ledgers, of
// the operator's plan and every station named as a parent, linked by the
// parent each reported while still on the old system. A station moved to
// the new system no longer hears its old neighbours, so the migration cuts
// the mesh: an unmoved station whose parent is moved has lost its way to
// the rest of the old network; a moved station none of whose parent and
// children is moved is alone on the new one; and moving an unmoved station
// cuts off the unmoved stations that reach the network through it.
#include <optional>
#include <vector>

#include "RunOutcome.h"
#include "StationPlace.h"
#include "StationPlan.h"

struct ReportStation;

enum class MeshState {
    Moved,            // its last run left it on the new system
    NeedsAttention,   // visited, waiting for another visit
    NotMoved,         // visited and put back on the old system (restored)
    NotVisited,       // in the plan, in no ledger
    ParentOnly,       // in no ledger and not in the plan: named as a parent only
};

struct MeshNode {
    int address = 0;
    MeshState state = MeshState::NotVisited;
    RunOutcome outcome = RunOutcome::Failed;   // of its last run, when visited
    int planIndex = -1;                  // in StationPlan::stations; -1: not in the plan
    std::optional<StationPlace> place;   // the latest it reported on the old system
    int parent = -1;                     // the parent node; -1: none known or the link left out
    bool namedItself = false;            // it reported itself as its parent (link left out)
    bool closedLoop = false;             // its link closed a loop of parents (link left out)
    int depth = 0;                       // links up to its root
    int firstChild = 0, childCount = 0;  // its children in MeshSplit::children
    int cutOffByMove = 0;                // unmoved stations that reach the network through it only

    bool moved() const { return state == MeshState::Moved; }
    bool visited() const { return state != MeshState::NotVisited && state != MeshState::ParentOnly; }
};

struct MeshSplit {
    std::vector<MeshNode> nodes;     // by address
    std::vector<int> children;       // node indices grouped by parent, by address within
    std::vector<int> cutOff;         // unmoved stations whose parent is moved
    std::vector<int> aloneInNew;     // moved stations (place known) with no moved parent or child
    std::vector<int> wouldCutOff;    // unmoved stations whose move cuts some off, the most first
    std::vector<int> selfParents;    // stations that reported themselves as their parent
    std::vector<std::vector<int>> loops;   // each loop of parents, from its lowest address on
    int placesUnknown = 0;           // visited stations no run read the old place of
    int detached = 0;                // visited stations that reported no attachment (no link)

    // Against the plan; all zero without one.
    int planned = 0, plannedMoved = 0, plannedAttention = 0, plannedNotMoved = 0, notVisited = 0;
    std::vector<int> notInPlan;      // met (visited, or named as a parent) but not in the plan

    int indexOf(int address) const;  // -1 when no node has the address
};

// A station of the ledgers counts by its address; of several with one
// address (namesakes of other fleets) the one seen last stands for it.
// Addresses outside 0..65535 are in no mesh.
MeshSplit splitMesh(const std::vector<ReportStation>& stations, const StationPlan& plan);
