#pragma once
// The outcome texts the operator sees, exactly as the station service uses them.
#include <QString>

namespace job_messages {
inline QString portNotOpened() { return QString::fromUtf8("Невозможно открыть COM-порт."); }
inline QString noAnswer() { return QString::fromUtf8("Нет ответа от Станции."); }
inline QString unknownError() { return QString::fromUtf8("Неизветная ошибка"); }
inline QString alreadyMoved() { return QString::fromUtf8("Станция уже переведена на нужную частоту!"); }
inline QString foreignSystem() { return QString::fromUtf8("Утилита не предназначена для данной системы!"); }
inline QString moved() { return QString::fromUtf8("Станция переведена на новую частоту!"); }
// The channel table or block 0 read back differently: the system code was not
// written, so the station still runs and reads as before.
inline QString notKept() {
    return QString::fromUtf8(
        "Станция не сохранила новые параметры и осталась в прежней системе. Запрограммируйте её ещё раз.");
}
// The link broke off between the first write and the restart.
inline QString partlyWritten() {
    return QString::fromUtf8("Станция записана не полностью: связь прервалась во время записи. "
                             "Не отключайте её и запрограммируйте ещё раз.");
}
// `folder` is where the backups are kept.
inline QString backupNotSaved(const QString& folder) {
    return QString::fromUtf8("Не удалось сохранить резервную копию параметров станции в %1. Станция не изменена.")
        .arg(folder);
}
// The window was closed before the first write: the run stopped there.
inline QString stopped() { return QString::fromUtf8("Программирование прервано: станция не изменена."); }
// The outcomes whose box shows the code after the text, as "text (code)".
inline bool showsCode(const QString& text) { return text == notKept() || text == partlyWritten(); }

constexpr int kCodePortNotOpened = 1;
constexpr int kCodeAlreadyMoved = 1000;
constexpr int kCodeForeignOrUnknown = 255;
// A write the station acknowledged but did not keep (read-back check).
constexpr int kCodeVerifyMismatch = 8;
// The backup could not be saved and the run may not write without one.
constexpr int kCodeBackupNotSaved = 9;
// The system code was written and acknowledged but its read-back got no
// answer; the station was restarted all the same.
constexpr int kCodeSystemCodeUnconfirmed = 10;
// Everything was written but the restart command could not be sent (the
// port failed during the settle): the station runs its old settings.
constexpr int kCodeRestartNotSent = 11;
// The run was asked to stop before its first write (the window closed).
constexpr int kCodeStopped = 130;
// identifyStation: the frequency plan covers neither the station's range
// code nor its band type.
constexpr int kCodeUnsupported = 7;
}
