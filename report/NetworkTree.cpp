#include "NetworkTree.h"

#include <algorithm>

#include "MigrationReport.h"
#include "ReportEscape.h"

namespace {

using report_escape::esc;

constexpr double kRow = 20;          // one leaf a row
constexpr double kTop = 18;
constexpr double kLeftRoom = 150;    // a root's label, left of it
constexpr double kRightRoom = 210;   // a leaf's label, right of it
constexpr double kPageWidth = 1000;  // the page's drawing width; a deeper tree scrolls
constexpr double kMinColumn = 110, kMaxColumn = 220;
constexpr double kCell = 150;        // a station without links in the grid below
constexpr int kNameChars = 18;       // of a plan's name beside a station; the tooltip has it whole

// In MeshState order.
constexpr MeshStateLook kLooks[] = {
    {"#2f855a", "#22543d", "переведена"},
    {"#e53e3e", "#822727", "требует внимания"},
    {"#4c6ef5", "#364fc7", "восстановлена, на старой системе"},
    {"#ffffff", "#718096", "не посещена"},
    {"#fefcbf", "#b7791f", "известна только как родитель"},
};
constexpr const char* kStateNames[] = {"moved", "needs-attention", "restored", "not-visited", "parent-only"};

struct Point {
    double x = 0, y = 0;
};

struct Layout {
    std::vector<Point> at;      // per node
    std::vector<int> singles;   // stations with no link either way, in the grid
    double width = kPageWidth, height = 0, gridTop = 0;
};

// Stations below each one, itself included.
std::vector<int> subtreeSizes(const MeshSplit& mesh) {
    std::vector<int> order(mesh.nodes.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = int(i);
    std::sort(order.begin(), order.end(), [&](int a, int b) { return mesh.nodes[size_t(a)].depth > mesh.nodes[size_t(b)].depth; });
    std::vector<int> size(mesh.nodes.size(), 1);
    for (const int n : order)
        if (mesh.nodes[size_t(n)].parent >= 0) size[size_t(mesh.nodes[size_t(n)].parent)] += size[size_t(n)];
    return size;
}

// A root's tree, depth first: each leaf on the next row, each parent
// centred on its first and last child. `row` counts the rows used.
void placeTree(const MeshSplit& mesh, int root, double column, Layout* layout, double* row) {
    std::vector<std::pair<int, int>> stack{{root, 0}};   // node, its next child
    while (!stack.empty()) {
        auto& [node, next] = stack.back();
        const MeshNode& n = mesh.nodes[size_t(node)];
        if (next < n.childCount) {
            stack.emplace_back(mesh.children[size_t(n.firstChild + next++)], 0);
            continue;
        }
        Point& p = layout->at[size_t(node)];
        p.x = kLeftRoom + column * n.depth;
        if (n.childCount == 0) {
            p.y = kTop + kRow * (*row)++;
        } else {
            const int first = mesh.children[size_t(n.firstChild)];
            const int last = mesh.children[size_t(n.firstChild + n.childCount - 1)];
            p.y = (layout->at[size_t(first)].y + layout->at[size_t(last)].y) / 2;
        }
        stack.pop_back();
    }
}

Layout layOut(const MeshSplit& mesh) {
    Layout layout;
    layout.at.resize(mesh.nodes.size());
    std::vector<int> roots;
    int depth = 0;
    for (size_t i = 0; i < mesh.nodes.size(); ++i) {
        const MeshNode& node = mesh.nodes[i];
        depth = std::max(depth, node.depth);
        if (node.parent < 0) (node.childCount > 0 ? roots : layout.singles).push_back(int(i));
    }
    const std::vector<int> size = subtreeSizes(mesh);
    std::stable_sort(roots.begin(), roots.end(), [&](int a, int b) { return size[size_t(a)] > size[size_t(b)]; });
    const double column = depth == 0 ? 0 : std::clamp((kPageWidth - kLeftRoom - kRightRoom) / depth, kMinColumn, kMaxColumn);
    layout.width = std::max(kPageWidth, kLeftRoom + column * depth + kRightRoom);
    double row = 0;
    for (const int root : roots) {
        placeTree(mesh, root, column, &layout, &row);
        row += 0.5;   // a little air between two trees
    }
    layout.gridTop = kTop + kRow * row + (roots.empty() ? 0 : 28);
    const int columns = std::max(1, int((layout.width - 24) / kCell));
    for (size_t i = 0; i < layout.singles.size(); ++i)
        layout.at[size_t(layout.singles[i])] = Point{24 + kCell * double(i % size_t(columns)), layout.gridTop + kRow * double(i / size_t(columns))};
    const double gridRows = double((layout.singles.size() + size_t(columns) - 1) / size_t(columns));
    layout.height = layout.gridTop + kRow * gridRows + 8;
    return layout;
}

QString number(double v) { return QString::number(v, 'f', 1); }

QString label(const MeshNode& node, const StationPlan& plan) {
    QString text = QString::number(node.address);
    if (node.planIndex >= 0) {
        QString name = plan.stations[size_t(node.planIndex)].name;
        if (name.size() > kNameChars) name = name.left(kNameChars - 1) + QChar(0x2026);
        if (!name.isEmpty()) text += QLatin1Char(' ') + name;
    }
    if (node.namedItself || node.closedLoop) text += QStringLiteral(" ↻");
    return esc(text);
}

QString tooltip(const MeshNode& node, const StationPlan& plan) {
    QStringList lines;
    QString head = QString::number(node.address);
    if (node.planIndex >= 0) {
        const PlanStation& planned = plan.stations[size_t(node.planIndex)];
        for (const QString& text : {planned.name, planned.place})
            if (!text.isEmpty()) head += QStringLiteral(" · ") + text;
    }
    lines << head;
    QString state = QString::fromUtf8(meshStateLook(node.state).label);
    if (node.visited()) state += QStringLiteral(" (последний итог: %1)").arg(outcomeLabel(node.outcome));
    lines << state;
    if (node.place)
        lines << QStringLiteral("%1родитель %2, связь %3, сигнал %4 дБ")
                     .arg(node.place->attached ? QString() : QStringLiteral("не подключена к сети; "))
                     .arg(node.place->parent).arg(node.place->link).arg(node.place->signal);
    if (node.namedItself) lines << QStringLiteral("назвала родителем себя: связь не нарисована");
    if (node.closedLoop) lines << QStringLiteral("замыкает петлю родителей: эта связь не нарисована");
    if (node.cutOffByMove > 0 && !node.moved()) lines << QStringLiteral("при переводе отрежет %1").arg(node.cutOffByMove);
    return esc(lines.join(QLatin1Char('\n')));
}

QString links(const MeshSplit& mesh, const Layout& layout) {
    QString svg;
    for (size_t i = 0; i < mesh.nodes.size(); ++i) {
        const MeshNode& node = mesh.nodes[i];
        if (node.parent < 0) continue;
        const Point& from = layout.at[size_t(node.parent)];
        const Point& to = layout.at[i];
        const double middle = (from.x + to.x) / 2;
        const bool split = mesh.nodes[size_t(node.parent)].moved() != node.moved();
        svg += QStringLiteral("<path class=\"link%1\" d=\"M%2 %3C%4 %3 %4 %5 %6 %5\"%7/>")
                   .arg(split ? QStringLiteral(" split") : QString(), number(from.x), number(from.y), number(middle),
                        number(to.y), number(to.x),
                        split ? QStringLiteral(" stroke=\"#e53e3e\" stroke-dasharray=\"5 3\"") : QString());
    }
    return svg;
}

QString station(const MeshSplit& mesh, size_t i, const Layout& layout, const StationPlan& plan) {
    const MeshNode& node = mesh.nodes[i];
    const Point& p = layout.at[i];
    const MeshStateLook& look = meshStateLook(node.state);
    // Labels of parents to their left, of leaves and grid stations to their right.
    const bool left = node.childCount > 0;
    return QStringLiteral("<g class=\"station\" data-address=\"%1\" data-state=\"%2\"><title>%3</title>"
                          "<circle cx=\"%4\" cy=\"%5\" r=\"5\" fill=\"%6\" stroke=\"%7\"/>"
                          "<text x=\"%8\" y=\"%9\"%10>%11</text></g>")
        .arg(node.address)
        .arg(QLatin1String(kStateNames[int(node.state)]), tooltip(node, plan), number(p.x), number(p.y),
             QLatin1String(look.fill), QLatin1String(look.stroke), number(left ? p.x - 8 : p.x + 8), number(p.y + 4))
        .arg(left ? QStringLiteral(" text-anchor=\"end\"") : QString(), label(node, plan));
}

}  // namespace

const MeshStateLook& meshStateLook(MeshState state) { return kLooks[int(state)]; }

QString networkTreeSvg(const MeshSplit& mesh, const StationPlan& plan) {
    if (mesh.nodes.empty() || mesh.nodes.size() > size_t(kTreeLimit)) return QString();
    const Layout layout = layOut(mesh);
    QString svg = QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"network\" viewBox=\"0 0 %1 %2\" width=\"%1\" height=\"%2\" "
                                 "role=\"img\" aria-label=\"Сеть по связям с родителями\" font-family=\"DejaVu Sans, Segoe UI, Arial, sans-serif\" "
                                 "font-size=\"11\">")
                      .arg(number(layout.width), number(layout.height));
    // Labels keep a white edge, so a link passing under one does not hide it.
    svg += QStringLiteral("<style>.network text{fill:#1a202c;stroke:#fff;stroke-width:3px;paint-order:stroke}</style>");
    svg += QStringLiteral("<g fill=\"none\" stroke=\"#a0aec0\" stroke-width=\"1.2\">") + links(mesh, layout) + QStringLiteral("</g>");
    if (!layout.singles.empty())
        svg += QStringLiteral("<text x=\"24\" y=\"%1\" fill=\"#4a5568\" font-size=\"12\">Связи не известны (%2)</text>")
                   .arg(number(layout.gridTop - 16))
                   .arg(layout.singles.size());
    svg += QStringLiteral("<g stroke-width=\"1.5\">");
    for (size_t i = 0; i < mesh.nodes.size(); ++i) svg += station(mesh, i, layout, plan);
    return svg + QStringLiteral("</g></svg>");
}
