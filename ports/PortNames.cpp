#include "PortNames.h"

#include <cwctype>

namespace {

std::wstring lastComponent(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L"/\\");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::wstring comDevicePath(const std::wstring& name) {
    if (name.size() < 4 || name.size() > 6) return {};
    std::wstring port = L"COM";
    for (std::size_t i = 0; i < 3; ++i)
        if (static_cast<wchar_t>(std::towupper(static_cast<wint_t>(name[i]))) != port[i]) return {};
    int number = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (name[i] < L'0' || name[i] > L'9' || (i == 3 && name[i] == L'0')) return {};
        number = number * 10 + (name[i] - L'0');
    }
    if (number > 256) return {};
    return L"\\\\.\\" + port + name.substr(3);
}

bool isDevicePath(const std::wstring& text) { return text.find_first_of(L"/\\") != std::wstring::npos; }

std::vector<PortEntry> portsNamed(const PortList& list, const std::wstring& name) {
    std::vector<PortEntry> found;
    if (name.empty()) return found;
    for (const PortEntry& entry : list) {
        const bool named = entry.devicePath == name || entry.displayName == name ||
                           (!entry.portName.empty() && entry.portName == name) ||
                           lastComponent(entry.devicePath) == name;
        if (!named) continue;
        bool seen = false;
        for (const PortEntry& earlier : found) seen = seen || earlier.devicePath == entry.devicePath;
        if (!seen) found.push_back(entry);
    }
    return found;
}
