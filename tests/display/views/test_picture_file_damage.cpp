// A picture file that is there but holds no readable PNG where the
// configuration points (overwritten, cut) is a warning that names the file
// and the part that is not shown.
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "display/views/cimage_container.h"
#include "display_view_fixture.h"
#include "log_capture.h"

namespace {

class PictureFileDamage : public DisplayViewTest {};

// The configuration of one picture of flag.png, for the container.
struct OnePicture {
    display_elem_s e{};
    display_s cfg{};
    OnePicture() {
        XmlInitPictureElement(&e);
        std::snprintf(e.picture.pic.filename, sizeof e.picture.pic.filename, "cfg:/flag.png");
        e.picture.pic.ofs = 0;
        e.picture.pic.len = 0xEF;
        XmlInitDisplay(&cfg);
        cfg.page_count = 1;
        XmlInitPage(&cfg.pages[0]);
        cfg.pages[0].used = 1;
        cfg.pages[0].elements = &e;
        cfg.pages[0].count = 1;
    }
};

TEST_F(PictureFileDamage, AGarbagePictureIsAWarningThatNamesTheFile) {
    writeFile("cfg/flag.png", std::string(2000, 'x'));
    OnePicture one;
    takeLogTexts();
    CImageContainer images(&one.cfg);
    EXPECT_EQ(images.getImage(&one.e.picture.pic), nullptr);
    EXPECT_EQ(takeTextsAtSeverity(4), std::vector<std::string>{"CImageContainer: cfg:/flag.png holds no readable PNG "
                                                               "picture at 0 (239 bytes), not shown"});
}

// A picture file that is there but no file to read (a link that leads
// nowhere, a folder, an empty file) is named as what it is; a missing one
// stays silent, its pictures show as missing.
TEST_F(PictureFileDamage, APictureFileThatCannotBeReadSaysWhatItIs) {
    OnePicture one;
    const std::string path = dir + "/cfg/flag.png";
    std::filesystem::create_directories(dir + "/cfg");
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[&] { std::filesystem::create_symlink("flag.png", path); }, "is a link loop"},
        {[&] { std::filesystem::create_symlink("gone.png", path); }, "is a link that leads nowhere"},
        {[&] { std::filesystem::create_directory(path); }, "is a folder"},
        {[&] { writeFile("cfg/flag.png", ""); }, "is empty"},
        {[&] { makeFifo("cfg/flag.png"); }, "is a FIFO"},
        {[&] {   // sparse, past the one limit of every configuration file
             writeFile("cfg/flag.png", "");
             std::filesystem::resize_file(path, 17u * 1024u * 1024u);
         },
         "is too large (17825792 bytes)"},
    };
    for (const auto& [make, says] : cases) {
        std::filesystem::remove(path);
        make();
        takeLogTexts();
        std::unique_ptr<CImageContainer> images;
        EXPECT_TRUE(returnsBesideFifo("cfg/flag.png", [&] { images.reset(new CImageContainer(&one.cfg)); })) << says;
        EXPECT_EQ(images->getImage(&one.e.picture.pic), nullptr);
        EXPECT_EQ(takeTextsAtSeverity(4), std::vector<std::string>{"CImageContainer: cfg:/flag.png " + says +
                                                                   ", its pictures are not shown"});
        EXPECT_TRUE(takeTextsAtSeverity(3).empty());
    }
    std::filesystem::remove(path);
    takeLogTexts();
    CImageContainer none(&one.cfg);
    EXPECT_TRUE(takeLogTexts().empty());
}

}  // namespace
