#pragma once
// The fleet's live view: one status line per port. On a terminal the lines
// are redrawn in place on standard error, clipped to the window (the ports
// that do not fit are summed up in one line), and only when what shows
// changes; otherwise each change is a plain line. Lasting lines (a run's
// result) go to standard output above them, the children's messages to
// standard error above them.
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

#include "PortActivity.h"
#include "TerminalSize.h"

// What a port is doing in the board's words, without its station's address:
// "waiting for a station", "writing", "moved", "no-station", "done; waiting
// for the next station". Ports that do not fit are summed up by these.
QString boardWords(const PortActivity& activity);
// A port's status: the words, after the station's address ("-" while none
// is known) during and after a run: "301  writing", "301  moved",
// "301 done; waiting for the next station".
QString boardStatus(const PortActivity& activity);

// A port's line before its worker has said anything.
using BoardEntry = std::optional<PortActivity>;

// The board's lines for a window of `size`: one per port while they fit in
// rows - 1 lines (the cursor's line stays free, so drawing never scrolls),
// otherwise the first rows - 2 ports and one line that sums up the others by
// what they are doing; every line cut to columns - 1 characters, so none
// wraps. An unknown size is taken as 24 by 80.
QStringList boardLines(const std::vector<QString>& ports, const std::vector<BoardEntry>& status, TerminalSize size);

class StatusBoard {
public:
    // `live`: draw in place (standard output and standard error are both a
    // terminal) when `prepare` readies standard error's terminal for it
    // (prepareTerminalDrawing); plain lines otherwise. `size` tells the
    // window's size at every draw.
    StatusBoard(bool live, std::function<TerminalSize()> size, const std::function<bool()>& prepare = {});
    // A port found later gets its line below the others; returns its index.
    std::size_t add(const QString& port);
    void set(std::size_t port, const PortActivity& activity);
    void print(const QString& line, bool bell = false);
    void note(const QString& line);
    // Leaves the lines as they stand; later lines go below them.
    void close();

private:
    // Redraws when the lines differ from those on the screen, or always
    // after something was written above them.
    void draw(bool force);
    void erase();

    bool live_;
    std::function<TerminalSize()> size_;
    std::vector<QString> ports_;
    std::vector<BoardEntry> status_;
    QStringList shown_;
    bool closed_ = false;
};
