#pragma once
// The fleet's live view: one status line per port. On a terminal the lines
// are redrawn in place on standard error; otherwise each change is a plain
// line. Lasting lines (a run's result) go to standard output above them, the
// children's messages to standard error above them.
#include <QString>
#include <vector>

class StatusBoard {
public:
    StatusBoard(bool terminal, const std::vector<QString>& ports);
    // A port found later gets its line below the others; returns its index.
    std::size_t add(const QString& port);
    void set(std::size_t port, const QString& status);
    void print(const QString& line, bool bell = false);
    void note(const QString& line);
    // Leaves the lines as they stand; later lines go below them.
    void close();

private:
    void draw();
    void erase();

    bool terminal_;
    std::vector<QString> ports_;
    std::vector<QString> status_;
    int width_ = 0;
    int drawn_ = 0;
    bool closed_ = false;
};
