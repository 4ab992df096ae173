#include "PortNames.h"

namespace {

std::wstring lastComponent(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L"/\\");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

}  // namespace

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
