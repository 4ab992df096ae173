#include "SessionEndGuard.h"

#include <QWidget>
#include <windows.h>

// Windows asks every top-level window before the session ends and, for one
// that registered a reason, shows it and lets the user wait. The reason
// belongs to the window's native handle and is set on its thread.
namespace session_end {

bool showEndBlockReason(QWidget* window, const QString& reason) {
    if (!window) return false;
    const HWND handle = reinterpret_cast<HWND>(window->winId());
    return ShutdownBlockReasonCreate(handle, reinterpret_cast<LPCWSTR>(reason.utf16())) != 0;
}

void withdrawEndBlockReason(QWidget* window) {
    if (window) ShutdownBlockReasonDestroy(reinterpret_cast<HWND>(window->winId()));
}

}  // namespace session_end
