// CImageContainer: the PNG pictures that the configuration's Picture
// elements name by file, byte offset and length, read and converted once
// when the display starts. Elements naming the same file part share one
// bitmap. The container owns the converters and the bitmaps they made.
#pragma once

#include <cstdint>

#include "display/config/display_config.h"
#include "gui/core/gui_types.h"

class GuiPngConvert;

struct picture_image_s {
    uint32_t ofs = 0;
    uint32_t len = 0;
    GuiBitmap* bitmap = nullptr;       // null until converted
    GuiPngConvert* converter = nullptr;
    picture_image_s* next = nullptr;
};

struct picture_file_s {
    char name[DISPLAY_TEXT_LEN] = {};
    picture_image_s* images = nullptr;   // newest first
    picture_file_s* next = nullptr;
};

class CImageContainer {
public:
    explicit CImageContainer(display_s* config);
    ~CImageContainer();
    CImageContainer(const CImageContainer&) = delete;
    CImageContainer& operator=(const CImageContainer&) = delete;

    // The converted bitmap of a picture, null when missing or not converted.
    GuiBitmap* getImage(const picture_s* picture) const;
    picture_file_s* addfile(const char* name);
    void addbitmap(picture_file_s* file, unsigned long offset, unsigned long length);

    picture_file_s* files = nullptr;   // newest first

private:
    void collect(const page_s& page);
    // Reads and converts the images of one file; returns the conversions.
    int convert(picture_file_s* file);
};
