#include "SessionEndGuard.h"

// X11 and Wayland session managers take the refusal itself
// (QSessionManager::cancel); they keep no list of reasons.
namespace session_end {
bool showEndBlockReason(QWidget*, const QString&) { return false; }
void withdrawEndBlockReason(QWidget*) {}
}  // namespace session_end
