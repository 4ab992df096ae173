#pragma once
// Where simulated stations publish their pseudo-terminals: one symbolic link
// per station, named after the port, pointing at the slave device.
#include <string>

// $XDG_RUNTIME_DIR/rechannel-ports when XDG_RUNTIME_DIR is set and not
// empty, else /tmp/rechannel-ports-<uid>. POSIX only.
std::string virtualPortDirectory();
