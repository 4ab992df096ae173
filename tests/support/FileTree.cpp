#include "FileTree.h"

#include <cerrno>
#include <cstdio>
#include <stdexcept>

#include <sys/stat.h>
#include <unistd.h>

void makeDirs(const std::string& path) {
    std::string partial;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || (path[i] == '/' && i > 0)) {
            partial = path.substr(0, i);
            if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST)
                throw std::runtime_error("mkdir " + partial);
        }
    }
}

void writeFile(const std::string& path, const std::string& content) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) throw std::runtime_error("open " + path);
    std::fwrite(content.data(), 1, content.size(), f);
    std::fclose(f);
}

void makeSymlink(const std::string& target, const std::string& link) {
    if (::symlink(target.c_str(), link.c_str()) != 0) throw std::runtime_error("symlink " + link);
}
