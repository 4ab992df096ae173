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

// A port name becomes one file name inside the directory, nothing more.
bool safeName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos && name.size() < 200;
}

// The directory must be ours, and the same the window will trust to read.
bool ownDirectory(const std::string& dir) {
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
    return isPrivateDirectory(dir);
}

}  // namespace

bool publishVirtualPort(const std::string& name, const std::string& target) {
    const std::string dir = virtualPortDirectory();
    if (dir.empty() || !safeName(name) || target.empty() || !ownDirectory(dir)) return false;
    const std::string link = dir + "/" + name;
    struct stat st {};
    // Only a link is ever replaced: a stale station's link goes, a file stays.
    if (::lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) return false;
    // Build the new link beside it and rename it over the old one, so the
    // name never points nowhere in between.
    const std::string temp = dir + "/." + name + "." + std::to_string(::getpid()) + ".tmp";
    ::unlink(temp.c_str());
    if (::symlink(target.c_str(), temp.c_str()) != 0) return false;
    if (::rename(temp.c_str(), link.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

void unpublishVirtualPort(const std::string& name) {
    const std::string dir = virtualPortDirectory();
    if (dir.empty() || !safeName(name)) return;
    const std::string link = dir + "/" + name;
    struct stat st {};
    if (::lstat(link.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) ::unlink(link.c_str());
}
