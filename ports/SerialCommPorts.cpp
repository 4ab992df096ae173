#include "SerialCommPorts.h"

#include <algorithm>
#include <cstdint>

namespace {

// Longer than any port name a driver gives; a longer value is no port name.
constexpr std::size_t kMaxPortNameChars = 64;

wchar_t upper(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

std::wstring upperCase(std::wstring text) {
    std::transform(text.begin(), text.end(), text.begin(), upper);
    return text;
}

bool isPortName(const std::wstring& name) {
    if (name.empty() || name.size() > kMaxPortNameChars) return false;
    return std::all_of(name.begin(), name.end(), [](wchar_t c) {
        const wchar_t u = upper(c);
        return (u >= L'A' && u <= L'Z') || (c >= L'0' && c <= L'9') || c == L'-' || c == L'_';
    });
}

// COM<n> sorts by n before every other name; -1 for the others.
std::int64_t comNumber(const std::wstring& upperName) {
    if (upperName.size() < 4 || upperName.size() > 12 || upperName.compare(0, 3, L"COM") != 0) return -1;
    std::int64_t n = 0;
    for (std::size_t i = 3; i < upperName.size(); ++i) {
        if (upperName[i] < L'0' || upperName[i] > L'9') return -1;
        n = n * 10 + (upperName[i] - L'0');
    }
    return n;
}

struct Candidate {
    RegisteredPort port;
    std::wstring key;       // the port name in upper case
    std::int64_t number;    // COM<n>'s n, or -1
};

}  // namespace

std::vector<RegisteredPort> serialCommOnly(const std::vector<RegisteredPort>& registered,
                                           const std::vector<std::wstring>& listed) {
    std::vector<std::wstring> taken;
    for (const std::wstring& name : listed) taken.push_back(upperCase(name));

    std::vector<Candidate> chosen;
    for (const RegisteredPort& port : registered) {
        if (!isPortName(port.portName)) continue;
        std::wstring key = upperCase(port.portName);
        if (std::find(taken.begin(), taken.end(), key) != taken.end()) continue;
        taken.push_back(key);
        const std::int64_t number = comNumber(key);
        chosen.push_back(Candidate{port, std::move(key), number});
    }
    std::stable_sort(chosen.begin(), chosen.end(), [](const Candidate& a, const Candidate& b) {
        if ((a.number < 0) != (b.number < 0)) return a.number >= 0;
        if (a.number != b.number) return a.number < b.number;
        return a.key < b.key;
    });

    std::vector<RegisteredPort> out;
    for (Candidate& c : chosen) out.push_back(std::move(c.port));
    return out;
}
