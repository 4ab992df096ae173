// Windows: the configuration manager calls back on a thread of its own when
// a COM port's device interface arrives or goes (a USB adapter plugged in or
// pulled); the call is passed on to the watcher's thread. It needs no window,
// so the CLI is told as well as the window. Systems without
// CM_Register_Notification (before Windows 8) get a slow poll instead.
#include <windows.h>
#include <cfgmgr32.h>

#include <QMetaObject>

#include "PortWatcher.h"

namespace {

constexpr int kPollMs = 2000;

// GUID_DEVINTERFACE_COMPORT (ntddser.h).
constexpr GUID kComPortInterface = {0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};

using RegisterFn = CONFIGRET(WINAPI*)(PCM_NOTIFY_FILTER, PVOID, PCM_NOTIFY_CALLBACK, PHCMNOTIFICATION);
using UnregisterFn = CONFIGRET(WINAPI*)(HCMNOTIFICATION);

template <class Fn>
Fn procedure(HMODULE module, const char* name) {
    // GetProcAddress hands every entry point out as one type.
    return module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

}  // namespace

struct PortWatcher::Platform {
    HMODULE cfgmgr = nullptr;
    UnregisterFn unregister = nullptr;
    HCMNOTIFICATION handle = nullptr;
    QTimer poll;

    ~Platform() {
        // Waits for a callback that is running: none comes after this.
        if (handle && unregister) unregister(handle);
        if (cfgmgr) FreeLibrary(cfgmgr);
    }

    static DWORD CALLBACK notified(HCMNOTIFICATION, PVOID context, CM_NOTIFY_ACTION action, PCM_NOTIFY_EVENT_DATA,
                                   DWORD) {
        if (action == CM_NOTIFY_ACTION_DEVICEINTERFACEARRIVAL || action == CM_NOTIFY_ACTION_DEVICEINTERFACEREMOVAL) {
            auto* watcher = static_cast<PortWatcher*>(context);
            QMetaObject::invokeMethod(watcher, [watcher] { watcher->noteEvent(); }, Qt::QueuedConnection);
        }
        return ERROR_SUCCESS;
    }

    // False when the system has no such notifications.
    bool subscribe(PortWatcher* watcher) {
        // From System32 only: the default search would look in the program's
        // folder first, which a per-user install leaves writable by the user.
        cfgmgr = LoadLibraryExW(L"cfgmgr32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        const auto registerFn = procedure<RegisterFn>(cfgmgr, "CM_Register_Notification");
        unregister = procedure<UnregisterFn>(cfgmgr, "CM_Unregister_Notification");
        if (!registerFn || !unregister) return false;
        CM_NOTIFY_FILTER filter{};
        filter.cbSize = sizeof filter;
        filter.FilterType = CM_NOTIFY_FILTER_TYPE_DEVICEINTERFACE;
        filter.u.DeviceInterface.ClassGuid = kComPortInterface;
        if (registerFn(&filter, watcher, &Platform::notified, &handle) == CR_SUCCESS) return true;
        handle = nullptr;
        return false;
    }
};

PortWatcher::PortWatcher(QObject* parent) : QObject(parent), platform_(std::make_unique<Platform>()) {
    setUpCoalescing();
}

PortWatcher::~PortWatcher() = default;

void PortWatcher::start() {
    if (started_) return;
    started_ = true;
    if (platform_->subscribe(this)) return;
    connect(&platform_->poll, &QTimer::timeout, this, &PortWatcher::changed);
    platform_->poll.start(kPollMs);
}
