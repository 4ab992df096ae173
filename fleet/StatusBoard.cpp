#include "StatusBoard.h"

#include <cstdio>

namespace {
void write(std::FILE* to, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), to);
    std::fflush(to);
}
}  // namespace

StatusBoard::StatusBoard(bool terminal, const std::vector<QString>& ports)
    : terminal_(terminal), ports_(ports), status_(ports.size()) {
    for (const QString& port : ports_) width_ = std::max(width_, static_cast<int>(port.size()));
}

std::size_t StatusBoard::add(const QString& port) {
    ports_.push_back(port);
    status_.emplace_back();
    width_ = std::max(width_, static_cast<int>(port.size()));
    if (terminal_ && !closed_) draw();
    return ports_.size() - 1;
}

void StatusBoard::set(std::size_t port, const QString& status) {
    if (closed_ || port >= status_.size() || status_[port] == status) return;
    status_[port] = status;
    if (terminal_) draw();
    else write(stderr, QStringLiteral("%1: %2\n").arg(ports_[port], status));
}

void StatusBoard::print(const QString& line, bool bell) {
    if (terminal_) erase();
    write(stdout, line + QLatin1Char('\n'));
    if (bell && terminal_) write(stderr, QStringLiteral("\a"));
    if (terminal_ && !closed_) draw();
}

void StatusBoard::note(const QString& line) {
    if (terminal_) erase();
    write(stderr, line + QLatin1Char('\n'));
    if (terminal_ && !closed_) draw();
}

void StatusBoard::close() {
    closed_ = true;
    drawn_ = 0;
}

void StatusBoard::erase() {
    if (drawn_ > 0) write(stderr, QStringLiteral("\x1b[%1A\r\x1b[J").arg(drawn_));
    drawn_ = 0;
}

void StatusBoard::draw() {
    erase();
    QString text;
    for (std::size_t i = 0; i < ports_.size(); ++i)
        text += QStringLiteral("%1  %2\n").arg(ports_[i], -width_).arg(status_[i]);
    write(stderr, text);
    drawn_ = static_cast<int>(ports_.size());
}
