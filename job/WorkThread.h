#pragma once
// Runs one programming job per start, away from the GUI thread. Every
// failure inside the job is a bare int code, caught once at the top of run()
// and turned into exactly one outcome signal.

#include <QString>
#include <QStringList>
#include <QThread>
#include <array>
#include <cstdint>
#include <functional>
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

    // Called on the worker thread with the whole 256-byte parameter block as
    // read in this run, just before the first write of a move (for a backup).
    // It may throw an int code to stop the run before anything is written.
    using BeforeFirstWrite = std::function<void(const std::uint8_t* block256)>;
    void setBeforeFirstWrite(BeforeFirstWrite hook) { beforeFirstWrite_ = std::move(hook); }
    // The parameter block (0xC000..0xC0FF) as read by the last run.
    const std::array<std::uint8_t, 256>& deviceParams() const { return deviceParams_; }

    // Read the three written regions back before the restart; a difference
    // ends the run with kCodeVerifyMismatch and no restart.
    void setVerifyWrites(bool verify) { verifyWrites_ = verify; }
    // One line per region that read back differently in the last run.
    const QStringList& verifyMismatches() const { return verifyMismatches_; }

    // The backup written in the last run; empty when none was.
    QString backupPath() const { return backupPath_; }
    enum class VerifyResult { NotRun, Passed, Failed };
    VerifyResult verifyResult() const { return verifyResult_; }

    // Where a run is; the observer is called on the worker thread.
    enum class JobPhase { Opening, Reading, Writing, Verifying, Restarting, Done };
    void setPhaseObserver(std::function<void(JobPhase)> observer) { phaseObserver_ = std::move(observer); }

    // Receives every CSV line the sniffer read produces (the CLI prints them).
    void setSnifferLineSink(std::function<void(const QString&)> sink) { snifferLineSink_ = std::move(sink); }

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
    std::array<std::uint8_t, 256> deviceParams_{};
    BeforeFirstWrite beforeFirstWrite_;
    bool verifyWrites_ = false;
    QStringList verifyMismatches_;
    std::function<void(const QString&)> snifferLineSink_;
    QString backupPath_;
    VerifyResult verifyResult_ = VerifyResult::NotRun;
    std::function<void(JobPhase)> phaseObserver_;

    void reportPhase(JobPhase phase) {
        if (phaseObserver_) phaseObserver_(phase);
    }

    void keepBackup();
    void verifyWrittenRegions(const std::uint8_t* table, const std::uint8_t* block, std::uint8_t systemCode);
};
