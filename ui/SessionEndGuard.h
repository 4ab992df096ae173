#pragma once
// Keeps the desktop session from ending (an update's restart, a log-off)
// while the window writes a station: a station left between its first write
// and its restart is off the air until someone re-runs it. The session
// manager's request is refused where it lets us (QSessionManager::cancel);
// on Windows the window also names the reason, which the system shows in its
// "apps are preventing shut-down" screen (and which holds where a refusal
// alone is overridden). Once the write phase is over the session may end.
#include <QObject>
#include <QString>
#include <functional>

class QSessionManager;
class QWidget;

class SessionEndGuard : public QObject {
    Q_OBJECT
public:
    // `writing` tells, on any thread, whether a run is between its first
    // write and its end. `window` carries the reason (its native handle).
    SessionEndGuard(QWidget* window, std::function<bool()> writing);
    ~SessionEndGuard() override;

    // The text the system shows.
    static QString reason();
    // Whether an end of the session is refused now.
    bool refuses() const { return writing_(); }
    // Shows or withdraws the reason as the write phase begins or ends; call
    // on the window's thread whenever the run changes phase.
    void update();
    bool reasonShown() const { return shown_; }

    // The answer to the session manager: refused (true) while writing and
    // the manager lets us interact; otherwise the session goes on to end.
    bool answer(QSessionManager& manager);

private:
    QWidget* window_;
    std::function<bool()> writing_;
    bool shown_ = false;
};
