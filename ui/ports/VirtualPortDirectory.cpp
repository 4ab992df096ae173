#include "VirtualPortDirectory.h"

#include <sys/stat.h>
#include <unistd.h>

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
