// CImageContainer: reading and converting the configured pictures.
#include "display/views/cimage_container.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "gui/image/gui_png.h"
#include "platform/files.h"
#include "platform/syslogx.h"
#include "xml/xml_file.h"

CImageContainer::CImageContainer(display_s* config)
{
    if (!config) return;
    collect(config->all_pages);
    for (int i = 0; i < config->page_count && i < DISPLAY_MAX_PAGES; ++i) collect(config->pages[i]);
    int converted = 0;
    for (picture_file_s* f = files; f; f = f->next) converted += convert(f);
    if (converted > 0) syslogx(150, "CImageContainer: successfully converted %i pictures", converted);
}

CImageContainer::~CImageContainer()
{
    for (picture_file_s* f = files; f;) {
        for (picture_image_s* r = f->images; r;) {
            picture_image_s* next = r->next;
            // The converter leaves its bitmaps to its caller.
            if (r->converter) r->converter->DestroyImages();
            delete r->converter;
            delete r;
            r = next;
        }
        picture_file_s* next = f->next;
        delete f;
        f = next;
    }
    files = nullptr;
}

void CImageContainer::collect(const page_s& page)
{
    for (display_elem_s* e = page.elements; e; e = e->next) {
        if (e->type != DISP_ELEM_PICTURE) continue;
        const picture_s& p = e->picture.pic;
        if (picture_file_s* f = addfile(p.filename)) addbitmap(f, p.ofs, p.len);
    }
}

picture_file_s* CImageContainer::addfile(const char* name)
{
    if (!name) return nullptr;
    for (picture_file_s* f = files; f; f = f->next)
        if (std::strncmp(f->name, name, sizeof f->name) == 0) return f;
    auto* f = new (std::nothrow) picture_file_s;
    if (!f) return nullptr;
    std::snprintf(f->name, sizeof f->name, "%s", name);
    f->next = files;
    files = f;
    return f;
}

void CImageContainer::addbitmap(picture_file_s* file, unsigned long offset, unsigned long length)
{
    if (!file) return;
    for (picture_image_s* r = file->images; r; r = r->next)
        if (r->ofs == offset && r->len == length) return;
    auto* r = new (std::nothrow) picture_image_s;
    if (!r) return;
    r->ofs = uint32_t(offset);
    r->len = uint32_t(length);
    r->next = file->images;
    file->images = r;
}

int CImageContainer::convert(picture_file_s* file)
{
    // A missing file is silent, its pictures show as missing; one that is
    // there but no file to read (of them all, above the one size limit too)
    // says what it is. It is opened without waiting, so that a FIFO put in
    // its place after the check is named as well.
    std::string problem = xmlFileProblem(file->name);
    size_t opened = 0;
    FILE* fp = nullptr;
    if (problem.empty()) fp = dev_fopen_read(file->name, &problem, &opened, kXmlFileMaxBytes);
    if (!fp) {
        if (problem != "not found")
            syslogx(148, "CImageContainer: %s %s, its pictures are not shown", file->name, problem.c_str());
        return 0;
    }
    const long size = long(opened);
    int converted = 0;
    for (picture_image_s* r = file->images; r; r = r->next) {
        picture_s range{};
        range.ofs = r->ofs;
        range.len = r->len;
        size_t got = 0;
        uint8_t* buffer = nullptr;
        // Nothing is allocated for a part that does not lie within the file.
        if (r->len > 0 && picture_range_ok(&range, size) && std::fseek(fp, long(r->ofs), SEEK_SET) == 0) {
            buffer = static_cast<uint8_t*>(std::malloc(r->len));
            if (buffer) got = std::fread(buffer, 1, r->len, fp);
        }
        if (!buffer || got < r->len) {
            syslogx(147, "CImageContainer: could not read picture %s %i %i", file->name, int(r->ofs), int(got));
            std::free(buffer);
            continue;
        }
        auto* conv = new (std::nothrow) GuiPngConvert(0);
        if (conv) {
            conv->SetModeFlags(0);
            conv->SetKeepAlpha(true);
            conv->SetSystemPalette(nullptr, 1600);
            conv->SetInputBuffer(buffer, r->len);
            if (conv->ReadImage(1) == 1) r->bitmap = conv->GetBitmapPointer(0);
            r->converter = conv;
            if (r->bitmap) ++converted;
            else
                syslogx(148, "CImageContainer: %s holds no readable PNG picture at %i (%i bytes), not shown",
                        file->name, int(r->ofs), int(r->len));
        }
        std::free(buffer);
    }
    std::fclose(fp);
    return converted;
}

GuiBitmap* CImageContainer::getImage(const picture_s* picture) const
{
    if (!picture) return nullptr;
    for (const picture_file_s* f = files; f; f = f->next) {
        if (std::strncmp(f->name, picture->filename, sizeof f->name) != 0) continue;
        for (const picture_image_s* r = f->images; r; r = r->next)
            if (r->ofs == picture->ofs && r->len == picture->len) return r->bitmap;
        return nullptr;
    }
    return nullptr;
}
