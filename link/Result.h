#pragma once
// Whether an operation did what it was asked and, when it did not, why: one
// line for the person who has to mend it (the path, the system's reason,
// what to do). Every layer reports a failure this one way, never as a bool
// beside an out-parameter, a -1 with errno or a text thrown. The worker
// thread's codes (LinkCodes.h) stay what they are: a run's failure is a
// named code caught once at the top of the run.
//
// The text is the layer's own: QString above the link, std::wstring in port
// discovery and std::string in the Qt-free parts, which build without Qt
// (the Windows cross build of the link and discovery). Hence a template,
// here in the lowest Qt-free layer.
#include <utility>

template <class Text>
class [[nodiscard]] Result {
public:
    Result() = default;   // done
    static Result failed(Text why) {
        Result result;
        result.failed_ = true;
        result.why_ = std::move(why);
        return result;
    }

    explicit operator bool() const { return !failed_; }
    // Empty when done; a failure may leave it empty only where its caller
    // documents what that means (nothing there, nothing to say).
    const Text& why() const { return why_; }

private:
    bool failed_ = false;
    Text why_{};
};

// `return failure(text);` in a function returning Result<Text>.
template <class Text>
Result<Text> failure(Text why) {
    return Result<Text>::failed(std::move(why));
}
