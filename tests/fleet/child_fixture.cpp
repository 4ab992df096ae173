// Stands in for rechannel-cli as a fleet starts it: with the launcher's
// argument it serves forked runs, otherwise it is one run. What a run does
// is its first argument:
//   report CODE  says on standard error its parent's pid, its working folder
//                and FIXTURE_WORD, a line to standard output, a last line
//                without its end, and exits with CODE
//   echo         says its parent's pid, then the first line of its standard
//                input, and exits 0 (1 without a line)
//   hold         says its parent's pid and waits until it is killed
//   env          says its parent's pid, then each variable of its
//                environment on a line of its own, and exits 0
//   parent       starts a forked run of `hold` through its own launcher,
//                prints the run's pid on standard output, then deletes the
//                run and ends, as a window closed under a run would
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcessEnvironment>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

extern char** environ;

#include "ChildProcess.h"

namespace {

int parent(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList environment = QProcessEnvironment::systemEnvironment().toStringList();
    auto run = ChildProcess::make({QCoreApplication::applicationFilePath(), {QStringLiteral("hold")}, {}, environment, true});
    QByteArray said;
    QObject::connect(run.get(), &ChildProcess::errorOutput, [&said](const QByteArray& bytes) { said += bytes; });
    run->start();
    QElapsedTimer waited;
    waited.start();
    const auto started = [&] { return said.contains('\n') && run->pid() > 0; };
    while (!started() && waited.elapsed() < 10000) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    if (!started()) return 1;
    std::printf("%lld\n", static_cast<long long>(run->pid()));
    std::fflush(stdout);
    run.reset();
    return 0;
}

int act(int argc, char** argv) {
    if (argc < 2) return 2;
    std::fprintf(stderr, "parent %d\n", static_cast<int>(::getppid()));
    std::fflush(stderr);
    if (std::strcmp(argv[1], "report") == 0 && argc > 2) {
        char folder[4096] = {};
        const char* word = std::getenv("FIXTURE_WORD");
        std::fprintf(stderr, "folder %s\nword %s\nno line end", ::getcwd(folder, sizeof folder) ? folder : "?",
                     word ? word : "-");
        std::printf("traced\n");
        return std::atoi(argv[2]);
    }
    if (std::strcmp(argv[1], "env") == 0) {
        for (char** variable = environ; *variable; ++variable) std::fprintf(stderr, "%s\n", *variable);
        return 0;
    }
    if (std::strcmp(argv[1], "hold") == 0) {
        for (;;) ::pause();
    }
    if (std::strcmp(argv[1], "echo") == 0) {
        char line[256];
        if (!std::fgets(line, sizeof line, stdin)) return 1;
        std::fprintf(stderr, "got %s", line);
        return 0;
    }
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], kServeForkedRunsArgument) == 0) return serveForkedRuns(act);
    if (argc == 2 && std::strcmp(argv[1], "parent") == 0) return parent(argc, argv);
    return act(argc, argv);
}
