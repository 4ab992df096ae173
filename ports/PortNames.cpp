#include "PortNames.h"

#include <cwctype>

namespace {

// Folded to upper case without the locale: Latin and Cyrillic letters, the
// scripts port names come in (a Russian Windows names its ports in Cyrillic).
wchar_t foldCase(wchar_t c) {
    if (c >= L'a' && c <= L'z') return static_cast<wchar_t>(c - L'a' + L'A');
    if (c >= 0x0430 && c <= 0x044F) return static_cast<wchar_t>(c - 0x20);
    if (c >= 0x0450 && c <= 0x045F) return static_cast<wchar_t>(c - 0x50);
    return c;
}

std::wstring upperCase(std::wstring text) {
    for (wchar_t& c : text) c = foldCase(c);
    return text;
}

bool holds(const std::wstring& text, const std::wstring& part) {
    return upperCase(text).find(upperCase(part)) != std::wstring::npos;
}

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

std::wstring openPath(const PortEntry& entry) {
    const std::wstring com = comDevicePath(entry.portName);
    return com.empty() ? entry.devicePath : com;
}

std::wstring portLabel(const PortEntry& entry) {
    return entry.portName.empty() ? entry.displayName : entry.portName;
}

bool isDevicePath(const std::wstring& text) { return text.find_first_of(L"/\\") != std::wstring::npos; }

std::vector<PortEntry> portsNamed(const PortList& list, const std::wstring& name) {
    std::vector<PortEntry> found;
    if (name.empty()) return found;
    const std::wstring asCom = comDevicePath(name);
    for (const PortEntry& entry : list) {
        const bool named = entry.devicePath == name || entry.displayName == name ||
                           (!entry.portName.empty() && entry.portName == name) ||
                           (!asCom.empty() && comDevicePath(entry.portName) == asCom) ||
                           lastComponent(entry.devicePath) == name;
        if (!named) continue;
        bool seen = false;
        for (const PortEntry& earlier : found) seen = seen || earlier.devicePath == entry.devicePath;
        if (!seen) found.push_back(entry);
    }
    return found;
}

std::wstring shownPortName(const std::wstring& devicePath) {
    static const std::wstring kDeviceNamespace = L"\\\\.\\";
    if (devicePath.compare(0, kDeviceNamespace.size(), kDeviceNamespace) != 0) return devicePath;
    const std::wstring name = devicePath.substr(kDeviceNamespace.size());
    return comDevicePath(name).empty() ? devicePath : comDevicePath(name).substr(kDeviceNamespace.size());
}

ResolvedPort resolvePortName(const PortList* list, const std::wstring& name) {
    ResolvedPort resolved;
    if (list) {
        const std::vector<PortEntry> named = portsNamed(*list, name);
        resolved.matches = named.size();
        if (named.size() == 1) {
            resolved.devicePath = openPath(named.front());
            resolved.label = portLabel(named.front());
        }
        if (!named.empty()) return resolved;
    }
    resolved.devicePath = systemPortPath(name);
    if (!resolved.devicePath.empty()) resolved.label = shownPortName(resolved.devicePath);
    return resolved;
}

bool namesHold(const PortEntry& entry, const std::wstring& match) {
    return match.empty() || holds(entry.displayName, match) || holds(entry.portName, match);
}

bool fleetTakes(const PortEntry& entry, const std::wstring& match) {
    if (match.empty()) return !entry.bluetooth;
    return namesHold(entry, match);
}
