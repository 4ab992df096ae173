#pragma once
// The picture of the network in the report: a tree by parent links drawn in
// SVG, roots on the left, each station one <g class="station"> element
// coloured by its state, with its address (and name from the plan) beside
// it and everything known about it in its tooltip. A link that joins a
// moved and an unmoved station (the mesh is split there) is dashed red.
// Stations with no known link are set out in a grid below the tree.
#include <QString>

#include "MeshSplit.h"
#include "StationPlan.h"

// Up to this many stations the picture stays readable; beyond it the
// report gives the lists alone.
inline constexpr int kTreeLimit = 500;

// The fill, the outline and the words of each state.
struct MeshStateLook {
    const char* fill;
    const char* stroke;
    const char* label;   // UTF-8, Russian
};
const MeshStateLook& meshStateLook(MeshState state);

// Empty for a mesh with no stations or more than kTreeLimit.
QString networkTreeSvg(const MeshSplit& mesh, const StationPlan& plan);
