#include "VirtualPorts.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

std::string virtualPortDirectory() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime) return std::string(runtime) + "/rechannel-ports";
    return "/tmp/rechannel-ports-" + std::to_string(::getuid());
}

bool isPrivateDirectory(const std::string& directory) {
    struct stat st {};
    return ::lstat(directory.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
           (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

namespace {

// A port name becomes one file name inside the directory, nothing more; a
// leading dot is left to the directory's own temporary files (discovery
// skips such names).
bool safeName(const std::string& name) {
    return !name.empty() && name[0] != '.' && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos && name.size() < 200;
}

// The directory must be ours, and the same the window will trust to read.
bool ownDirectory(const std::string& dir) {
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
    return isPrivateDirectory(dir);
}

// Where the link at `path` points; empty when it is no link.
std::string linkTarget(const std::string& path) {
    char buffer[4096];
    const ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer);
    return n > 0 && static_cast<std::size_t>(n) < sizeof buffer ? std::string(buffer, static_cast<std::size_t>(n))
                                                                 : std::string();
}

bool refuse(PublishRefusal reason, PublishRefusal* why) {
    if (why) *why = reason;
    return false;
}

// Removes a link left by a simulator that is gone (its target no longer
// exists). False when something live, or no link, has the name.
bool removeStaleLink(const std::string& link) {
    struct stat st {};
    if (::lstat(link.c_str(), &st) != 0) return errno == ENOENT;
    if (!S_ISLNK(st.st_mode)) return false;
    const std::string target = linkTarget(link);
    if (target.empty() || ::stat(link.c_str(), &st) == 0 || errno != ENOENT) return false;
    // Another publisher may have replaced it just now: only the same stale
    // link goes.
    if (linkTarget(link) != target) return false;
    return ::unlink(link.c_str()) == 0 || errno == ENOENT;
}

}  // namespace

bool publishVirtualPort(const std::string& name, const std::string& target, PublishRefusal* why) {
    if (why) *why = PublishRefusal::None;
    if (!safeName(name) || target.empty()) return refuse(PublishRefusal::BadName, why);
    const std::string dir = virtualPortDirectory();
    if (dir.empty() || !ownDirectory(dir)) return refuse(PublishRefusal::Failed, why);
    const std::string link = dir + "/" + name;
    // A freed pty is handed out again: the name may already point at ours.
    if (linkTarget(link) == target) return true;
    if (!removeStaleLink(link)) return refuse(PublishRefusal::Taken, why);
    // Made in one step: of two publishers of one name, one gets EEXIST.
    if (::symlink(target.c_str(), link.c_str()) == 0) return true;
    return refuse(errno == EEXIST ? PublishRefusal::Taken : PublishRefusal::Failed, why);
}

void unpublishVirtualPort(const std::string& name, const std::string& target) {
    const std::string dir = virtualPortDirectory();
    if (dir.empty() || !safeName(name) || target.empty()) return;
    const std::string link = dir + "/" + name;
    if (linkTarget(link) == target) ::unlink(link.c_str());
}
