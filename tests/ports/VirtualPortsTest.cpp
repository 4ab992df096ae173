#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "VirtualPorts.h"

namespace fs = std::filesystem;

namespace {

// Points XDG_RUNTIME_DIR at a private directory for one test.
class RuntimeDir {
public:
    RuntimeDir() : path_(fs::temp_directory_path() / ("rc-sim-xdg-" + std::to_string(::getpid()))) {
        const char* old = std::getenv("XDG_RUNTIME_DIR");
        if (old) old_ = old;
        hadOld_ = old != nullptr;
        fs::create_directories(path_);
        ::setenv("XDG_RUNTIME_DIR", path_.c_str(), 1);
    }
    ~RuntimeDir() {
        if (hadOld_) ::setenv("XDG_RUNTIME_DIR", old_.c_str(), 1);
        else ::unsetenv("XDG_RUNTIME_DIR");
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
    std::string old_;
    bool hadOld_ = false;
};

}  // namespace

TEST(VirtualPorts, DirectoryFollowsTheRuntimeDirectory) {
    RuntimeDir runtime;
    EXPECT_EQ(virtualPortDirectory(), (runtime.path() / "rechannel-ports").string());
    ::setenv("XDG_RUNTIME_DIR", "", 1);
    EXPECT_EQ(virtualPortDirectory(), "/tmp/rechannel-ports-" + std::to_string(::getuid()));
    ::unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(virtualPortDirectory(), "/tmp/rechannel-ports-" + std::to_string(::getuid()));
}

TEST(VirtualPorts, PublishTakesFreeAndStaleNamesOnlyAndEachPublisherRemovesItsOwnLink) {
    RuntimeDir runtime;
    const fs::path dir = runtime.path() / "rechannel-ports";
    ASSERT_TRUE(publishVirtualPort("SIM1", "/dev/pts/998"));
    struct stat st {};
    ASSERT_EQ(::lstat(dir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    // A killed simulator's link points nowhere: its name is free again.
    ASSERT_TRUE(publishVirtualPort("SIM1", "/dev/pts/999"));
    EXPECT_EQ(fs::read_symlink(dir / "SIM1"), "/dev/pts/999");
    ASSERT_TRUE(publishVirtualPort("LIVE", "/dev/null"));
    std::ofstream(dir / "plain") << "x";

    const struct {
        const char* name;
        const char* target;
        PublishRefusal why;
    } refused[] = {
        {"LIVE", "/dev/zero", PublishRefusal::Taken},     {"plain", "/dev/null", PublishRefusal::Taken},
        {"../evil", "/dev/null", PublishRefusal::BadName}, {"", "/dev/null", PublishRefusal::BadName},
        {"..", "/dev/null", PublishRefusal::BadName},      {".hidden", "/dev/null", PublishRefusal::BadName},
        {"SIM2", "", PublishRefusal::BadName},
    };
    for (const auto& c : refused) {
        PublishRefusal why = PublishRefusal::None;
        EXPECT_FALSE(publishVirtualPort(c.name, c.target, &why)) << c.name;
        EXPECT_EQ(why, c.why) << c.name;
    }
    EXPECT_EQ(fs::read_symlink(dir / "LIVE"), "/dev/null") << "a live link is never replaced";
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 3);

    unpublishVirtualPort("LIVE", "/dev/zero");
    EXPECT_TRUE(fs::is_symlink(dir / "LIVE")) << "another publisher's link stays";
    unpublishVirtualPort("plain", "/dev/null");
    EXPECT_TRUE(fs::is_regular_file(dir / "plain"));
    unpublishVirtualPort("LIVE", "/dev/null");
    EXPECT_FALSE(fs::is_symlink(dir / "LIVE"));
    unpublishVirtualPort("SIM1", "/dev/pts/999");
    EXPECT_FALSE(fs::is_symlink(dir / "SIM1"));
}

TEST(VirtualPorts, RefusesADirectoryThatIsALink) {
    RuntimeDir runtime;
    const fs::path elsewhere = runtime.path() / "elsewhere";
    fs::create_directories(elsewhere);
    fs::create_directory_symlink(elsewhere, runtime.path() / "rechannel-ports");
    EXPECT_FALSE(publishVirtualPort("SIM1", "/dev/pts/998"));
    EXPECT_TRUE(fs::is_empty(elsewhere));
}
