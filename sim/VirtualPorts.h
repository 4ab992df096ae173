#pragma once
// Simulated stations publish themselves as symbolic links in a per-user
// runtime directory; port discovery lists each link as a port.
#include <string>

namespace sim {
// $XDG_RUNTIME_DIR/rechannel-ports, or /tmp/rechannel-ports-<uid>.
std::string virtualPortDirectory();
// Creates the link `name` -> target (the directory too); false on failure.
bool publishVirtualPort(const std::string& name, const std::string& target);
void unpublishVirtualPort(const std::string& name);
}
