#pragma once
// Builds file trees for tests: directories, files and symbolic links; each
// throws std::runtime_error when the file system refuses.
#include <string>

// Creates `path` and its parents.
void makeDirs(const std::string& path);
// Writes `content` into a file.
void writeFile(const std::string& path, const std::string& content);
void makeSymlink(const std::string& target, const std::string& link);
