// What a configuration file is when it is no file to read. A link is
// followed; one that ends nowhere is told apart from a missing file, so that
// a broken link is named as what it is.
#include "host/kernel/kernel.h"

#include <sys/stat.h>

#include <cerrno>

namespace host {

std::string fileProblem(const std::string& path, uint64_t* size) {
    if (size) *size = 0;
    struct stat st;
    if (path.empty()) return "not found";
    if (stat(path.c_str(), &st) != 0) {
        if (errno == ELOOP) return "is a link loop";
        struct stat link;
        if (lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) return "is a link that leads nowhere";
        return "not found";
    }
    if (S_ISDIR(st.st_mode)) return "is a folder";
    if (st.st_size <= 0) return "is empty";
    if (size) *size = static_cast<uint64_t>(st.st_size);
    return "";
}

}  // namespace host
