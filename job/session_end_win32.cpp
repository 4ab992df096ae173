// The session's end on Windows: the reason beside a window, and the hidden
// window of a console program, with its own thread and message loop (the
// CLI's main thread waits in its run and pumps no messages).
#include "SessionEnd.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

namespace session_end {

namespace {

constexpr wchar_t kClassName[] = L"rechannel-session-end";
// The Blocked Shutdown Resolver lists a window by its title.
constexpr wchar_t kTitle[] = L"rechannel-cli";
constexpr UINT kUpdateMessage = WM_APP + 1;
constexpr DWORD kHoldPollMs = 20;

std::wstring wide(const char* utf8) {
    const int chars = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    if (chars <= 0) return {};
    std::wstring text(static_cast<std::size_t>(chars), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8, -1, text.data(), chars);
    text.resize(static_cast<std::size_t>(chars - 1));
    return text;
}

HWND hwndOf(std::uintptr_t window) { return reinterpret_cast<HWND>(window); }

}  // namespace

bool showReason(std::uintptr_t window) {
    if (!window) return false;
    static const std::wstring reason = wide(kReason);
    return ShutdownBlockReasonCreate(hwndOf(window), reason.c_str()) != 0;
}

void withdrawReason(std::uintptr_t window) {
    if (window) ShutdownBlockReasonDestroy(hwndOf(window));
}

struct Window::Impl {
    explicit Impl(Hooks h) : hooks(std::move(h)) {}

    Hooks hooks;
    std::thread thread;
    std::atomic<HWND> hwnd{nullptr};
    std::atomic<bool> shown{false};
    HANDLE ready = nullptr;

    bool holds() const { return hooks.holds && hooks.holds(); }

    // On the window's thread.
    void refresh() {
        const HWND window = hwnd.load();
        const bool hold = holds();
        if (hold && !shown.load()) shown.store(showReason(reinterpret_cast<std::uintptr_t>(window)));
        if (!hold && shown.load()) {
            withdrawReason(reinterpret_cast<std::uintptr_t>(window));
            shown.store(false);
        }
    }

    // The writes usually end within the answer's time: the session may
    // then end with the run recorded. Otherwise it is refused, the reason
    // shown.
    LRESULT answerQuery() {
        refresh();
        const ULONGLONG until = GetTickCount64() + static_cast<ULONGLONG>(hooks.answerWithin.count());
        while (holds() && GetTickCount64() < until) Sleep(kHoldPollMs);
        refresh();
        return holds() ? FALSE : TRUE;
    }

    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<Impl*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (!self) return DefWindowProcW(window, message, wParam, lParam);
        switch (message) {
        case WM_QUERYENDSESSION:
            return self->answerQuery();
        case WM_ENDSESSION:
            if (wParam && self->hooks.ending) self->hooks.ending();
            return 0;
        case kUpdateMessage:
            self->refresh();
            return 0;
        case WM_CLOSE:
            DestroyWindow(window);
            return 0;
        case WM_DESTROY:
            if (self->shown.exchange(false)) withdrawReason(reinterpret_cast<std::uintptr_t>(window));
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
        }
    }

    void run() {
        const HINSTANCE instance = GetModuleHandleW(nullptr);
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = procedure;
        windowClass.hInstance = instance;
        windowClass.lpszClassName = kClassName;
        RegisterClassExW(&windowClass);   // fails harmlessly when registered already
        // Top-level and never shown: a message-only window is not asked
        // about the session's end.
        const HWND window = CreateWindowExW(0, kClassName, kTitle, WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                                            instance, nullptr);
        if (window) {
            SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
            hwnd.store(window);
            refresh();
        }
        SetEvent(ready);
        if (!window) return;
        MSG message;
        while (GetMessageW(&message, nullptr, 0, 0) > 0) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        hwnd.store(nullptr);
    }
};

Window::Window(Hooks hooks) : impl_(std::make_unique<Impl>(std::move(hooks))) {}

Window::~Window() {
    if (const HWND window = impl_->hwnd.load()) PostMessageW(window, WM_CLOSE, 0, 0);
    if (impl_->thread.joinable()) impl_->thread.join();
    if (impl_->ready) CloseHandle(impl_->ready);
}

bool Window::open() {
    if (impl_->thread.joinable()) return impl_->hwnd.load() != nullptr;
    impl_->ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!impl_->ready) return false;
    impl_->thread = std::thread([impl = impl_.get()] { impl->run(); });
    WaitForSingleObject(impl_->ready, INFINITE);
    return impl_->hwnd.load() != nullptr;
}

std::uintptr_t Window::handle() const { return reinterpret_cast<std::uintptr_t>(impl_->hwnd.load()); }

void Window::update() {
    if (const HWND window = impl_->hwnd.load()) PostMessageW(window, kUpdateMessage, 0, 0);
}

bool Window::reasonShown() const { return impl_->shown.load(); }

}  // namespace session_end
