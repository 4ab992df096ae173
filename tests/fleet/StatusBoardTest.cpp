// The live board's lines for a window of a given size.
#include <gtest/gtest.h>

#include "OutputQueue.h"
#include "StatusBoard.h"

namespace {

std::vector<QString> numbered(const QString& stem, int n) {
    std::vector<QString> out;
    for (int i = 1; i <= n; ++i) out.push_back(stem.arg(i));
    return out;
}

const PortActivity kWaiting = PortActivity::waiting(PortActivity::State::WaitingForStation);

}  // namespace

TEST(StatusBoard, LinesFitTheWindowAndThePortsLeftOutAreSummedUp) {
    std::vector<BoardEntry> status(16, kWaiting);
    status[9] = PortActivity::running(JobPhase::Writing, 301);
    status[10] = PortActivity::running(JobPhase::Writing, 302);
    status[11] = PortActivity::ended(RunOutcome::Moved, 303, false);
    const struct {
        int ports, rows, columns;
        int lines;          // the board's lines
        QString last;       // its last line, or its start when cut
    } cases[] = {
        {3, 24, 80, 3, QStringLiteral("ttyUSB3  waiting for a station")},
        {16, 10, 80, 9, QStringLiteral("… 8 more: 5 waiting for a station, 2 writing, 1 moved")},
        {16, 0, 0, 16, QStringLiteral("ttyUSB16  waiting for a station")},   // size unknown: 24 by 80
        {16, 1, 80, 2, QStringLiteral("… 15 more: ")},                          // still one port and the sum
        {3, 24, 12, 3, QStringLiteral("ttyUSB3  w…")},                           // cut, never wrapped
    };
    for (const auto& c : cases) {
        const std::vector<QString> ports = numbered(QStringLiteral("ttyUSB%1"), c.ports);
        const std::vector<BoardEntry> shown(status.begin(), status.begin() + c.ports);
        const QStringList lines = boardLines(ports, shown, TerminalSize{c.rows, c.columns});
        EXPECT_EQ(lines.size(), c.lines) << c.rows << "x" << c.columns;
        EXPECT_TRUE(lines.last().startsWith(c.last)) << lines.last().toStdString();
        const int width = c.columns > 0 ? c.columns - 1 : 79;
        for (const QString& line : lines) EXPECT_LE(line.size(), width) << line.toStdString();
    }
}

// A live board draws in place only on a terminal that takes the escape
// sequences (a Windows console with virtual-terminal processing); where it
// cannot be readied, every change is a plain line, never raw escapes.
TEST(StatusBoard, DrawsInPlaceOnlyWhereTheTerminalTakesTheSequences) {
    for (const bool takes : {true, false}) {
        testing::internal::CaptureStderr();
        {
            StatusBoard board(true, [] { return TerminalSize{24, 80}; }, [takes] { return takes; });
            const std::size_t port = board.add(QStringLiteral("COM5"));
            board.set(port, kWaiting);
            board.set(port, PortActivity::running(JobPhase::Writing, 301));
            board.close();
        }
        ASSERT_TRUE(output_queue::drain(std::chrono::seconds(30)));
        const std::string out = testing::internal::GetCapturedStderr();
        EXPECT_EQ(out.find('\x1b') != std::string::npos, takes) << out;
        if (!takes) {
            EXPECT_EQ(out, "COM5: waiting for a station\nCOM5: 301  writing\n");
        }
    }
}
