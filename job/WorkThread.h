#pragma once
// Runs one programming job per start, away from the GUI thread. Every
// failure inside the job is a bare int code, caught once at the top of run()
// and turned into exactly one outcome signal.

#include <QString>
#include <QThread>
#include <cstdint>
#include <string>

#include "StationConnection.h"

class WorkThread : public QThread {
    Q_OBJECT
public:
    explicit WorkThread(QObject* parent = nullptr);
    ~WorkThread() override;

    void setPortPath(const std::wstring& path) { portPath = path; }
    const std::wstring& getPortPath() const { return portPath; }

    // The channel programming procedure (job/ProgramStation.cpp).
    void programStation();

    // Diagnostics (diag/); call on the thread that owns the open connection.
    void readStatus();
    void readRouteTable();
    void readSnifferBuffer();
    void logSnifferRecord(const QString& time, int src, int dst, int snr, int noise, int len, int type);

    StationConnection& connection() { return connection_; }
    int getRouteCursor() const { return routeCursor; }
    void setRouteCursor(int cursor) { routeCursor = cursor; }
    int getSnifferPtr() const { return snifferPtr; }
    void setSnifferPtr(int ptr) { snifferPtr = ptr; }

signals:
    void onReadStationParam();
    void onReadStatus();
    void onReadRouteTable();
    void onErr(QString err_text, int err);

protected:
    void run() override;

private:
    std::wstring portPath;
    StationConnection connection_;
    std::int32_t routeCursor = 0;
    std::int32_t snifferPtr = -1;
};
