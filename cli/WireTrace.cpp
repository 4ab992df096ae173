#include "WireTrace.h"

#include "CliOutput.h"
#include "ReadBack.h"

WireTrace::WireTrace() { clock_.start(); }

WireObserver WireTrace::observer() {
    return [this](WireDirection direction, const std::uint8_t* bytes, int count) { onBytes(direction, bytes, count); };
}

QString WireTrace::hex(const std::uint8_t* bytes, int count) {
    QString text;
    for (int i = 0; i < count; ++i) {
        if (i) text += QLatin1Char(' ');
        text += hexDigits(bytes[i], 2);
    }
    return text;
}

QString WireTrace::line(double ms, char direction, const QString& body) {
    return QStringLiteral("%1 ms %2 %3").arg(ms, 10, 'f', 3).arg(QLatin1Char(direction)).arg(body);
}

void WireTrace::onBytes(WireDirection direction, const std::uint8_t* bytes, int count) {
    const double now = static_cast<double>(clock_.nsecsElapsed()) / 1e6;
    switch (direction) {
    case WireDirection::Sent:
        flush();
        printErr(line(now, '>', hex(bytes, count)));
        break;
    case WireDirection::Received:
        if (received_.empty()) receivedAtMs_ = now;
        if (bytes && count > 0) received_.insert(received_.end(), bytes, bytes + count);
        // A frame is complete once its length byte says so: start, LEN,
        // status/command, LEN bytes, two CRC bytes.
        while (received_.size() >= 2 && received_.size() >= static_cast<size_t>(received_[1]) + 5) emitReceived(false);
        break;
    case WireDirection::Timeout:
        flush();
        printErr(line(now, '!', QStringLiteral("timeout")));
        break;
    }
}

void WireTrace::emitReceived(bool partial) {
    const size_t frameSize = received_.size() >= 2 ? std::min(received_.size(), static_cast<size_t>(received_[1]) + 5)
                                                   : received_.size();
    const size_t take = partial ? received_.size() : frameSize;
    QString body = hex(received_.data(), static_cast<int>(take));
    if (partial) body += QStringLiteral(" (incomplete)");
    printErr(line(receivedAtMs_, '<', body));
    received_.erase(received_.begin(), received_.begin() + static_cast<std::ptrdiff_t>(take));
}

void WireTrace::flush() {
    if (!received_.empty()) emitReceived(true);
}
