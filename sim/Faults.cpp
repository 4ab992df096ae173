#include "Faults.h"

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace sim {

Fault FaultScript::faultFor(int exchange) const {
    // A station without power answers nothing, whatever else was planned.
    if (powerLostFrom_ && exchange >= *powerLostFrom_) return Fault::noReply();
    auto it = single_.find(exchange);
    if (it != single_.end()) return it->second;
    if (always_) return *always_;
    return Fault{};
}

namespace {

std::vector<std::string> split(const std::string& text, char sep) {
    std::vector<std::string> parts;
    std::string::size_type start = 0;
    for (;;) {
        const auto end = text.find(sep, start);
        parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return parts;
}

std::string trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    const auto e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

// A whole decimal number in [lo, hi].
bool number(const std::string& s, long lo, long hi, int& out) {
    if (s.empty() || s.size() > 9) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    const long v = std::strtol(s.c_str(), nullptr, 10);
    if (v < lo || v > hi) return false;
    out = static_cast<int>(v);
    return true;
}

std::optional<Fault> parseFault(const std::string& text) {
    const auto eq = text.find('=');
    const std::string name = text.substr(0, eq);
    const std::string value = eq == std::string::npos ? std::string() : text.substr(eq + 1);
    const bool hasValue = eq != std::string::npos;
    int a = 0, b = 0;
    if (name == "noreply" && !hasValue) return Fault::noReply();
    if (name == "badcrc" && !hasValue) return Fault::badCrc();
    if (name == "echo" && !hasValue) return Fault::echo();
    if (name == "ignorewrite" && !hasValue) return Fault::ignoreWrite();
    if (name == "delay" && number(value, 0, 60000, a)) return Fault::delay(a);
    if (name == "status" && number(value, 1, 255, a)) return Fault::withStatus(static_cast<std::uint8_t>(a));
    if (name == "garbage" && number(value, 1, 255, a)) return Fault::garbage(a);
    if (name == "wronglength" && number(value, 0, 255, a)) return Fault::wrongDataLength(a);
    if (name == "oversized" && !hasValue) return Fault::oversizedLength();
    if (name == "oversized" && number(value, 1, 255, a)) return Fault::oversizedLength(a);
    if (name == "pieces") {
        const auto slash = value.find('/');
        if (slash != std::string::npos && number(value.substr(0, slash), 1, 255, a) &&
            number(value.substr(slash + 1), 0, 60000, b))
            return Fault::pieces(a, b);
    }
    return std::nullopt;
}

}  // namespace

std::optional<FaultScript> FaultScript::parse(const std::string& text, std::string* error) {
    FaultScript script;
    if (trim(text).empty()) return script;
    for (const std::string& raw : split(text, ',')) {
        const std::string item = trim(raw);
        const auto colon = item.find(':');
        bool ok = colon != std::string::npos;
        if (ok) {
            const std::string key = item.substr(0, colon);
            const std::string rest = item.substr(colon + 1);
            int n = 0;
            if (key == "powerlost") {
                ok = number(rest, 0, 1000000000, n);
                if (ok) script.powerLostFrom(n);
            } else if (auto fault = parseFault(rest)) {
                if (key == "always") {
                    script.always(*fault);
                } else {
                    ok = number(key, 0, 1000000000, n);
                    if (ok) script.at(n, *fault);
                }
            } else {
                ok = false;
            }
        }
        if (!ok) {
            if (error) *error = item.empty() ? std::string("(empty item)") : item;
            return std::nullopt;
        }
    }
    return script;
}

}  // namespace sim
