#pragma once
// UTF-8 as device paths and port names use it: the file system takes and
// gives bytes, the port list and the transport hold wide strings (UTF-32 on
// POSIX, UTF-16 where wchar_t has two bytes).
#include <cstddef>
#include <cstdint>
#include <string>

namespace utf8 {

// Appends code point `cp` (at most 0x10FFFF) as UTF-8.
void append(std::string& out, std::uint32_t cp);

// Decodes the sequence at `i` and moves `i` past it; false, with `i` where
// it was, when the sequence is malformed, cut short, overlong, a surrogate
// or beyond Unicode.
bool decode(const std::string& s, std::size_t& i, std::uint32_t& cp);

// Appends code point `cp` to a wide string, as a surrogate pair where
// wchar_t has two bytes.
void appendWide(std::wstring& out, std::uint32_t cp);

}  // namespace utf8
