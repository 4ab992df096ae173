#include "VirtualPortDirectory.h"

#include <cstdlib>
#include <unistd.h>

std::string virtualPortDirectory() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime) return std::string(runtime) + "/rechannel-ports";
    return "/tmp/rechannel-ports-" + std::to_string(::getuid());
}
