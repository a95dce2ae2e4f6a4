// A small tmpfs mounted on a folder of a test: a drive that fills up and
// gets room again. Mounting needs root; where it is refused, mounted() is
// false and the test skips.
#pragma once

#include <sys/mount.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

class TmpfsMount {
public:
    TmpfsMount(std::string path, const char* size) : path_(std::move(path)) {
        const std::string options = std::string("size=") + size + ",mode=0755";
        mounted_ = ::mount("tmpfs", path_.c_str(), "tmpfs", 0, options.c_str()) == 0;
    }
    ~TmpfsMount() {
        if (mounted_ && ::umount2(path_.c_str(), 0) != 0) ::umount2(path_.c_str(), MNT_DETACH);
    }
    TmpfsMount(const TmpfsMount&) = delete;
    TmpfsMount& operator=(const TmpfsMount&) = delete;

    bool mounted() const { return mounted_; }

    // Fills the drive to its last byte with the file `name` (below the mount).
    void fill(const std::string& name) const {
        FILE* f = std::fopen((path_ + "/" + name).c_str(), "wb");
        if (!f) return;
        setvbuf(f, nullptr, _IONBF, 0);
        const std::vector<char> block(4096, 'f');
        while (std::fwrite(block.data(), 1, block.size(), f) == block.size()) {
        }
        // the last partial block, byte by byte
        while (std::fwrite(block.data(), 1, 1, f) == 1) {
        }
        std::fclose(f);
    }
    // Makes room again.
    void empty(const std::string& name) const { std::remove((path_ + "/" + name).c_str()); }

private:
    std::string path_;
    bool mounted_ = false;
};
