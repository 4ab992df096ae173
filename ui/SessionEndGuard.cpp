#include "SessionEndGuard.h"

#include <QGuiApplication>
#include <QSessionManager>

SessionEndGuard::SessionEndGuard(QWidget* window, std::function<bool()> writing)
    : QObject(nullptr), window_(window), writing_(std::move(writing)) {
    // Direct: the manager waits for the answer inside the signal.
    connect(qGuiApp, &QGuiApplication::commitDataRequest, this,
            [this](QSessionManager& manager) { answer(manager); }, Qt::DirectConnection);
}

SessionEndGuard::~SessionEndGuard() {
    if (shown_) session_end::withdrawEndBlockReason(window_);
}

QString SessionEndGuard::reason() {
    return QString::fromUtf8("Идёт запись станции. Дождитесь её окончания, иначе станция останется без связи.");
}

void SessionEndGuard::update() {
    const bool writing = writing_();
    if (writing && !shown_) shown_ = session_end::showEndBlockReason(window_, reason());
    if (!writing && shown_) {
        session_end::withdrawEndBlockReason(window_);
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
