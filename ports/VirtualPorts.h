#pragma once
// Where simulated stations publish their pseudo-terminals: one symbolic link
// per station in a per-user runtime directory, named after the port and
// pointing at the slave device. Port discovery lists each link as a port;
// the simulator and the tests publish them. POSIX only.
#include <string>

// $XDG_RUNTIME_DIR/rechannel-ports when XDG_RUNTIME_DIR is set and not
// empty, else /tmp/rechannel-ports-<uid>.
std::string virtualPortDirectory();

// True when `directory` is a real directory (not a link) of this user that
// nobody else can write to. Under /tmp another user could otherwise plant a
// "station" there that the window would list and preselect.
bool isPrivateDirectory(const std::string& directory);

// Creates the link `name` -> target (the directory too); false on failure.
bool publishVirtualPort(const std::string& name, const std::string& target);
void unpublishVirtualPort(const std::string& name);
