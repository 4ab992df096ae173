#include "PortDescription.h"

namespace {

struct KindWords {
    PortAbout::Kind kind;
    const wchar_t* english;
    const wchar_t* russian;
};

// Before `words` where the kind has them.
constexpr KindWords kKinds[] = {
    {PortAbout::Kind::Described, L"", L""},
    {PortAbout::Kind::UsbAdapter, L"USB serial adapter", L"USB-адаптер последовательного порта"},
    {PortAbout::Kind::PciPort, L"PCI serial port", L"Последовательный порт PCI"},
    {PortAbout::Kind::OnBoardPort, L"On-board serial port", L"Встроенный последовательный порт"},
    {PortAbout::Kind::VirtualPort, L"Virtual port -> ", L"Виртуальный порт → "},
    {PortAbout::Kind::Registered, L"", L"Последовательный порт "},
};

const KindWords& wordsOf(PortAbout::Kind kind) {
    for (const KindWords& words : kKinds)
        if (words.kind == kind) return words;
    return kKinds[0];
}

}  // namespace

std::wstring describePort(const PortAbout& about, PortWords words) {
    const bool russian = words == PortWords::Russian;
    const KindWords& kind = wordsOf(about.kind);
    std::wstring text = russian ? kind.russian : kind.english;
    // The kinds this program names say nothing more of themselves but where
    // a virtual port leads and a registered port's device.
    const bool carriesWords = about.kind == PortAbout::Kind::Described || about.kind == PortAbout::Kind::VirtualPort ||
                              about.kind == PortAbout::Kind::Registered;
    if (carriesWords) text += about.words;
    if (!about.ids.empty()) text += L" [" + about.ids + L"]";
    if (!about.serial.empty()) text += (russian ? L" серийный № " : L" S/N ") + about.serial;
    if (!about.driver.empty()) text += (russian ? L" (драйвер " : L" (") + about.driver + L")";
    return text;
}
