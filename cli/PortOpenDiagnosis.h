#pragma once
// Why a port could not be opened, in plain words with the fix.
#include <QString>
#include <string>

QString explainPortOpenFailure(const std::wstring& devicePath);
