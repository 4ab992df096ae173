// One programming run through the command line, natively and through the
// Windows rechannel-cli.exe under Wine, each against a fresh simulated
// station that answers at the real line's pace (57600 baud, 10 bits a
// byte). The two alternate, so both see the same load on the machine.
//
// The floor is the one of a whole programming run: the wire time of every
// frame the station saw (read-back included) plus the 2000 ms settle before
// the restart. Two times are set against it:
//  - the whole process, from its start to its exit (Wine's start-up and the
//    loading of the Qt DLLs included);
//  - the line, from the first request byte reaching the station to the
//    restart (what the transport and the job cost once the program runs).
// CPU time is user + system: the process itself (with any child it waited
// for), and under Wine also the Wine server and the prefix's resident Wine
// processes (services, device and desktop hosts), taken as the growth of
// their on-CPU time over the run.
//
// The Wine prefix is made and its server kept running by the caller
// (bench/windows/run-wine-bench); the station's pty is linked as COM5.
//
//   bench_wine CLI EXE PREFIX [runs]    (WINE: the wine64 loader; default 5 runs)

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "PtyStationHost.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
constexpr int kBaud = 57600;
constexpr double kByteMs = 10.0 * 1000.0 / kBaud;
constexpr double kSettleMs = 2000.0;
constexpr int kProcessTimeoutS = 120;

struct Run {
    bool moved = false;
    int status = -1;
    double processMs = 0, lineMs = 0, floorMs = 0;
    double startupMs = 0, exitMs = 0;   // start to first request byte; restart to exit
    double cpuMs = 0;         // the process and what it waited for
    double serverCpuMs = 0;   // the Wine server
    double residentCpuMs = 0; // the prefix's other Wine processes
    std::map<std::string, double> residentByName;   // the server included
};

double ms(const timeval& t) { return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_usec) / 1000.0; }

// Nanoseconds on a CPU of every live thread of `pid`; 0 when it is gone.
long long onCpuNs(const fs::path& proc) {
    long long total = 0;
    std::error_code ec;
    for (const auto& task : fs::directory_iterator(proc / "task", ec)) {
        std::ifstream in(task.path() / "schedstat");
        long long ns = 0;
        if (in >> ns) total += ns;
    }
    return total;
}

struct WineProcess {
    std::string name;
    long long ns = 0;
};

// The processes that run in `prefix` (by their WINEPREFIX), by pid, with
// their names and on-CPU time.
std::map<std::string, WineProcess> wineProcesses(const std::string& prefix) {
    std::map<std::string, WineProcess> found;
    const std::string marker = "WINEPREFIX=" + prefix;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc", ec)) {
        const std::string pid = entry.path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream env(entry.path() / "environ", std::ios::binary);
        const std::string vars((std::istreambuf_iterator<char>(env)), std::istreambuf_iterator<char>());
        if (vars.find(marker + '\0') == std::string::npos) continue;
        // Wine's own programs only (the loader, its preloader, the server),
        // not the tools that share the environment, this one included.
        const fs::path exe = fs::read_symlink(entry.path() / "exe", ec);
        if (ec || exe.filename().string().rfind("wine", 0) != 0) continue;
        std::ifstream comm(entry.path() / "comm");
        WineProcess& process = found[pid];
        std::getline(comm, process.name);
        process.ns = onCpuNs(entry.path());
    }
    return found;
}

// Starts `argv` with `env` added, output to `log`; waits for it (bounded).
// Returns its exit status (-1: did not end normally) and its CPU time.
int runProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env, const std::string& log,
               double* cpuMs) {
    std::vector<std::string> envStrings = env;
    for (char** e = environ; *e; ++e) envStrings.emplace_back(*e);
    std::vector<char*> args, envp;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    for (const std::string& e : envStrings) envp.push_back(const_cast<char*>(e.c_str()));
    args.push_back(nullptr);
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = 0;
    const int failed = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (failed) return -1;
    int status = 0;
    rusage usage{};
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(kProcessTimeoutS);
    pid_t done = 0;
    while ((done = wait4(pid, &status, WNOHANG, &usage)) == 0 && Clock::now() < deadline) usleep(1000);
    if (done == 0) {
        kill(pid, SIGKILL);
        wait4(pid, &status, 0, &usage);
        return -1;
    }
    *cpuMs = ms(usage.ru_utime) + ms(usage.ru_stime);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The floor and the line's span from what the station saw, and how long the
// process took before its first request and after the restart.
void measureLine(const sim::PtyStationHost& host, Clock::time_point start, Clock::time_point end, Run* run) {
    const std::vector<sim::WireFrame> frames = host.frames();
    if (frames.empty()) return;
    std::size_t bytes = 0;
    for (const sim::WireFrame& frame : frames) bytes += frame.bytes.size();
    run->floorMs = static_cast<double>(bytes) * kByteMs + kSettleMs;
    // A request is timed at its last byte: its first came that much earlier.
    const auto firstByte = frames.front().time - std::chrono::microseconds(static_cast<long long>(
                                                     static_cast<double>(frames.front().bytes.size()) * kByteMs * 1000));
    const auto msBetween = [](Clock::time_point a, Clock::time_point b) {
        return std::chrono::duration<double, std::milli>(b - a).count();
    };
    run->lineMs = msBetween(firstByte, frames.back().time);
    run->startupMs = msBetween(start, firstByte);
    run->exitMs = msBetween(frames.back().time, end);
}

struct Setup {
    std::string cli, exe, prefix, wine, work;
};

// One run against a fresh station: natively on its pty, or under Wine on COM5.
Run runOnce(const Setup& setup, bool underWine) {
    Run run;
    sim::PtyStationHost host;
    host.setPacing(kBaud);
    if (!host.start()) return run;
    std::vector<std::string> argv, env;
    std::map<std::string, WineProcess> before;
    if (underWine) {
        before = wineProcesses(setup.prefix);
        const fs::path com5 = fs::path(setup.prefix) / "dosdevices" / "com5";
        std::error_code ec;
        fs::remove(com5, ec);
        fs::create_symlink(host.slavePath(), com5, ec);
        if (ec) return run;
        argv = {setup.wine, setup.exe, "program", "--port", "COM5"};
    } else {
        argv = {setup.cli, "program", "--port", host.slavePath()};
        env = {"HOME=" + setup.work + "/home"};
    }
    const Clock::time_point start = Clock::now();
    run.status = runProcess(argv, env, setup.work + (underWine ? "/wine.log" : "/native.log"), &run.cpuMs);
    const Clock::time_point end = Clock::now();
    run.processMs = std::chrono::duration<double, std::milli>(end - start).count();
    // The restart is not answered: the program may end before it is read.
    run.moved = run.status == 0 && host.waitForRestarts(1, std::chrono::seconds(5));
    if (underWine) {
        for (const auto& [pid, process] : wineProcesses(setup.prefix)) {
            const auto was = before.find(pid);
            const long long grewNs = process.ns - (was == before.end() ? 0 : was->second.ns);
            const double grew = static_cast<double>(std::max(0LL, grewNs)) / 1e6;
            // The server runs as wineserver or wineserver64.
            if (process.name.rfind("wineserver", 0) == 0)
                run.serverCpuMs += grew;
            else
                run.residentCpuMs += grew;
            run.residentByName[process.name] += grew;
        }
    }
    measureLine(host, start, end, &run);
    return run;
}

struct Totals {
    int moved = 0;
    double processMs = 0, lineMs = 0, floorMs = 0, cpuMs = 0, serverCpuMs = 0, residentCpuMs = 0;
    double startupMs = 0, exitMs = 0;
    std::map<std::string, double> byName;
    void add(const Run& r) {
        ++moved;
        startupMs += r.startupMs;
        exitMs += r.exitMs;
        for (const auto& [name, ms] : r.residentByName) byName[name] += ms;
        processMs += r.processMs;
        lineMs += r.lineMs;
        floorMs += r.floorMs;
        cpuMs += r.cpuMs;
        serverCpuMs += r.serverCpuMs;
        residentCpuMs += r.residentCpuMs;
    }
};

void printRun(const char* how, int round, const Run& r) {
    if (!r.moved) {
        std::printf("%5d  %-6s  not moved (exit status %d)\n", round, how, r.status);
        return;
    }
    std::printf("%5d  %-6s  %10.1f  %7.1f  %8.1f  %7.4f  %7.4f  %7.1f  %9.1f  %8.1f\n", round, how, r.processMs,
                r.lineMs, r.floorMs, r.processMs / r.floorMs, r.lineMs / r.floorMs, r.cpuMs, r.serverCpuMs,
                r.residentCpuMs);
}

// The summary lines and bench/run-all's table rows of one side.
void printTotals(const char* how, const Totals& t, const char* target) {
    if (t.moved == 0) return;
    const double n = t.moved;
    std::printf("%s, mean of %d: process %.1f ms (start to first request %.1f ms, restart to exit %.1f ms), "
                "line %.1f ms, floor %.1f ms; CPU %.1f ms (process) + %.1f ms (Wine server) + %.1f ms (other Wine "
                "processes) = %.1f ms\n",
                how, t.moved, t.processMs / n, t.startupMs / n, t.exitMs / n, t.lineMs / n, t.floorMs / n,
                t.cpuMs / n, t.serverCpuMs / n, t.residentCpuMs / n, (t.cpuMs + t.serverCpuMs + t.residentCpuMs) / n);
    if (!t.byName.empty()) {
        std::printf("  Wine processes' CPU per run:");
        for (const auto& [name, ms] : t.byName) std::printf(" %s %.1f ms;", name.c_str(), ms / n);
        std::printf("\n");
    }
    std::printf("=\tCLI run, %s, whole process, mean of %d\t%.3f\t%.3f\t%s\n", how, t.moved, t.processMs / n,
                t.floorMs / n, target);
    std::printf("=\tCLI run, %s, on the line, mean of %d\t%.3f\t%.3f\t%s\n", how, t.moved, t.lineMs / n,
                t.floorMs / n, target);
    // The CPU table's row: process, Wine server, other Wine processes, all.
    std::printf("cpu\t%s, mean of %d\t%.1f\t%.1f\t%.1f\t%.1f\n", how, t.moved, t.cpuMs / n, t.serverCpuMs / n,
                t.residentCpuMs / n, (t.cpuMs + t.serverCpuMs + t.residentCpuMs) / n);
}

// Mean wall time of `runs` starts of a program that does nothing on the line.
double meanStartMs(const Setup& setup, const std::vector<std::string>& argv, int runs) {
    double total = 0, cpu = 0;
    for (int i = 0; i < runs; ++i) {
        const Clock::time_point start = Clock::now();
        if (runProcess(argv, {"HOME=" + setup.work + "/home"}, setup.work + "/start.log", &cpu) != 0) return -1;
        total += std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    }
    return total / runs;
}

// What starting a process costs on each side, apart from any station: a bare
// Wine program (Wine's own hostname.exe), and each CLI printing its version.
void printStartUp(const Setup& setup, int runs) {
    std::printf("start-up alone, mean of %d: native rechannel-cli --version %.1f ms; under Wine: hostname.exe %.1f ms, "
                "rechannel-cli.exe --version %.1f ms\n",
                runs, meanStartMs(setup, {setup.cli, "--version"}, runs),
                meanStartMs(setup, {setup.wine, "hostname.exe"}, runs),
                meanStartMs(setup, {setup.wine, setup.exe, "--version"}, runs));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: bench_wine RECHANNEL_CLI RECHANNEL_CLI_EXE WINEPREFIX [runs]\n");
        return 2;
    }
    const char* wine = std::getenv("WINE");
    char work[] = "/tmp/bench-wine-XXXXXX";
    if (!mkdtemp(work)) return 1;
    const Setup setup{argv[1], argv[2], fs::absolute(argv[3]).string(), wine ? wine : "/usr/lib/wine/wine64", work};
    fs::create_directories(setup.work + "/home/QuelvintLog");
    const int runs = argc > 4 ? std::max(1, std::atoi(argv[4])) : 5;

    // Neither side's first start is timed: both find their files in the
    // page cache, and Wine its DLLs mapped once, as on a laptop in use.
    for (bool underWine : {false, true})
        if (const Run warm = runOnce(setup, underWine); !warm.moved)
            std::printf("warm-up %s run did not move its station (exit status %d; see %s)\n",
                        underWine ? "Wine" : "native", warm.status, setup.work.c_str());

    std::printf("round  how     process_ms  line_ms  floor_ms  process  line     cpu_ms  server_ms  other_ms\n");
    Totals native, underWine;
    for (int round = 1; round <= runs; ++round) {
        const Run n = runOnce(setup, false);
        printRun("native", round, n);
        if (n.moved) native.add(n);
        const Run w = runOnce(setup, true);
        printRun("Wine", round, w);
        if (w.moved) underWine.add(w);
    }
    printStartUp(setup, runs);
    printTotals("native", native, "1.03");
    printTotals("under Wine", underWine, "1.05");
    const bool all = native.moved == runs && underWine.moved == runs;
    if (all)
        fs::remove_all(setup.work);
    else
        std::printf("runs not moved: %d native, %d under Wine (logs in %s)\n", runs - native.moved,
                    runs - underWine.moved, setup.work.c_str());
    return all ? 0 : 1;
}
