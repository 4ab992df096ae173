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
}
