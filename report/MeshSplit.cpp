#include "MeshSplit.h"

#include <algorithm>

#include "MigrationReport.h"

namespace {

constexpr int kAddresses = 0x10000;

MeshState meshState(StationState state) {
    switch (state) {
    case StationState::Moved: return MeshState::Moved;
    case StationState::NotMoved: return MeshState::NotMoved;
    case StationState::NeedsAttention: break;
    }
    return MeshState::NeedsAttention;
}

bool inMesh(int address) { return address >= 0 && address < kAddresses; }

// Per address what the ledgers and the plan say, before the nodes are made.
struct Sources {
    std::vector<const ReportStation*> visit = std::vector<const ReportStation*>(kAddresses, nullptr);
    std::vector<const ReportStation*> placed = std::vector<const ReportStation*>(kAddresses, nullptr);
    std::vector<int> planIndex = std::vector<int>(kAddresses, -1);
    std::vector<char> parentNamed = std::vector<char>(kAddresses, 0);
};

Sources gather(const std::vector<ReportStation>& stations, const StationPlan& plan) {
    Sources s;
    for (const ReportStation& station : stations) {
        if (!inMesh(station.address)) continue;
        const ReportStation*& seen = s.visit[size_t(station.address)];
        if (!seen || station.last.time > seen->last.time) seen = &station;
        if (station.oldPlace && !s.placed[size_t(station.address)]) s.placed[size_t(station.address)] = &station;
    }
    for (int a = 0; a < kAddresses; ++a) {
        // The place of the station seen last, or of a namesake when it has none.
        const ReportStation* own = s.visit[size_t(a)];
        if (own && own->oldPlace) s.placed[size_t(a)] = own;
        const ReportStation* placed = s.placed[size_t(a)];
        if (placed && placed->oldPlace->attached) s.parentNamed[placed->oldPlace->parent] = 1;
    }
    for (size_t i = 0; i < plan.stations.size(); ++i) s.planIndex[size_t(plan.stations[i].address)] = int(i);
    return s;
}

// One node for every address met, in address order; `index` maps back.
void makeNodes(const Sources& s, MeshSplit* mesh, std::vector<int>* index) {
    index->assign(kAddresses, -1);
    for (int a = 0; a < kAddresses; ++a) {
        const ReportStation* visit = s.visit[size_t(a)];
        if (!visit && s.planIndex[size_t(a)] < 0 && !s.parentNamed[size_t(a)]) continue;
        MeshNode node;
        node.address = a;
        node.planIndex = s.planIndex[size_t(a)];
        node.state = visit ? meshState(visit->state()) : node.planIndex >= 0 ? MeshState::NotVisited : MeshState::ParentOnly;
        if (visit) node.outcome = visit->last.outcome;
        if (const ReportStation* placed = s.placed[size_t(a)]) node.place = placed->oldPlace;
        (*index)[size_t(a)] = int(mesh->nodes.size());
        mesh->nodes.push_back(node);
    }
}

// Parent links of the attached stations; one that names the station itself
// is left out and named.
void link(MeshSplit* mesh, const std::vector<int>& index) {
    for (size_t i = 0; i < mesh->nodes.size(); ++i) {
        MeshNode& node = mesh->nodes[i];
        if (!node.place || !node.place->attached) continue;
        if (node.place->parent == node.address) {
            node.namedItself = true;
            mesh->selfParents.push_back(int(i));
            continue;
        }
        node.parent = index[node.place->parent];
    }
}

// Each node has one parent at most, so a walk up the links either ends at a
// root or comes back onto itself. Every loop found is named and broken at
// its lowest address, whose link is left out: the network is then a forest.
void breakLoops(MeshSplit* mesh) {
    std::vector<MeshNode>& nodes = mesh->nodes;
    std::vector<int> walk(nodes.size(), -1);   // the walk a node was first met on
    std::vector<int> path;
    for (size_t start = 0; start < nodes.size(); ++start) {
        if (walk[start] >= 0) continue;
        path.clear();
        int at = int(start);
        while (at >= 0 && walk[size_t(at)] < 0) {
            walk[size_t(at)] = int(start);
            path.push_back(at);
            at = nodes[size_t(at)].parent;
        }
        if (at < 0 || walk[size_t(at)] != int(start)) continue;   // reached a root or an earlier walk
        const auto first = std::find(path.begin(), path.end(), at);
        const int lowest = *std::min_element(first, path.end());   // nodes are by address
        std::vector<int> loop{lowest};
        for (int n = nodes[size_t(lowest)].parent; n != lowest; n = nodes[size_t(n)].parent) loop.push_back(n);
        mesh->loops.push_back(loop);
        nodes[size_t(lowest)].parent = -1;
        nodes[size_t(lowest)].closedLoop = true;
    }
}

// Children grouped by parent (each group by address), then depths from the
// roots down and, from the leaves up, how many unmoved stations each
// station's move would cut off.
void shapeTree(MeshSplit* mesh) {
    std::vector<MeshNode>& nodes = mesh->nodes;
    for (const MeshNode& node : nodes)
        if (node.parent >= 0) ++nodes[size_t(node.parent)].childCount;
    int next = 0;
    for (MeshNode& node : nodes) {
        node.firstChild = next;
        next += node.childCount;
    }
    mesh->children.assign(size_t(next), -1);
    std::vector<int> filled(nodes.size(), 0);
    for (size_t i = 0; i < nodes.size(); ++i) {
        const int parent = nodes[i].parent;
        if (parent >= 0) mesh->children[size_t(nodes[size_t(parent)].firstChild + filled[size_t(parent)]++)] = int(i);
    }
    std::vector<int> order;
    order.reserve(nodes.size());
    for (size_t i = 0; i < nodes.size(); ++i)
        if (nodes[i].parent < 0) order.push_back(int(i));
    for (size_t at = 0; at < order.size(); ++at) {
        const MeshNode& node = nodes[size_t(order[at])];
        for (int c = 0; c < node.childCount; ++c) {
            const int child = mesh->children[size_t(node.firstChild + c)];
            nodes[size_t(child)].depth = node.depth + 1;
            order.push_back(child);
        }
    }
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        const MeshNode& node = nodes[size_t(*it)];
        if (node.parent >= 0 && !node.moved()) nodes[size_t(node.parent)].cutOffByMove += 1 + node.cutOffByMove;
    }
}

bool anyChildMoved(const MeshSplit& mesh, const MeshNode& node) {
    for (int c = 0; c < node.childCount; ++c)
        if (mesh.nodes[size_t(mesh.children[size_t(node.firstChild + c)])].moved()) return true;
    return false;
}

void findSplits(MeshSplit* mesh) {
    for (size_t i = 0; i < mesh->nodes.size(); ++i) {
        const MeshNode& node = mesh->nodes[i];
        const bool parentMoved = node.parent >= 0 && mesh->nodes[size_t(node.parent)].moved();
        if (!node.moved() && parentMoved) mesh->cutOff.push_back(int(i));
        if (node.moved() && node.place && !parentMoved && !anyChildMoved(*mesh, node)) mesh->aloneInNew.push_back(int(i));
        if (!node.moved() && node.cutOffByMove > 0) mesh->wouldCutOff.push_back(int(i));
        if (node.visited() && !node.place) ++mesh->placesUnknown;
        if (node.visited() && node.place && !node.place->attached) ++mesh->detached;
    }
    std::stable_sort(mesh->wouldCutOff.begin(), mesh->wouldCutOff.end(), [mesh](int a, int b) {
        return mesh->nodes[size_t(a)].cutOffByMove > mesh->nodes[size_t(b)].cutOffByMove;
    });
}

void countPlan(MeshSplit* mesh, const StationPlan& plan) {
    if (!plan.given) return;
    mesh->planned = int(plan.stations.size());
    for (size_t i = 0; i < mesh->nodes.size(); ++i) {
        const MeshNode& node = mesh->nodes[i];
        if (node.planIndex < 0) {
            mesh->notInPlan.push_back(int(i));
            continue;
        }
        mesh->plannedMoved += node.state == MeshState::Moved;
        mesh->plannedAttention += node.state == MeshState::NeedsAttention;
        mesh->plannedNotMoved += node.state == MeshState::NotMoved;
        mesh->notVisited += node.state == MeshState::NotVisited;
    }
}

}  // namespace

int MeshSplit::indexOf(int address) const {
    const auto at = std::lower_bound(nodes.begin(), nodes.end(), address, [](const MeshNode& n, int a) { return n.address < a; });
    return at != nodes.end() && at->address == address ? int(at - nodes.begin()) : -1;
}

MeshSplit splitMesh(const std::vector<ReportStation>& stations, const StationPlan& plan) {
    MeshSplit mesh;
    std::vector<int> index;
    makeNodes(gather(stations, plan), &mesh, &index);
    link(&mesh, index);
    breakLoops(&mesh);
    shapeTree(&mesh);
    findSplits(&mesh);
    countPlan(&mesh, plan);
    return mesh;
}
