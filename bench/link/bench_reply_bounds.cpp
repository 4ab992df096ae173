// The two time bounds of reading one reply, measured on a bare pty whose far
// end this program plays:
//  - the inter-byte gap: a sender pauses 5, 7 and 10 ms between two bytes;
//    a read must end with the first byte about 2 ms after it, not wait for
//    the second (a 20 ms gap would take both);
//  - the reply body's overall bound (2000 ms + 100 ms a byte): a body
//    trickling in one byte at a time just inside it is accepted, one still
//    two bytes short when it has passed is refused.
//
//   bench_reply_bounds [runs]      (default 20 gap runs per pause, 2 body runs per case)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include <termios.h>

#include "RLComPort.h"
#include "RawPty.h"
#include "SerialPort.h"

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

void printTableRow(const char* figure, double valueMs, double floorMs, const char* target) {
    std::printf("=\t%s\t%.3f\t%.3f\t%s\n", figure, valueMs, floorMs, target);
}

// The far end: sends each piece after its pause (measured from the start),
// and notes when the first one went out.
class Sender {
public:
    Sender(RawPty& pty, std::vector<std::pair<int, Bytes>> pieces) {
        thread_ = std::thread([this, &pty, pieces = std::move(pieces)] {
            // Let the reader block in its read first.
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            const auto start = Clock::now();
            first_ = start;
            for (const auto& [atMs, bytes] : pieces) {
                std::this_thread::sleep_until(start + std::chrono::milliseconds(atMs));
                pty.send(bytes);
            }
        });
    }
    // Joins; the time the first piece was sent.
    Clock::time_point finish() {
        thread_.join();
        return first_;
    }

private:
    std::thread thread_;
    Clock::time_point first_;
};

bool gapRuns(RawPty& pty, SerialPort& port, int pauseMs, int runs, std::vector<double>& returnedAfter, int& tookBoth) {
    for (int i = 0; i < runs; ++i) {
        Sender sender(pty, {{0, {0x11}}, {pauseMs, {0x22}}});
        std::uint8_t buf[2] = {};
        const int got = port.read(buf, 2);
        const auto returned = Clock::now();
        const auto first = sender.finish();
        if (got < 1) {
            std::fprintf(stderr, "no byte read (pause %d ms)\n", pauseMs);
            return false;
        }
        if (got == 2) ++tookBoth;
        else if (port.read(buf + 1, 1) != 1) {   // the second byte, before the next run
            std::fprintf(stderr, "second byte lost (pause %d ms)\n", pauseMs);
            return false;
        }
        returnedAfter.push_back(ms(returned - first));
    }
    return true;
}

// A reply AD LEN 00 <data> CRC whose header comes at once and whose body
// bytes follow one at a time, `pauseMs` apart. Returns the time from the
// header to receiveReply's end; `accepted` tells whether it returned the data.
double trickledBody(RawPty& pty, RLComPort& link, int dataBytes, int pauseMs, bool& accepted) {
    Bytes data(static_cast<std::size_t>(dataBytes));
    for (int i = 0; i < dataBytes; ++i) data[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(0x30 + i);
    const Bytes frame = replyFrame(0, data);
    std::vector<std::pair<int, Bytes>> pieces{{0, Bytes(frame.begin(), frame.begin() + 3)}};
    for (std::size_t i = 3; i < frame.size(); ++i)
        pieces.push_back({static_cast<int>(i - 2) * pauseMs, Bytes{frame[i]}});
    Sender sender(pty, pieces);
    std::uint8_t dest[255];
    accepted = false;
    try {
        accepted = link.receiveReply(dest, 255) == dataBytes;
    } catch (int) {
    }
    const auto ended = Clock::now();
    const auto first = sender.finish();
    ::tcflush(pty.slaveFd(), TCIFLUSH);   // a refused body leaves its last byte behind
    return ms(ended - first);
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    RawPty pty;
    SerialPort port;
    if (!pty.ok() || !port.open(pty.slavePathW(), 57600)) {
        std::fprintf(stderr, "cannot open a pseudo-terminal\n");
        return 1;
    }
    port.setReadTimeout(1000);

    bool ok = true;
    for (int pause : {5, 7, 10}) {
        std::vector<double> after;
        int both = 0;
        ok = gapRuns(pty, port, pause, runs, after, both) && ok;
        std::sort(after.begin(), after.end());
        if (after.empty()) continue;
        std::printf("sender pausing %2d ms: read ended %.3f ms after the first byte (median; min %.3f, max %.3f), "
                    "%d of %d reads waited for the second byte\n",
                    pause, median(after), after.front(), after.back(), both, runs);
        char figure[64];
        std::snprintf(figure, sizeof figure, "read ends after a byte, sender pausing %d ms", pause);
        printTableRow(figure, median(after), 2.0, "< pause");
        if (both > 0) ok = false;
    }

    RLComPort link;
    link.setPort(&port);
    // Five data bytes: a body of 7 (data and CRC), bound 2000 + 700 = 2700 ms.
    constexpr int kData = 5;
    constexpr double kBoundMs = 2000 + 100 * (kData + 2);
    const int bodyRuns = std::max(1, runs / 10);
    const struct {
        int pauseMs;
        bool expectAccepted;
        const char* figure;
    } cases[] = {
        {380, true, "body trickling in just inside its bound"},   // last byte at 2660 ms
        {500, false, "body past its bound, refused at"},          // 2500 ms: two bytes short; 3000 ms: refused
    };
    for (const auto& c : cases) {
        std::vector<double> times;
        for (int i = 0; i < bodyRuns; ++i) {
            bool accepted = false;
            times.push_back(trickledBody(pty, link, kData, c.pauseMs, accepted));
            if (accepted != c.expectAccepted) {
                std::fprintf(stderr, "%s: %s\n", c.figure, accepted ? "accepted" : "refused");
                ok = false;
            }
        }
        std::printf("%s (a byte every %d ms): %.3f ms (median of %d), bound %.0f ms\n", c.figure, c.pauseMs,
                    median(times), bodyRuns, kBoundMs);
        printTableRow(c.figure, median(times), kBoundMs, c.expectAccepted ? "accepted" : "refused");
    }
    return ok ? 0 : 1;
}
