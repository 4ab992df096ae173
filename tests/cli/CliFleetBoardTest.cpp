// The fleet's live board as a technician's terminal shows it: a pty of 10
// rows and 60 columns for standard error, with sixteen ports at once.
#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "CliFixture.h"
#include "PtyStationHost.h"

namespace {

constexpr int kRows = 10;
constexpr int kColumns = 60;
constexpr int kPorts = 16;

// A terminal window of a given size: the program writes to the slave side,
// the test reads what it drew from the master side.
class Terminal {
public:
    explicit Terminal(winsize size) : master_(::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK)) {
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
        ::ioctl(master_, TIOCSWINSZ, &size);
        slave_ = ::open(::ptsname(master_), O_RDWR | O_NOCTTY);
    }
    ~Terminal() {
        for (int fd : {master_, slave_})
            if (fd >= 0) ::close(fd);
    }
    bool ok() const { return slave_ >= 0; }
    int slave() const { return slave_; }
    // Everything drawn so far that was not taken yet.
    void drain() {
        char buffer[4096];
        for (ssize_t n; (n = ::read(master_, buffer, sizeof buffer)) > 0;) drawn_.append(buffer, static_cast<int>(n));
    }
    const QByteArray& drawn() const { return drawn_; }

private:
    int master_ = -1;
    int slave_ = -1;
    QByteArray drawn_;
};

// The lowest row the cursor reached, counted from where the board began:
// past the window's last row the terminal would have scrolled.
int deepestRow(const QString& drawn) {
    static const QRegularExpression up(QStringLiteral("\\x1b\\[(\\d+)A"));
    int row = 0, deepest = 0;
    for (int i = 0; i < drawn.size(); ++i) {
        const QRegularExpressionMatch m = up.match(drawn, i, QRegularExpression::NormalMatch,
                                                   QRegularExpression::AnchorAtOffsetMatchOption);
        if (m.hasMatch()) {
            row -= m.captured(1).toInt();
            i += static_cast<int>(m.capturedLength()) - 1;
        } else if (drawn[i] == QLatin1Char('\n')) {
            deepest = std::max(deepest, ++row);
        }
    }
    return deepest;
}

sim::StationModel station(std::uint16_t address) {
    sim::DefaultStationOptions options;
    options.address = address;
    return sim::makeDefaultStation(options);
}

}  // namespace

TEST(CliFleetBoard, SixteenPortsOnATenRowTerminalNeverScrollOrWrapAndPipedOutputGetsPlainLines) {
    const struct {
        bool stdoutOnTerminal;
        bool live;   // drawn in place
    } cases[] = {{true, true}, {false, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stdoutOnTerminal ? "standard output on a terminal" : "standard output piped");
        TempHome home;
        ASSERT_TRUE(home.isValid());
        std::vector<std::unique_ptr<sim::PtyStationHost>> hosts;
        QStringList args{QStringLiteral("program")};
        for (int i = 0; i < kPorts; ++i) {
            hosts.push_back(std::make_unique<sim::PtyStationHost>(station(static_cast<std::uint16_t>(900 + i))));
            ASSERT_TRUE(hosts.back()->start());
            args << QStringLiteral("--port") << QString::fromStdString(hosts.back()->slavePath());
        }
        Terminal board(winsize{kRows, kColumns, 0, 0}), results(winsize{24, 200, 0, 0});
        ASSERT_TRUE(board.ok() && results.ok());

        QProcess process;
        process.setProcessEnvironment(home.environment());
        const int err = board.slave(), out = c.stdoutOnTerminal ? results.slave() : -1;
        process.setChildProcessModifier([err, out] {
            ::dup2(err, STDERR_FILENO);
            if (out >= 0) ::dup2(out, STDOUT_FILENO);
        });
        process.start(QStringLiteral(RECHANNEL_CLI_PATH), args);
        ASSERT_TRUE(process.waitForStarted(60000));
        // The terminal is read while the runner draws, as a window would.
        for (int rounds = 0; rounds < 6000 && !process.waitForFinished(20); ++rounds) board.drain();
        ASSERT_EQ(process.state(), QProcess::NotRunning) << "the fleet did not end";
        board.drain();
        EXPECT_EQ(process.exitCode(), 0) << board.drawn().constData();

        const QString drawn = QString::fromUtf8(board.drawn());
        EXPECT_EQ(drawn.contains(QStringLiteral("\x1b[")), c.live) << drawn.toStdString();
        if (!c.live) {
            EXPECT_TRUE(drawn.contains(QStringLiteral("%1: 900  writing").arg(args[2]))) << drawn.toStdString();
            continue;
        }
        EXPECT_LE(deepestRow(drawn), kRows - 1) << "the window scrolled:\n" << drawn.toStdString();
        EXPECT_TRUE(drawn.contains(QStringLiteral("… 8 more: "))) << drawn.toStdString();
        QString plain = drawn;
        plain.remove(QRegularExpression(QStringLiteral("\\x1b\\[\\d*[AJ]|\\r")));
        for (const QString& line : plain.split(QLatin1Char('\n')))
            EXPECT_LT(line.size(), kColumns) << "wraps: " << line.toStdString();
    }
}
