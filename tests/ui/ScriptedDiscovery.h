#pragma once
// A port discovery for the window whose answers the test chooses, call by
// call: a list, or a failure thrown as its message text. The last answer
// repeats.

#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "MainWindow.h"

using DiscoveryAnswer = std::variant<PortList, std::wstring>;

struct DiscoveryScript {
    std::vector<DiscoveryAnswer> answers;
    int calls = 0;
    std::vector<bool> probes;
};

inline MainWindow::PortDiscoveryFn scriptedDiscovery(std::shared_ptr<DiscoveryScript> script) {
    return [script](PortList& list, bool probe) {
        script->probes.push_back(probe);
        const std::size_t i = std::min<std::size_t>(static_cast<std::size_t>(script->calls), script->answers.size() - 1);
        ++script->calls;
        list.clear();
        if (const auto* message = std::get_if<std::wstring>(&script->answers[i])) throw *message;
        list = std::get<PortList>(script->answers[i]);
    };
}

inline PortList portsNamed(std::initializer_list<const wchar_t*> names, const std::wstring& pathPrefix = L"/nowhere/") {
    PortList list;
    int i = 0;
    for (const wchar_t* name : names)
        list.push_back(PortEntry{pathPrefix + std::to_wstring(i++), L"", name, std::wstring(L"about ") + name});
    return list;
}
