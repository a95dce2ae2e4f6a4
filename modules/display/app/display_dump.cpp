// The screen as a Windows BMP image, and its dump into a new file.
#include "display/app/display_dump.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "display/app/display_requests.h"
#include "gui/core/gui_task.h"
#include "gui/core/gui_thing.h"
#include "gui/draw/gui_screen.h"
#include "gui/draw/scrndrv.h"
#include "host/kernel/kernel.h"

namespace {

enum DumpFileError { DUMP_FILE_EXISTS, DUMP_FILE_OUTSIDE, DUMP_FILE_UNOPENABLE };

// A file the dump made: its descriptor, and its folder and name, so that
// it can be taken back when there is no image to put into it.
struct NewFile {
    int fd = -1;
    int dir = AT_FDCWD;   // owned unless AT_FDCWD
    std::string name;
    DumpFileError error = DUMP_FILE_UNOPENABLE;

    NewFile() = default;
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;
    ~NewFile()
    {
        if (fd >= 0) close(fd);
        if (dir >= 0) close(dir);
    }
    // Creates `name` in `dir` as a new file, never through a link in its
    // place.
    void create()
    {
        fd = openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0) error = errno == EEXIST ? DUMP_FILE_EXISTS : DUMP_FILE_UNOPENABLE;
    }
    // Removes the file again: there was no image for it, or it could not
    // be written whole (a full drive), and a part of an image is no dump.
    void takeBack()
    {
        if (fd >= 0) close(fd);
        fd = -1;
        unlinkat(dir, name.c_str(), 0);
    }
};

bool isLink(int dir, const char* name)
{
    struct stat st;
    return fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
}

// Creates `path` below the device folder, opening each folder on the way
// from the device folder itself without following a link, so that neither
// a link nor a folder swapped for one meanwhile leads out of it.
void createInDeviceFolder(const char* path, NewFile& f)
{
    f.error = DUMP_FILE_OUTSIDE;
    if (!*path || path[0] == '/') return;
    f.dir = open(host::inDeviceFolder(".").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (f.dir < 0) {
        f.error = DUMP_FILE_UNOPENABLE;
        return;
    }
    std::string rest(path);
    for (;;) {
        const size_t slash = rest.find('/');
        const std::string part = rest.substr(0, slash);
        if (part == "..") return;
        if (slash == std::string::npos) {
            if (part.empty() || part == ".") {
                f.error = DUMP_FILE_UNOPENABLE;
            } else if (!isLink(f.dir, part.c_str())) {
                f.name = part;
                f.create();
            }
            return;
        }
        rest.erase(0, slash + 1);
        if (part.empty() || part == ".") continue;
        const int next = openat(f.dir, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) {
            if (!isLink(f.dir, part.c_str())) f.error = DUMP_FILE_UNOPENABLE;
            return;
        }
        close(f.dir);
        f.dir = next;
    }
}

// Writes the screen dump into a new file that `f` holds; prints what went
// wrong. 0 when the whole image was written.
int dumpInto(const char* path, NewFile& f)
{
    if (f.fd < 0) {
        if (f.error == DUMP_FILE_EXISTS) printf("Error, file %s exists.\n", path);
        else if (f.error == DUMP_FILE_OUTSIDE) printf("Error, file %s is not inside the device folder.\n", path);
        else printf("Error, unable to open file %s.\n", path);
        return -1;
    }
    unsigned int size = 0;
    unsigned char* image = DumpReal(&size);
    if (!image || size == 0) {
        delete[] image;
        f.takeBack();
        printf("Error, no screen image for file %s.\n", path);
        return -1;
    }
    size_t done = 0;
    while (done < size) {
        const ssize_t n = write(f.fd, image + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += size_t(n);
    }
    delete[] image;
    const int closed = close(f.fd);
    f.fd = -1;
    if (closed == 0 && done == size) return 0;
    f.takeBack();
    printf("Error, unable to write file %s.\n", path);
    return -1;
}

}  // namespace

unsigned char* DumpReal(unsigned int* size)
{
    if (size) *size = 0;
    if (gbGuiInitialized.load() != 1) return nullptr;
    // Under the GUI lock, so that the frame is not half drawn and the screen
    // is not torn down meanwhile.
    GuiLock lock;
    GuiScreen* screen = GuiThing::mpScreen;
    if (!screen) return nullptr;
    // The visible screen itself: (0, 0) to (639, 479).
    return screen->DumpWindowsBitmap(size, GuiRect(0, 0, SCRNDRV_VISIBLE_WIDTH - 1, SCRNDRV_VISIBLE_HEIGHT - 1));
}

int display_bmpdump(const char* path)
{
    if (!path) path = "";
    NewFile f;
    createInDeviceFolder(path, f);
    return dumpInto(path, f);
}
