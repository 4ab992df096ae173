#include "StatusBoard.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "ChildReport.h"
#include "OutputQueue.h"
#include "PortWorker.h"

namespace {

using output_queue::Stream;

constexpr TerminalSize kAssumedSize{24, 80};
// Fewer rows than this and the board is one summary line and one port.
constexpr int kMinRows = 3;

// Queued: the runner's event loop, which reads the children's reports and
// passes on their stops, never waits for the console (OutputQueue.h).
void write(Stream to, const QString& text) { output_queue::write(to, text.toUtf8().toStdString()); }

// What a port is doing before its worker has said.
const char kStarting[] = "starting";

QString entryWords(const BoardEntry& entry) { return entry ? boardWords(*entry) : QLatin1String(kStarting); }

QString entryStatus(const BoardEntry& entry) { return entry ? boardStatus(*entry) : QString(); }

// "… 7 more: 4 waiting for a station, 2 moved, 1 writing", the most common first.
QString summary(const std::vector<BoardEntry>& hidden) {
    std::vector<std::pair<QString, int>> counts;
    for (const BoardEntry& entry : hidden) {
        const QString what = entryWords(entry);
        auto it = std::find_if(counts.begin(), counts.end(), [&what](const auto& c) { return c.first == what; });
        if (it == counts.end()) counts.emplace_back(what, 1);
        else ++it->second;
    }
    std::stable_sort(counts.begin(), counts.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
    QStringList parts;
    for (const auto& [what, n] : counts) parts << QStringLiteral("%1 %2").arg(n).arg(what);
    return QStringLiteral("… %1 more: %2").arg(hidden.size()).arg(parts.join(QStringLiteral(", ")));
}

}  // namespace

QString boardWords(const PortActivity& activity) {
    using State = PortActivity::State;
    switch (activity.state) {
    case State::WaitingForPort: return QStringLiteral("waiting for the port");
    case State::WaitingForStation: return QStringLiteral("waiting for a station");
    case State::Running: return child_report::phaseName(activity.phase);
    case State::Ended: return activity.noStation ? QStringLiteral("no-station") : outcomeName(activity.outcome);
    case State::WaitingForLeave: break;
    }
    return QStringLiteral("done; waiting for the next station");
}

QString boardStatus(const PortActivity& activity) {
    using State = PortActivity::State;
    switch (activity.state) {
    case State::Running:
    case State::Ended: return QStringLiteral("%1  %2").arg(addressText(activity.address), boardWords(activity));
    case State::WaitingForLeave: return QStringLiteral("%1 %2").arg(addressText(activity.address), boardWords(activity));
    case State::WaitingForPort:
    case State::WaitingForStation: break;
    }
    return boardWords(activity);
}

QStringList boardLines(const std::vector<QString>& ports, const std::vector<BoardEntry>& status, TerminalSize size) {
    if (size.rows <= 0 || size.columns <= 0) size = kAssumedSize;
    const std::size_t count = std::min(ports.size(), status.size());
    int width = 0;
    for (std::size_t i = 0; i < count; ++i) width = std::max(width, static_cast<int>(ports[i].size()));
    const std::size_t room = static_cast<std::size_t>(std::max(size.rows, kMinRows) - 1);
    const std::size_t shown = count <= room ? count : room - 1;
    QStringList lines;
    for (std::size_t i = 0; i < shown; ++i)
        lines << QStringLiteral("%1  %2").arg(ports[i], -width).arg(entryStatus(status[i]));
    if (shown < count)
        lines << summary(std::vector<BoardEntry>(status.begin() + static_cast<std::ptrdiff_t>(shown),
                                                 status.begin() + static_cast<std::ptrdiff_t>(count)));
    const int columns = std::max(size.columns - 1, 1);
    for (QString& line : lines)
        if (line.size() > columns) line = line.left(columns - 1) + QStringLiteral("…");
    return lines;
}

StatusBoard::StatusBoard(bool live, std::function<TerminalSize()> size, const std::function<bool()>& prepare)
    : live_(live && (prepare ? prepare() : prepareTerminalDrawing(fileno(stderr)))), size_(std::move(size)) {}

std::size_t StatusBoard::add(const QString& port) {
    ports_.push_back(port);
    status_.emplace_back();
    if (live_ && !closed_) draw(false);
    return ports_.size() - 1;
}

void StatusBoard::set(std::size_t port, const PortActivity& activity) {
    if (closed_ || port >= status_.size() || status_[port] == activity) return;
    status_[port] = activity;
    if (live_) draw(false);
    else write(Stream::Err, QStringLiteral("%1: %2\n").arg(ports_[port], boardStatus(activity)));
}

void StatusBoard::print(const QString& line, bool bell) {
    if (live_) erase();
    write(Stream::Out, line + QLatin1Char('\n'));
    if (bell && live_) write(Stream::Err, QStringLiteral("\a"));
    if (live_ && !closed_) draw(true);
}

void StatusBoard::note(const QString& line) {
    if (live_) erase();
    write(Stream::Err, line + QLatin1Char('\n'));
    if (live_ && !closed_) draw(true);
}

void StatusBoard::close() {
    closed_ = true;
    shown_.clear();
}

void StatusBoard::erase() {
    if (!shown_.isEmpty()) write(Stream::Err, QStringLiteral("\x1b[%1A\r\x1b[J").arg(shown_.size()));
    shown_.clear();
}

void StatusBoard::draw(bool force) {
    const QStringList lines = boardLines(ports_, status_, size_ ? size_() : TerminalSize{});
    if (!force && lines == shown_) return;
    erase();
    if (lines.isEmpty()) return;
    write(Stream::Err, lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
    shown_ = lines;
}
