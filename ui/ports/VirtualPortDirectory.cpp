#include "VirtualPortDirectory.h"

#include <cstdlib>

#ifndef _WIN32
#include <unistd.h>
#endif

std::string virtualPortDirectory() {
#ifdef _WIN32
    return {};
#else
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime) return std::string(runtime) + "/rechannel-ports";
    return "/tmp/rechannel-ports-" + std::to_string(::getuid());
#endif
}
