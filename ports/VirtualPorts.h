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

// Why a name was not published.
enum class PublishRefusal {
    None,
    BadName,   // empty, ".", "..", a '/', or a leading dot (the directory's own files)
    Taken,     // a live link (or anything but a link) already has the name
    Failed,    // the directory or the link could not be made
};

// Creates the link `name` -> target (the directory too); false, with the
// reason in `why`, when it did not. A link of that name whose target is gone
// (a simulator that was killed) is replaced; a live one is never.
bool publishVirtualPort(const std::string& name, const std::string& target, PublishRefusal* why = nullptr);
// Removes the link `name` only while it still points at `target`: a link
// that another publisher made under the same name stays.
void unpublishVirtualPort(const std::string& name, const std::string& target);
