#include "SessionEndGuard.h"

#include <QGuiApplication>
#include <QSessionManager>
#include <QWidget>

#include "SessionEnd.h"

namespace {
// The reason belongs to the window's native handle and is set on its thread.
std::uintptr_t nativeOf(QWidget* window) { return window ? static_cast<std::uintptr_t>(window->winId()) : 0; }
}  // namespace

SessionEndGuard::SessionEndGuard(QWidget* window, std::function<bool()> writing)
    : QObject(nullptr), window_(window), writing_(std::move(writing)) {
    // Direct: the manager waits for the answer inside the signal.
    connect(qGuiApp, &QGuiApplication::commitDataRequest, this,
            [this](QSessionManager& manager) { answer(manager); }, Qt::DirectConnection);
}

SessionEndGuard::~SessionEndGuard() {
    if (shown_) session_end::withdrawReason(nativeOf(window_));
}

QString SessionEndGuard::reason() {
    return QString::fromUtf8(session_end::kReason);
}

void SessionEndGuard::update() {
    const bool writing = writing_();
    if (writing && !shown_) shown_ = session_end::showReason(nativeOf(window_));
    if (!writing && shown_) {
        session_end::withdrawReason(nativeOf(window_));
        shown_ = false;
    }
}

bool SessionEndGuard::answer(QSessionManager& manager) {
    update();
    if (!refuses() || !manager.allowsInteraction()) return false;
    manager.cancel();
    manager.release();
    return true;
}
