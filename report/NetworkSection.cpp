#include "NetworkSection.h"

#include <QFileInfo>
#include <functional>

#include "MigrationReport.h"
#include "NetworkTree.h"
#include "ReportEscape.h"

namespace {

using report_escape::esc;

// Addresses named one by one in a line of the text summary; the rest counted.
constexpr int kTextAddresses = 10;

const QString kNone = QStringLiteral("—");

QString words(MeshState state) { return QString::fromUtf8(meshStateLook(state).label); }

// "1 станцию", "3 станции", "5 станций": how many a move cuts off.
QString stationsCut(int n) {
    const int tens = n % 100, ones = n % 10;
    const char* word = tens >= 11 && tens <= 14 ? "станций" : ones == 1 ? "станцию" : ones >= 2 && ones <= 4 ? "станции" : "станций";
    return QStringLiteral("%1 %2").arg(n).arg(QString::fromUtf8(word));
}


const PlanStation* planned(const MigrationReport& r, const MeshNode& node) {
    return node.planIndex >= 0 ? &r.plan.stations[size_t(node.planIndex)] : nullptr;
}

// A station as a list names it in passing: its address and its name in the plan.
QString named(const MigrationReport& r, const MeshNode& node) {
    const PlanStation* plan = planned(r, node);
    return QString::number(node.address) + (plan && !plan->name.isEmpty() ? QLatin1Char(' ') + esc(plan->name) : QString());
}

QString card(int number, const QString& title, const char* accent) {
    return QStringLiteral("<div class=\"card\" style=\"border-top-color:%3\"><div class=\"n\">%1</div><div class=\"t\">%2</div></div>")
        .arg(number)
        .arg(title, QLatin1String(accent));
}

QString cards(const MigrationReport& r) {
    const MeshSplit& m = r.mesh;
    QString html = QStringLiteral("<div class=\"cards\">");
    if (r.plan.given) {
        html += card(m.planned, QStringLiteral("станций в плане"), "#4a5568");
        html += card(m.plannedMoved, QStringLiteral("переведено"), meshStateLook(MeshState::Moved).fill);
        html += card(m.plannedAttention, QStringLiteral("требуют внимания"), meshStateLook(MeshState::NeedsAttention).fill);
        html += card(m.notVisited, QStringLiteral("ещё не посещены"), meshStateLook(MeshState::NotVisited).stroke);
        html += card(int(m.notInPlan.size()), QStringLiteral("встречены, но нет в плане"), meshStateLook(MeshState::ParentOnly).stroke);
    } else {
        int moved = 0, parentsOnly = 0;
        for (const MeshNode& node : m.nodes) moved += node.moved(), parentsOnly += node.state == MeshState::ParentOnly;
        html += card(int(m.nodes.size()), QStringLiteral("станций в сети"), "#4a5568");
        html += card(moved, QStringLiteral("переведено"), meshStateLook(MeshState::Moved).fill);
        html += card(int(m.cutOff.size()), QStringLiteral("отрезаны от старой сети"), meshStateLook(MeshState::NeedsAttention).fill);
        html += card(int(m.aloneInNew.size()), QStringLiteral("одни в новой сети"), meshStateLook(MeshState::NeedsAttention).stroke);
        html += card(parentsOnly, QStringLiteral("известны, не посещены"), meshStateLook(MeshState::ParentOnly).stroke);
    }
    return html + QStringLiteral("</div>");
}

// Rows of stations: address, name and place from the plan, then `extra`'s
// column when it has a heading.
template <class Extra>
QString stationList(const MigrationReport& r, const std::vector<int>& nodes, const QString& extraHead, Extra extra) {
    if (nodes.empty()) return QStringLiteral("<p class=\"none\">Таких станций нет.</p>");
    QString rows;
    for (const int i : nodes) {
        const MeshNode& node = r.mesh.nodes[size_t(i)];
        const PlanStation* plan = planned(r, node);
        rows += QLatin1String("<tr data-address=\"") + QString::number(node.address) + QLatin1String("\"><td class=\"n\">") +
                QString::number(node.address) + QLatin1String("</td><td>") + (plan && !plan->name.isEmpty() ? esc(plan->name) : kNone) +
                QLatin1String("</td><td>") + (plan && !plan->place.isEmpty() ? esc(plan->place) : kNone) + QLatin1String("</td>");
        if (!extraHead.isEmpty()) rows += QLatin1String("<td>") + extra(node) + QLatin1String("</td>");
        rows += QLatin1String("</tr>");
    }
    const QString head = QStringLiteral("<th class=\"n\">Адрес</th><th>Название</th><th>Место</th>") +
                         (extraHead.isEmpty() ? QString() : QStringLiteral("<th>%1</th>").arg(extraHead));
    return QStringLiteral("<table class=\"net\"><thead><tr>") + head + QStringLiteral("</tr></thead><tbody>") + rows +
           QStringLiteral("</tbody></table>");
}

QString plainList(const MigrationReport& r, const std::vector<int>& nodes) {
    return stationList(r, nodes, QString(), [](const MeshNode&) { return QString(); });
}

QString listBlock(const char* id, const QString& title, size_t count, const QString& hint, const QString& list) {
    return QStringLiteral("<div class=\"split\" id=\"%1\"><h3>%2 <span class=\"count\">%3</span></h3><p class=\"meta\">%4</p>%5</div>")
        .arg(QLatin1String(id), title)
        .arg(count)
        .arg(hint, list);
}

QString splits(const MigrationReport& r) {
    const MeshSplit& m = r.mesh;
    QString html = QStringLiteral("<h2>Где сеть разрезана</h2><p class=\"meta\">По связям «станция → родитель», которые "
                                  "станции сообщили до перевода: переведённая станция больше не слышит старую сеть.</p>");
    html += listBlock("cut-off", QStringLiteral("Отрезаны от старой сети"), m.cutOff.size(),
                      QStringLiteral("Не переведены, а их родитель уже переведён."),
                      stationList(r, m.cutOff, QStringLiteral("Родитель (переведён)"),
                                  [&r](const MeshNode& n) { return named(r, r.mesh.nodes[size_t(n.parent)]); }));
    html += listBlock("alone-in-new", QStringLiteral("Одни в новой сети"), m.aloneInNew.size(),
                      QStringLiteral("Переведены, но ни их родитель, ни их дочерние станции не переведены."), plainList(r, m.aloneInNew));
    html += listBlock("would-cut-off", QStringLiteral("Перевод отрежет станции"), m.wouldCutOff.size(),
                      QStringLiteral("Не переведены; при их переводе от старой сети отрежет столько непереведённых станций, "
                                     "связанных со старой сетью только через них."),
                      stationList(r, m.wouldCutOff, QStringLiteral("Отрежет"), [](const MeshNode& n) { return stationsCut(n.cutOffByMove); }));
    QStringList faults;
    for (const int i : m.selfParents)
        faults << QStringLiteral("станция %1 назвала родителем себя").arg(m.nodes[size_t(i)].address);
    for (const std::vector<int>& loop : m.loops) {
        QStringList chain;
        for (const int i : loop) chain << QString::number(m.nodes[size_t(i)].address);
        faults << QStringLiteral("петля родителей %1 → %2").arg(chain.join(QStringLiteral(" → ")), chain.first());
    }
    if (!faults.isEmpty())
        html += QStringLiteral("<p class=\"faults\"><b>Связи, которых не может быть</b> (в схеме не нарисованы, станция "
                               "отмечена ↻): %1.</p>").arg(faults.join(QStringLiteral("; ")));
    return html;
}

QString legend(const MeshSplit& m) {
    bool seen[5] = {};
    for (const MeshNode& node : m.nodes) seen[int(node.state)] = true;
    QString html = QStringLiteral("<div class=\"legend\">");
    for (int s = 0; s < 5; ++s)
        if (seen[s])
            html += QStringLiteral("<span><i style=\"background:%1;border:1px solid %2;border-radius:6px\"></i>%3</span>")
                        .arg(QLatin1String(meshStateLook(MeshState(s)).fill), QLatin1String(meshStateLook(MeshState(s)).stroke),
                             words(MeshState(s)));
    return html + QStringLiteral("<span><i style=\"background:#e53e3e;height:2px;vertical-align:3px\"></i>связь, разрезанная переводом</span></div>");
}

QString picture(const MigrationReport& r) {
    QString html = QStringLiteral("<h2>Схема сети</h2>");
    const QString svg = networkTreeSvg(r.mesh, r.plan);
    if (svg.isEmpty())
        return html + QStringLiteral("<p class=\"none\">Схема не нарисована: %1 станций, читаемо — до %2. Смотрите списки.</p>")
                          .arg(r.mesh.nodes.size())
                          .arg(kTreeLimit);
    return html + QStringLiteral("<div class=\"tree\">") + svg + QStringLiteral("</div>") + legend(r.mesh);
}

// The stations of `state`, in address order.
std::vector<int> inState(const MeshSplit& m, MeshState state, bool plannedOnly) {
    std::vector<int> nodes;
    for (size_t i = 0; i < m.nodes.size(); ++i)
        if (m.nodes[i].state == state && (!plannedOnly || m.nodes[i].planIndex >= 0)) nodes.push_back(int(i));
    return nodes;
}

QString outcomeCell(const MeshNode& node) {
    return QStringLiteral("<b>%1</b><br>%2").arg(outcomeLabel(node.outcome), outcomeAdvice(node.outcome));
}

// Against the plan: what is left, what needs a visit, what is done, and
// what the plan lacks.
QString planLists(const MigrationReport& r) {
    const MeshSplit& m = r.mesh;
    QString html = QStringLiteral("<h2>По плану сети</h2><p class=\"meta\">План: %1, станций: %2.</p>")
                       .arg(esc(QFileInfo(r.plan.path).fileName()))
                       .arg(m.planned);
    const std::vector<int> notVisited = inState(m, MeshState::NotVisited, true);
    html += listBlock("not-visited", QStringLiteral("Ещё не посещены"), notVisited.size(),
                      QStringLiteral("В плане, но ни в одном журнале."), plainList(r, notVisited));
    const std::vector<int> attention = inState(m, MeshState::NeedsAttention, true);
    html += listBlock("plan-attention", QStringLiteral("Требуют внимания"), attention.size(), QString(),
                      stationList(r, attention, QStringLiteral("Последний итог и что сделать"), outcomeCell));
    const std::vector<int> restored = inState(m, MeshState::NotMoved, true);
    if (!restored.empty())
        html += listBlock("plan-restored", QStringLiteral("Восстановлены"), restored.size(),
                          QStringLiteral("Возвращены на старую систему по резервной копии."), plainList(r, restored));
    const std::vector<int> moved = inState(m, MeshState::Moved, true);
    html += listBlock("plan-moved", QStringLiteral("Переведены"), moved.size(), QString(), plainList(r, moved));
    html += listBlock("not-in-plan", QStringLiteral("Встречены, но нет в плане"), m.notInPlan.size(),
                      QStringLiteral("Посещены или названы родителем другой станции; в план их не внесли."),
                      stationList(r, m.notInPlan, QStringLiteral("Как встречена"), [](const MeshNode& n) { return words(n.state); }));
    return html;
}

QString children(const MeshSplit& m, const MeshNode& node) {
    QStringList addresses;
    for (int c = 0; c < node.childCount; ++c) addresses << QString::number(m.nodes[size_t(m.children[size_t(node.firstChild + c)])].address);
    return addresses.join(QStringLiteral(", "));
}

QString notes(const MeshSplit& m) {
    QStringList notes;
    if (m.placesUnknown > 0)
        notes << QStringLiteral("Место в сети не известно у %1 посещённых станций: их запуски не читали состояние "
                                "(окно rechannel, журналы прежних версий) или чтение не удалось.").arg(m.placesUnknown);
    if (m.detached > 0)
        notes << QStringLiteral("%1 станций сообщили, что не подключены к сети: у них нет связи с родителем.").arg(m.detached);
    return notes.isEmpty() ? QString() : QStringLiteral("<p class=\"meta\">%1</p>").arg(notes.join(QLatin1Char(' ')));
}

// "301, 305, 322 … и ещё 4"
QString addressList(const MeshSplit& m, const std::vector<int>& nodes, const std::function<QString(const MeshNode&)>& extra = {}) {
    QStringList shown;
    for (size_t i = 0; i < nodes.size() && i < size_t(kTextAddresses); ++i) {
        const MeshNode& node = m.nodes[size_t(nodes[i])];
        shown << QString::number(node.address) + (extra ? extra(node) : QString());
    }
    if (nodes.size() > size_t(kTextAddresses)) shown << QStringLiteral("and %1 more").arg(nodes.size() - size_t(kTextAddresses));
    return QStringLiteral("%1%2").arg(nodes.size()).arg(nodes.empty() ? QString() : QStringLiteral(": ") + shown.join(QStringLiteral(", ")));
}

}  // namespace

const char* const kNetworkStyle = R"(
h3 { font-size: 15px; margin: 18px 0 6px; break-after: avoid; page-break-after: avoid; }
h3 .count { color: #4a5568; font-weight: 400; }
.split .meta { margin-bottom: 6px; }
table.net { margin-bottom: 6px; width: auto; min-width: 60%; }
.faults { background: #fffaf0; border-left: 4px solid #dd6b20; padding: 6px 10px; font-size: 13px; }
.tree { overflow-x: auto; margin: 6px 0; }
.tree svg { display: block; }
@media print { .tree svg { width: 100%; height: auto; } }
)";

QString networkSectionHtml(const MigrationReport& r) {
    const MeshSplit& m = r.mesh;
    if (m.nodes.empty() && !r.plan.given) return QString();
    QString html = QStringLiteral("<section id=\"network\"><h2>Сеть</h2>") + cards(r) + notes(m);
    html += picture(r) + splits(r);
    if (r.plan.given) return html + planLists(r) + QStringLiteral("</section>");
    const std::vector<int> parents = inState(m, MeshState::ParentOnly, false);
    return html + listBlock("known-not-visited", QStringLiteral("Известны, ещё не посещены"), parents.size(),
                            QStringLiteral("Названы родителем другой станции, но ни в одном журнале."),
                            stationList(r, parents, QStringLiteral("Родитель станций"), [&m](const MeshNode& n) { return children(m, n); })) +
           QStringLiteral("</section>");
}

QStringList networkTextLines(const MigrationReport& r) {
    const MeshSplit& m = r.mesh;
    QStringList lines;
    if (m.nodes.empty() && !r.plan.given) return lines;
    if (r.plan.given) {
        lines << QStringLiteral("plan: %1 stations; moved: %2; needing attention: %3; restored: %4; not yet visited: %5; met but not in the plan: %6")
                     .arg(m.planned).arg(m.plannedMoved).arg(m.plannedAttention).arg(m.plannedNotMoved).arg(m.notVisited)
                     .arg(addressList(m, m.notInPlan));
    } else {
        lines << QStringLiteral("known as parents, not yet visited: %1").arg(addressList(m, inState(m, MeshState::ParentOnly, false)));
    }
    lines << QStringLiteral("cut off from the old network: %1").arg(addressList(m, m.cutOff));
    lines << QStringLiteral("alone in the new network: %1").arg(addressList(m, m.aloneInNew));
    lines << QStringLiteral("moving cuts off (stations): %1")
                 .arg(addressList(m, m.wouldCutOff, [](const MeshNode& n) { return QStringLiteral(" (%1)").arg(n.cutOffByMove); }));
    QStringList faults;
    for (const int i : m.selfParents) faults << QStringLiteral("%1 names itself").arg(m.nodes[size_t(i)].address);
    for (const std::vector<int>& loop : m.loops) {
        QStringList chain;
        for (const int i : loop) chain << QString::number(m.nodes[size_t(i)].address);
        faults << QStringLiteral("loop %1 -> %2").arg(chain.join(QStringLiteral(" -> ")), chain.first());
    }
    if (!faults.isEmpty()) lines << QStringLiteral("parent links left out: %1").arg(faults.join(QStringLiteral("; ")));
    if (m.placesUnknown > 0) lines << QStringLiteral("place in the mesh unknown (status not read): %1 stations").arg(m.placesUnknown);
    return lines;
}

void appendNetworkCsvFields(QList<QByteArray>& fields, const MigrationReport& r, const ReportStation& s) {
    if (s.place)
        fields << QByteArray::number(s.place->parent) << QByteArray(s.place->attached ? "1" : "0")
               << QByteArray::number(s.place->link) << QByteArray::number(s.place->signal);
    else
        fields << QByteArray() << QByteArray() << QByteArray() << QByteArray();
    const PlanStation* plan = r.plan.find(s.address);
    fields << (r.plan.given ? QByteArray(plan ? "yes" : "no") : QByteArray());
    fields << report_escape::csvText(plan ? plan->name : QString()) << report_escape::csvText(plan ? plan->place : QString());
}
