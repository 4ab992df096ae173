#pragma once
// Runs Windows programs under Wine in a private prefix, headless, with COM
// ports mapped to ttys: the native half of the Win32 transport check.

#include <chrono>
#include <string>
#include <vector>

namespace win32_check {

struct RunResult {
    int exitCode = -1;     // -1: could not start, killed, or ran past its limit
    std::string output;    // standard output and error together
};

class WineRunner {
public:
    explicit WineRunner(const std::string& prefix);
    ~WineRunner();
    WineRunner(const WineRunner&) = delete;
    WineRunner& operator=(const WineRunner&) = delete;

    // Finds Wine, creates the prefix when it is missing and starts a server
    // that stays up between programs (Wine's first start in a prefix takes
    // seconds, later ones a fraction). On failure says why in *error.
    bool start(std::string* error);

    // \\.\COM<number> becomes the tty at `ttyPath`.
    bool mapPort(int number, const std::string& ttyPath, std::string* error) const;

    // Runs a Windows program to its end, or kills it after `limit`.
    RunResult run(const std::vector<std::string>& arguments, std::chrono::seconds limit) const;

    // Seconds the prefix took to create; 0 when it was there already.
    double prefixCreationSeconds() const { return prefixSeconds_; }

private:
    RunResult spawn(const std::vector<std::string>& argv, std::chrono::seconds limit) const;

    std::string prefix_;
    std::string loader_;
    std::string server_;
    bool serverStarted_ = false;
    double prefixSeconds_ = 0;
};

}  // namespace win32_check
