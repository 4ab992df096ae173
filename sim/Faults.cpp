#include "Faults.h"

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

std::string trim(const std::string& s, const char* space = " \t") {
    const auto b = s.find_first_not_of(space);
    if (b == std::string::npos) return {};
    const auto e = s.find_last_not_of(space);
    return s.substr(b, e - b + 1);
}

// A whole decimal number in [lo, hi], with an optional sign and white space
// around it.
bool number(const std::string& text, long lo, long hi, int& out) {
    const std::string s = trim(text, " \t\n\v\f\r");
    std::size_t i = s.empty() || (s[0] != '+' && s[0] != '-') ? 0 : 1;
    if (i == s.size()) return false;
    long long v = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        if (v <= hi) v = v * 10 + (s[i] - '0');   // beyond hi it is out of range anyway
    }
    if (s[0] == '-') v = -v;
    if (v < lo || v > hi) return false;
    out = static_cast<int>(v);
    return true;
}

// Two numbers separated by ',' or '/'.
bool numberPair(const std::string& s, long lo1, long hi1, long lo2, long hi2, int& a, int& b) {
    const auto sep = s.find_first_of(",/");
    return sep != std::string::npos && number(s.substr(0, sep), lo1, hi1, a) && number(s.substr(sep + 1), lo2, hi2, b);
}

// "KIND=" means KIND, as KIND alone does.
std::optional<Fault> parseFault(const std::string& name, const std::string& value) {
    int a = 0, b = 0;
    if (value.empty()) {
        if (name == "noreply") return Fault::noReply();
        if (name == "badcrc") return Fault::badCrc();
        if (name == "echo") return Fault::echo();
        if (name == "ignorewrite") return Fault::ignoreWrite();
        if (name == "hangup") return Fault::hangUp();
        if (name == "oversized") return Fault::oversizedLength();
        return std::nullopt;
    }
    if (name == "delay" && number(value, 0, 600000, a)) return Fault::delay(a);
    if (name == "status" && number(value, 1, 255, a)) return Fault::withStatus(static_cast<std::uint8_t>(a));
    if (name == "garbage" && number(value, 1, 255, a)) return Fault::garbage(a);
    if ((name == "datalen" || name == "wronglength") && number(value, 0, 255, a)) return Fault::wrongDataLength(a);
    if (name == "oversized" && number(value, 1, 255, a)) return Fault::oversizedLength(a);
    if (name == "pieces" && numberPair(value, 1, 255, 0, 60000, a, b)) return Fault::pieces(a, b);
    return std::nullopt;
}

}  // namespace

bool FaultScript::place(const std::string& fault, const std::string& when) {
    int exchange = -1;
    if (when != "*" && !number(when, 0, 1000000000, exchange)) return false;
    const auto eq = fault.find('=');
    const std::string name = fault.substr(0, eq);
    const std::string value = eq == std::string::npos ? std::string() : fault.substr(eq + 1);
    if (name == "powerlost") {
        if (exchange < 0 || !value.empty()) return false;
        powerLostFrom(exchange);
        return true;
    }
    const std::optional<Fault> parsed = parseFault(name, value);
    if (!parsed) return false;
    if (exchange < 0)
        always(*parsed);
    else
        at(exchange, *parsed);
    return true;
}

bool FaultScript::add(const std::string& text) {
    const auto at = text.rfind('@');
    if (at == std::string::npos) return place(text, "*");
    return place(text.substr(0, at), text.substr(at + 1));
}

std::optional<FaultScript> FaultScript::parse(const std::string& text, std::string* error) {
    FaultScript script;
    if (trim(text).empty()) return script;
    for (const std::string& raw : split(text, ',')) {
        const std::string item = trim(raw);
        const auto colon = item.find(':');
        const std::string key = item.substr(0, colon);
        const std::string rest = colon == std::string::npos ? std::string() : item.substr(colon + 1);
        const bool ok = colon != std::string::npos && (key == "powerlost" ? script.place(key, rest)
                                                       : key == "always"  ? script.place(rest, "*")
                                                                          : script.place(rest, key));
        if (!ok) {
            if (error) *error = item.empty() ? std::string("(empty item)") : item;
            return std::nullopt;
        }
    }
    return script;
}

}  // namespace sim
