#pragma once
// Where simulated stations publish their pseudo-terminals: one symbolic link
// per station, named after the port, pointing at the slave device.
#include <string>

// $XDG_RUNTIME_DIR/rechannel-ports when XDG_RUNTIME_DIR is set and not
// empty, else /tmp/rechannel-ports-<uid>. POSIX only.
std::string virtualPortDirectory();

// True when `directory` is a real directory (not a link) of this user that
// nobody else can write to. Under /tmp another user could otherwise plant a
// "station" there that the window would list and preselect.
bool isPrivateDirectory(const std::string& directory);
