#include "Platform.h"

#include <windows.h>

namespace link_platform {

void sleepMs(std::uint32_t ms) { Sleep(ms); }

LocalTime localTime() {
    SYSTEMTIME st;
    GetLocalTime(&st);
    return LocalTime{st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
}

}  // namespace link_platform
