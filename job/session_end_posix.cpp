// X11 and Wayland session managers end a console program with a signal
// (SIGHUP, SIGTERM), which the stop requests handle; the window asks its
// session manager through Qt. No hidden window, no list of reasons.
#include "SessionEnd.h"

namespace session_end {

bool showReason(std::uintptr_t) { return false; }
void withdrawReason(std::uintptr_t) {}

struct Window::Impl {};

Window::Window(Hooks) {}
Window::~Window() = default;
bool Window::open() { return false; }
std::uintptr_t Window::handle() const { return 0; }
void Window::update() {}
bool Window::reasonShown() const { return false; }

}  // namespace session_end
