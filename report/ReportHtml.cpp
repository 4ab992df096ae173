// The report as one HTML page: inline CSS and SVG only, nothing loaded from
// anywhere and no script, in Russian, laid out for A4. Everything taken
// from a ledger (ports, hosts, backup paths, notes) comes from another
// laptop and is escaped: it reads as text, never as markup.
#include <QFileInfo>
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "MigrationReport.h"
#include "NetworkSection.h"
#include "ReportEscape.h"

QString report_escape::esc(const QString& text) {
    for (const QChar c : text)
        if (c == QLatin1Char('<') || c == QLatin1Char('>') || c == QLatin1Char('&') || c == QLatin1Char('"') || c == QLatin1Char('\''))
            return text.toHtmlEscaped().replace(QLatin1Char('\''), QLatin1String("&#39;"));
    return text;   // nothing to escape: shared, not copied
}

namespace {

using report_escape::esc;

// "08.12.2026 10:15", in the time's own offset (the technician's clock).
QString timeText(const QDateTime& time) {
    if (!time.isValid()) return QStringLiteral("—");
    const QDate date = time.date();
    const QTime clock = time.time();
    char text[32];
    std::snprintf(text, sizeof text, "%02d.%02d.%04d %02d:%02d", date.day(), date.month(), date.year(), clock.hour(), clock.minute());
    return QString::fromLatin1(text);
}

QString hostText(const QString& host) { return host.isEmpty() ? QStringLiteral("неизвестен") : esc(host); }

// The outcomes' colours: greens done, blue restored, greys for stations not
// ours, warm for what needs a visit.
struct OutcomeColour {
    RunOutcome outcome;
    const char* colour;
};
constexpr OutcomeColour kColours[] = {
    {RunOutcome::Moved, "#2f855a"},         {RunOutcome::AlreadyMoved, "#9ae6b4"},
    {RunOutcome::Restored, "#4c6ef5"},      {RunOutcome::OtherSystem, "#a0aec0"},
    {RunOutcome::Unsupported, "#805ad5"},   {RunOutcome::NoPort, "#ecc94b"},
    {RunOutcome::NoAnswer, "#ed8936"},      {RunOutcome::PortLost, "#f6ad55"},
    {RunOutcome::PartlyWritten, "#c53030"}, {RunOutcome::VerifyFailed, "#e53e3e"},
    {RunOutcome::Interrupted, "#cbd5e0"},   {RunOutcome::Failed, "#744210"},
};
static_assert(rowPerOutcome(kColours), "a colour for every outcome, in their order");

const char* colour(RunOutcome outcome) { return kColours[outcomeIndex(outcome)].colour; }

const char* const kStyle = R"(
@page { size: A4; margin: 14mm 12mm; }
* { box-sizing: border-box; }
body { font-family: "DejaVu Sans", "Segoe UI", Arial, sans-serif; color: #1a202c; margin: 0 auto;
       max-width: 1120px; padding: 28px 32px; font-size: 14px; line-height: 1.4; background: #fff; }
h1 { font-size: 26px; margin: 0 0 4px; font-weight: 700; }
h2 { font-size: 18px; margin: 30px 0 10px; padding-bottom: 4px; border-bottom: 1px solid #e2e8f0;
     break-after: avoid; page-break-after: avoid; }
.meta { color: #4a5568; font-size: 13px; margin: 2px 0; }
.cards { display: grid; grid-template-columns: repeat(5, 1fr); gap: 12px; margin: 20px 0 8px; }
.card { border: 1px solid #e2e8f0; border-top: 4px solid #718096; border-radius: 6px; padding: 10px 14px; }
.card .n { font-size: 30px; font-weight: 700; line-height: 1.1; }
.card .t { color: #4a5568; font-size: 12px; }
.facts { display: grid; grid-template-columns: auto 1fr; gap: 2px 16px; font-size: 13px; margin: 12px 0; }
.facts dt { color: #4a5568; } .facts dd { margin: 0; }
.chart { break-inside: avoid; page-break-inside: avoid; }
.chart svg { width: 100%; height: auto; display: block; }
.legend { font-size: 12px; color: #2d3748; margin: 6px 0 0; }
.legend span { display: inline-block; margin: 2px 14px 2px 0; white-space: nowrap; }
.legend i { display: inline-block; width: 11px; height: 11px; border-radius: 2px; margin-right: 5px; vertical-align: -1px; }
table { border-collapse: collapse; width: 100%; font-size: 12.5px; }
thead { display: table-header-group; }
th { text-align: left; background: #f7fafc; border-bottom: 2px solid #cbd5e0; padding: 6px 8px; font-weight: 600; }
td { border-bottom: 1px solid #edf2f7; padding: 5px 8px; vertical-align: top; }
tr { break-inside: avoid; page-break-inside: avoid; }
td.n, th.n { text-align: right; font-variant-numeric: tabular-nums; }
.mono { font-family: "DejaVu Sans Mono", Consolas, monospace; font-size: 12px; }
.path { word-break: break-all; color: #4a5568; }
.state { display: inline-block; padding: 1px 7px; border-radius: 10px; font-size: 11.5px; white-space: nowrap; }
.s-attention { background: #fed7d7; color: #822727; } .s-restored { background: #dbe4ff; color: #364fc7; }
.s-moved { background: #c6f6d5; color: #22543d; }
.none { color: #718096; font-style: italic; }
footer { margin-top: 28px; color: #718096; font-size: 11.5px; }
@media print { body { max-width: none; padding: 0; font-size: 10pt; } h2 { margin-top: 18px; }
               .cards { gap: 6px; } .card .n { font-size: 22px; } }
)";

QString card(int number, const QString& title, const char* accent) {
    return QStringLiteral("<div class=\"card\" style=\"border-top-color:%3\"><div class=\"n\">%1</div><div class=\"t\">%2</div></div>")
        .arg(number)
        .arg(title, QLatin1String(accent));
}

QString stateBadge(StationState state) {
    switch (state) {
    case StationState::Moved: return QStringLiteral("<span class=\"state s-moved\">переведена</span>");
    case StationState::NotMoved: return QStringLiteral("<span class=\"state s-restored\">не переведена</span>");
    case StationState::NeedsAttention: break;
    }
    return QStringLiteral("<span class=\"state s-attention\">нужен визит</span>");
}

QString summary(const MigrationReport& r) {
    QString html = QStringLiteral("<div class=\"cards\">");
    html += card(int(r.stations.size()), QStringLiteral("станций в журналах"), "#4a5568");
    html += card(r.countState(StationState::Moved), QStringLiteral("переведено"), colour(RunOutcome::Moved));
    html += card(r.countState(StationState::NeedsAttention), QStringLiteral("требуют внимания"), colour(RunOutcome::PartlyWritten));
    html += card(r.countLast(RunOutcome::Restored), QStringLiteral("восстановлено"), colour(RunOutcome::Restored));
    html += card(r.countLast(RunOutcome::OtherSystem), QStringLiteral("других систем"), colour(RunOutcome::OtherSystem));
    html += QStringLiteral("</div><dl class=\"facts\">");
    html += QStringLiteral("<dt>Первый запуск</dt><dd>%1</dd><dt>Последний запуск</dt><dd>%2</dd>")
                .arg(timeText(r.firstRun), timeText(r.lastRun));
    html += QStringLiteral("<dt>Запусков</dt><dd>%1 (без ответа станции: %2; повторы строк не учтены: %3)</dd>")
                .arg(r.runs)
                .arg(r.runsWithoutStation)
                .arg(r.duplicates);
    QStringList hosts;
    for (const ReportHost& host : r.hosts) hosts << hostText(host.host);
    html += QStringLiteral("<dt>Компьютеры</dt><dd>%1</dd></dl>").arg(hosts.isEmpty() ? QStringLiteral("—") : hosts.join(QStringLiteral(", ")));
    return html;
}

// A round step for about `parts` grid lines up to `top`.
int niceStep(int top, int parts) {
    const double raw = std::max(1.0, double(top) / parts);
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double m : {1.0, 2.0, 5.0, 10.0})
        if (m * power >= raw) return std::max(1, int(m * power));
    return int(10 * power);
}

constexpr double kLeft = 56, kRight = 944, kTop = 16, kBottom = 256, kWidth = 1000, kHeight = 300;

QString chartAxes(int runStep, int runTop, int movedStep, int movedTop) {
    QString svg;
    for (int v = 0; v <= runTop; v += runStep) {
        const double y = kBottom - (kBottom - kTop) * v / runTop;
        svg += QStringLiteral("<line x1=\"%1\" x2=\"%2\" y1=\"%3\" y2=\"%3\" stroke=\"#e2e8f0\"/>"
                              "<text x=\"%4\" y=\"%5\" text-anchor=\"end\">%6</text>")
                   .arg(kLeft).arg(kRight).arg(y).arg(kLeft - 8).arg(y + 4).arg(v);
    }
    for (int v = 0; v <= movedTop; v += movedStep) {
        const double y = kBottom - (kBottom - kTop) * v / movedTop;
        svg += QStringLiteral("<text x=\"%1\" y=\"%2\" fill=\"#1a4731\">%3</text>").arg(kRight + 8).arg(y + 4).arg(v);
    }
    svg += QStringLiteral("<text x=\"%1\" y=\"%2\" transform=\"rotate(-90 %1 %2)\" text-anchor=\"middle\">запусков в день</text>")
               .arg(14).arg((kTop + kBottom) / 2);
    svg += QStringLiteral("<text x=\"%1\" y=\"%2\" transform=\"rotate(90 %1 %2)\" text-anchor=\"middle\" fill=\"#1a4731\">переведено всего</text>")
               .arg(kWidth - 10).arg((kTop + kBottom) / 2);
    return svg;
}

QString chartBars(const std::vector<ReportDay>& days, int runTop) {
    const double slot = (kRight - kLeft) / double(days.size());
    const double width = std::min(56.0, slot * 0.7);
    const int labelEvery = int(std::ceil(days.size() / 16.0));
    QString svg;
    for (size_t d = 0; d < days.size(); ++d) {
        const double x = kLeft + slot * double(d) + (slot - width) / 2;
        double y = kBottom;
        for (int i = 0; i < kOutcomeCount; ++i) {
            const int n = days[d].runs[size_t(i)];
            if (n == 0) continue;
            const double h = (kBottom - kTop) * n / runTop;
            y -= h;
            svg += QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" fill=\"%5\"><title>%6 %7: %8</title></rect>")
                       .arg(x, 0, 'f', 1).arg(y, 0, 'f', 1).arg(width, 0, 'f', 1).arg(h, 0, 'f', 1)
                       .arg(QLatin1String(kColours[i].colour), days[d].day.toString(QStringLiteral("dd.MM")),
                            outcomeLabel(kRunOutcomes[i].outcome)).arg(n);
        }
        if (d % size_t(labelEvery) == 0)
            svg += QStringLiteral("<text x=\"%1\" y=\"%2\" text-anchor=\"middle\">%3</text>")
                       .arg(x + width / 2, 0, 'f', 1).arg(kBottom + 18).arg(days[d].day.toString(QStringLiteral("dd.MM")));
    }
    return svg;
}

QString chartLine(const std::vector<ReportDay>& days, int movedTop) {
    const double slot = (kRight - kLeft) / double(days.size());
    QString points, dots;
    for (size_t d = 0; d < days.size(); ++d) {
        const double x = kLeft + slot * (double(d) + 0.5);
        const double y = kBottom - (kBottom - kTop) * days[d].movedSoFar / movedTop;
        points += QStringLiteral("%1,%2 ").arg(x, 0, 'f', 1).arg(y, 0, 'f', 1);
        dots += QStringLiteral("<circle cx=\"%1\" cy=\"%2\" r=\"3.5\" fill=\"#1a4731\"><title>%3: переведено %4</title></circle>")
                    .arg(x, 0, 'f', 1).arg(y, 0, 'f', 1).arg(days[d].day.toString(QStringLiteral("dd.MM"))).arg(days[d].movedSoFar);
    }
    return QStringLiteral("<polyline points=\"%1\" fill=\"none\" stroke=\"#1a4731\" stroke-width=\"2.5\"/>").arg(points.trimmed()) + dots;
}

QString chart(const MigrationReport& r) {
    if (r.days.empty()) return QStringLiteral("<p class=\"none\">Запусков нет.</p>");
    int most = 1, moved = 1;
    std::array<int, kOutcomeCount> seen{};
    for (const ReportDay& day : r.days) {
        int total = 0;
        for (int i = 0; i < kOutcomeCount; ++i) total += day.runs[size_t(i)], seen[size_t(i)] += day.runs[size_t(i)];
        most = std::max(most, total);
        moved = std::max(moved, day.movedSoFar);
    }
    const int runStep = niceStep(most, 4), movedStep = niceStep(moved, 4);
    const int runTop = (most + runStep - 1) / runStep * runStep, movedTop = (moved + movedStep - 1) / movedStep * movedStep;
    QString html = QStringLiteral("<div class=\"chart\"><svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 %1 %2\" "
                                  "role=\"img\" aria-label=\"Запуски по дням и переведённые станции\" "
                                  "font-family=\"DejaVu Sans, Segoe UI, Arial, sans-serif\" font-size=\"12\" fill=\"#4a5568\">")
                       .arg(kWidth).arg(kHeight);
    html += chartAxes(runStep, runTop, movedStep, movedTop) + chartBars(r.days, runTop) + chartLine(r.days, movedTop);
    html += QStringLiteral("<line x1=\"%1\" x2=\"%2\" y1=\"%3\" y2=\"%3\" stroke=\"#718096\"/></svg><div class=\"legend\">").arg(kLeft).arg(kRight).arg(kBottom);
    for (int i = 0; i < kOutcomeCount; ++i)
        if (seen[size_t(i)] > 0)
            html += QStringLiteral("<span><i style=\"background:%1\"></i>%2</span>").arg(QLatin1String(kColours[i].colour), outcomeLabel(kRunOutcomes[i].outcome));
    return html + QStringLiteral("<span><i style=\"background:#1a4731;height:3px;vertical-align:3px\"></i>переведено всего (правая шкала)</span></div></div>");
}

// Appended piece by piece: a fleet's report has tens of thousands of rows.
void appendStationRow(QString& html, const ReportStation& s, bool withState) {
    html += QLatin1String("<tr><td class=\"n\">") + QString::number(s.address) + QLatin1String("</td><td class=\"mono\">") +
            (s.setup.isEmpty() ? QStringLiteral("—") : esc(s.setup)) + QLatin1String("</td>");
    if (withState) html += QLatin1String("<td>") + stateBadge(s.state()) + QLatin1String("</td>");
    html += QLatin1String("<td><b>") + outcomeLabel(s.last.outcome) + QLatin1String("</b>");
    if (!withState) html += QLatin1String("<br>") + outcomeAdvice(s.last.outcome);
    if (!s.last.note.isEmpty()) html += QLatin1String("<br><span class=\"path\">") + esc(s.last.note) + QLatin1String("</span>");
    html += QLatin1String("</td><td>") + timeText(s.last.time) + QLatin1String("</td><td>") + hostText(s.last.host) +
            QLatin1String("</td><td>") + esc(s.last.port) + QLatin1String("</td><td class=\"mono path\">") + esc(s.last.backup) +
            QLatin1String("</td></tr>");
}

QString stationTable(const MigrationReport& r, bool attentionOnly) {
    QString rows;
    for (const ReportStation& s : r.stations)
        if (!attentionOnly || s.state() == StationState::NeedsAttention) appendStationRow(rows, s, !attentionOnly);
    if (rows.isEmpty()) return QStringLiteral("<p class=\"none\">Таких станций нет.</p>");
    const QString head = attentionOnly
        ? QStringLiteral("<th class=\"n\">Адрес</th><th>Настройка</th><th>Последний итог и что сделать</th><th>Когда</th><th>Компьютер</th><th>Порт</th><th>Резервная копия</th>")
        : QStringLiteral("<th class=\"n\">Адрес</th><th>Настройка</th><th>Состояние</th><th>Последний итог</th><th>Когда</th><th>Компьютер</th><th>Порт</th><th>Резервная копия</th>");
    return QStringLiteral("<table><thead><tr>") + head + QStringLiteral("</tr></thead><tbody>") + rows + QStringLiteral("</tbody></table>");
}

QString hostTable(const MigrationReport& r) {
    if (r.hosts.empty()) return QStringLiteral("<p class=\"none\">Запусков нет.</p>");
    QString rows;
    for (const ReportHost& h : r.hosts)
        rows += QStringLiteral("<tr><td>%1</td><td class=\"n\">%2</td><td class=\"n\">%3</td><td class=\"n\">%4</td></tr>")
                    .arg(hostText(h.host)).arg(h.runs).arg(h.moves).arg(h.failures);
    return QStringLiteral("<table><thead><tr><th>Компьютер</th><th class=\"n\">Запусков</th><th class=\"n\">Переведено</th>"
                          "<th class=\"n\">Неудач</th></tr></thead><tbody>%1</tbody></table>").arg(rows);
}

QString header(const MigrationReport& r) {
    QStringList names;
    for (const QString& file : r.files) names << esc(QFileInfo(file).fileName());
    QString period = QStringLiteral("все запуски");
    if (r.since.isValid() || r.until.isValid())
        period = QStringLiteral("запуски с %1 по %2").arg(r.since.isValid() ? timeText(r.since) : QStringLiteral("начала"),
                                                          r.until.isValid() ? timeText(r.until) : QStringLiteral("конец"));
    return QStringLiteral("<h1>Перевод станций на новую систему</h1><p class=\"meta\">Отчёт составлен %1; %2.</p>"
                          "<p class=\"meta\">Журналы (%3): %4</p>")
        .arg(timeText(r.made), period)
        .arg(r.files.size())
        .arg(names.isEmpty() ? QStringLiteral("—") : names.join(QStringLiteral(", ")));
}

}  // namespace

QByteArray reportHtml(const MigrationReport& r) {
    QString html = QStringLiteral("<!DOCTYPE html>\n<html lang=\"ru\"><head><meta charset=\"utf-8\">"
                                  "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
                                  "<title>Отчёт о переводе станций</title><style>%1</style></head><body>\n")
                       .arg(QLatin1String(kStyle) + QLatin1String(kNetworkStyle));
    html += header(r) + summary(r) + networkSectionHtml(r);
    html += QStringLiteral("<h2>Запуски по дням</h2>") + chart(r);
    html += QStringLiteral("<h2>Требуют внимания</h2>") + stationTable(r, true);
    html += QStringLiteral("<h2>По компьютерам</h2>") + hostTable(r);
    html += QStringLiteral("<h2>Все станции</h2>") + stationTable(r, false);
    html += QStringLiteral("<footer>rechannel — сводка журналов запусков (ledger.csv).</footer></body></html>\n");
    return html.toUtf8();
}
