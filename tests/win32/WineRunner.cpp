#include "WineRunner.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace win32_check {

namespace {

using Clock = std::chrono::steady_clock;

bool isExecutable(const std::string& path) { return !path.empty() && access(path.c_str(), X_OK) == 0; }

std::string onPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "");
    std::string dir;
    while (std::getline(dirs, dir, ':'))
        if (isExecutable(dir + "/" + name)) return dir + "/" + name;
    return {};
}

// Debian's wine64 package puts the 64-bit loader beside its server, outside
// PATH; the `wine` wrapper package adds commands on PATH.
std::string findLoader() {
    if (const char* wine = std::getenv("WINE")) return isExecutable(wine) ? wine : "";
    for (const std::string& candidate : {std::string("/usr/lib/wine/wine64"), onPath("wine64"), onPath("wine")})
        if (isExecutable(candidate)) return candidate;
    return {};
}

std::string findServer(const std::string& loader) {
    if (const char* server = std::getenv("WINESERVER")) return isExecutable(server) ? server : "";
    const std::string dir = loader.substr(0, loader.find_last_of('/') + 1);
    for (const std::string& candidate : {dir + "wineserver64", dir + "wineserver", onPath("wineserver")})
        if (isExecutable(candidate)) return candidate;
    return {};
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

// Wine takes only an absolute prefix.
WineRunner::WineRunner(const std::string& prefix) : prefix_(std::filesystem::absolute(prefix).lexically_normal().string()) {}

WineRunner::~WineRunner() {
    // Our prefix's server only; it would otherwise stay up for good.
    if (serverStarted_) spawn({server_, "-k"}, std::chrono::seconds(30));
}

bool WineRunner::start(std::string* error) {
    loader_ = findLoader();
    if (loader_.empty()) {
        *error = "Wine is not installed (looked for $WINE, /usr/lib/wine/wine64, wine64 and wine on PATH); "
                 "install it with: scripts/install-deps cross";
        return false;
    }
    server_ = findServer(loader_);
    if (server_.empty()) {
        *error = "the Wine server was not found beside " + loader_ + "; install wine64 (scripts/install-deps cross)";
        return false;
    }
    // Headless and quiet, in a prefix of our own; no Mono or Gecko installers.
    setenv("WINEPREFIX", prefix_.c_str(), 1);
    setenv("WINEDEBUG", "-all", 1);
    setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");

    struct stat st {};
    if (stat((prefix_ + "/system.reg").c_str(), &st) != 0) {
        const auto begin = Clock::now();
        RunResult boot = spawn({loader_, "wineboot", "-i"}, std::chrono::seconds(300));
        // The registry reaches the prefix when the server ends.
        if (boot.exitCode == 0) boot = spawn({server_, "-w"}, std::chrono::seconds(120));
        prefixSeconds_ = std::chrono::duration<double>(Clock::now() - begin).count();
        if (boot.exitCode != 0 || stat((prefix_ + "/system.reg").c_str(), &st) != 0) {
            *error = "Wine could not create its prefix in " + prefix_ + ":\n" + boot.output;
            return false;
        }
    }
    // A server left over from an interrupted run of ours would refuse a second.
    spawn({server_, "-k"}, std::chrono::seconds(30));
    const RunResult server = spawn({server_, "-p"}, std::chrono::seconds(60));
    if (server.exitCode != 0) {
        *error = "the Wine server did not start:\n" + server.output;
        return false;
    }
    serverStarted_ = true;
    // Windows without a display: Wine's null graphics driver. Without it no
    // window can be made headless, and the session-end window is one.
    const RunResult drivers = run({"reg", "add", "HKCU\\Software\\Wine\\Drivers", "/v", "Graphics", "/d", "null", "/f"},
                                  std::chrono::seconds(60));
    if (drivers.exitCode != 0) {
        *error = "Wine's null graphics driver could not be chosen:\n" + drivers.output;
        return false;
    }
    return true;
}

bool WineRunner::mapPort(int number, const std::string& ttyPath, std::string* error) const {
    const std::string link = prefix_ + "/dosdevices/com" + std::to_string(number);
    if (unlink(link.c_str()) != 0 && errno != ENOENT) {
        *error = "cannot replace " + link;
        return false;
    }
    if (symlink(ttyPath.c_str(), link.c_str()) != 0) {
        *error = "cannot link " + link + " to " + ttyPath;
        return false;
    }
    return true;
}

RunResult WineRunner::run(const std::vector<std::string>& arguments, std::chrono::seconds limit) const {
    std::vector<std::string> argv{loader_};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return spawn(argv, limit);
}

RunResult WineRunner::spawn(const std::vector<std::string>& argv, std::chrono::seconds limit) const {
    RunResult result;
    // A file, not a pipe: the Wine server that a program may start keeps its
    // descriptors, and a pipe would then never reach its end.
    char outputPath[] = "/tmp/rechannel-wine-XXXXXX";
    const int out = mkstemp(outputPath);
    if (out < 0) {
        result.output = "cannot create a file for the program's output";
        return result;
    }
    close(out);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outputPath, O_WRONLY | O_TRUNC, 0);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        result.output = "cannot start " + argv[0];
        unlink(outputPath);
        return result;
    }

    const auto giveUp = Clock::now() + limit;
    int status = 0;
    pid_t done = 0;
    while ((done = waitpid(pid, &status, WNOHANG)) == 0 && Clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (done == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        result.output = readFile(outputPath) + "\n[killed after " + std::to_string(limit.count()) + " s]";
    } else {
        result.output = readFile(outputPath);
        if (done == pid && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    }
    unlink(outputPath);
    return result;
}

}  // namespace win32_check
