#pragma once
// Runs one programming job per start, away from the GUI thread. Every
// failure inside the job is a bare int code, caught once at the top of run()
// and turned into exactly one outcome signal.

#include <QString>
#include <QStringList>
#include <QThread>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "ChangeWrites.h"
#include "RunResult.h"
#include "StationConnection.h"
#include "StationMemory.h"

// What a run does about the copy of the parameter block kept before its
// first write: try and go on without one (the window), refuse to write
// without one, or keep none.
enum class BackupPolicy { BestEffort, Required, Off };

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
    const std::array<std::uint8_t, kParamBlockSize>& deviceParams() const { return deviceParams_; }

    // Read the channel table and block 0 back before the system code is
    // written, and the system code before the restart; a difference ends the
    // run with kCodeVerifyMismatch, nothing more written and no restart.
    void setVerifyWrites(bool verify) { verifyWrites_ = verify; }
    // One line per byte that read back differently in the last run.
    const QStringList& verifyMismatches() const { return writes_.mismatches; }
    VerifyResult verifyResult() const { return writes_.verify; }

    // How the last run ended, as its outcome signal said it; set on the
    // worker thread just before that signal.
    const RunResult& result() const { return result_; }

    // The last run failed between its first write and the restart: the
    // station holds part of the move and needs a run that completes it.
    bool partlyWritten() const { return writes_.partlyWritten; }
    // The system-code write of the last run got no acknowledgement, yet 0xC004
    // read back 0x3A: the write took and the station was restarted.
    bool systemCodeAckLost() const { return writes_.systemCodeAckLost; }
    // Why the frequency plan does not cover the station of the last run (its
    // range code or its band type); empty unless the run ended with link_codes::kBandMismatch.
    QString unsupportedReason() const { return unsupportedReason_; }

    // Asks a run to stop before its first write (called on any thread). True
    // when nothing has been or will be written: the run ends with
    // kCodeStopped at its next exchange. False once the writes have begun:
    // the run then goes on to its end.
    bool requestStopBeforeWrites();
    // From the first write of a run to its end (any thread).
    bool writing() const { return writeGate_.load() == kGateWriting; }
    // Forgets a stop request; call before starting a run.
    void clearStopRequest() { writeGate_.store(kGateOpen); }

    // Read the station's place in the mesh (the status read's five RAM
    // reads) before the first write, and on runs that write nothing to a
    // station identified (already moved, another system, unsupported), for
    // the run's ledger line. Off by default: the window keeps its exact
    // sequence of requests.
    void setReadPlace(bool read) { readPlace_ = read; }
    // The place read in the last run; empty when it was not asked for or its
    // read failed (which costs the run nothing).
    const std::optional<StationPlace>& place() const { return place_; }

    void setBackupPolicy(BackupPolicy policy) { backupPolicy_ = policy; }
    // The backup written in the last run, empty when none was kept; and why
    // it could not be kept.
    QString backupPath() const { return backupPath_; }
    QString backupError() const { return backupError_; }
    // Why the backup of the last run could not also be kept as the station's
    // original (the run went on); empty when it was kept or was none.
    QString originalError() const { return originalError_; }

    // The station's address from the block head of the last run; -1 when the
    // run did not get that far.
    // Atomic: an interrupt's ledger line reads it while the run goes on.
    int stationAddress() const { return stationAddress_.load(); }
    // Called on the worker thread with the address each time the block head
    // has been read (a fleet runner shows it before the run ends).
    void setAddressObserver(std::function<void(int)> observer) { addressObserver_ = std::move(observer); }
    const std::function<void(int)>& addressObserver() const { return addressObserver_; }

    // Called on the worker thread as the run enters each phase. It may throw
    // an int code to end the run (nothing more is sent after it).
    void setPhaseObserver(std::function<void(JobPhase)> observer) { phaseObserver_ = std::move(observer); }
    const std::function<void(JobPhase)>& phaseObserver() const { return phaseObserver_; }

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
    // A pointer set from outside forgets which ring slots the last read saw.
    void setSnifferPtr(int ptr) {
        snifferPtr = ptr;
        snifferSlots_.fill(-1);
    }

signals:
    void onReadStationParam();
    void onReadStatus();
    void onReadRouteTable();
    void onErr(QString err_text, int err);
    // The run's write phase began (true: its first write is next) or is over
    // (false, once the run has ended after writing).
    void writePhaseChanged(bool writing);

protected:
    void run() override;

private:
    std::wstring portPath;
    StationConnection connection_;
    std::int32_t routeCursor = 0;
    std::int32_t snifferPtr = -1;
    std::array<int, 4> snifferSlots_{-1, -1, -1, -1};   // ring numbers at the last read; -1 unknown
    std::array<std::uint8_t, kParamBlockSize> deviceParams_{};
    BeforeFirstWrite beforeFirstWrite_;
    bool verifyWrites_ = false;
    bool readPlace_ = false;
    std::optional<StationPlace> place_;   // of the last run
    ChangeWritesResult writes_;   // of the last run
    RunResult result_;            // of the last run
    BackupPolicy backupPolicy_ = BackupPolicy::BestEffort;
    QString backupPath_;
    QString backupError_;
    QString originalError_;
    QString unsupportedReason_;
    static constexpr int kGateOpen = 0;
    static constexpr int kGateWriting = 1;
    static constexpr int kGateStopped = 2;
    std::atomic<int> writeGate_{kGateOpen};
    std::atomic<int> stationAddress_{-1};
    std::function<void(JobPhase)> phaseObserver_;
    std::function<void(int)> addressObserver_;
    std::function<void(const QString&)> snifferLineSink_;

    void enterPhase(JobPhase phase);
    // Throws kCodeStopped when a stop was asked before the writes began.
    void stopIfAsked() const;
    void beginWrites();
    int identify();
    void resetRunResults();
    // Records how the run ended and emits its one outcome signal; an empty
    // `text` is the outcome's own.
    void endRun(RunOutcome outcome, int code, const QString& text = QString());
    void readHead(std::uint8_t* head);
    void notePlace();
    void readStation();
    void keepBackup();
    void moveStation(const std::uint8_t* table, const std::uint8_t* block);
};
