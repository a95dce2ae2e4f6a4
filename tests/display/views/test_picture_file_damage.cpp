// A picture file that is there but holds no readable PNG where the
// configuration points (overwritten, cut) is a warning that names the file
// and the part that is not shown.
#include <string>

#include "display/views/cimage_container.h"
#include "display_view_fixture.h"
#include "log_capture.h"

namespace {

class PictureFileDamage : public DisplayViewTest {};

TEST_F(PictureFileDamage, AGarbagePictureIsAWarningThatNamesTheFile) {
    writeFile("cfg/flag.png", std::string(2000, 'x'));
    display_elem_s e{};
    XmlInitPictureElement(&e);
    std::snprintf(e.picture.pic.filename, sizeof e.picture.pic.filename, "cfg:/flag.png");
    e.picture.pic.ofs = 0;
    e.picture.pic.len = 0xEF;
    display_s cfg{};
    XmlInitDisplay(&cfg);
    cfg.page_count = 1;
    XmlInitPage(&cfg.pages[0]);
    cfg.pages[0].used = 1;
    cfg.pages[0].elements = &e;
    cfg.pages[0].count = 1;
    takeLogTexts();
    CImageContainer images(&cfg);
    EXPECT_EQ(images.getImage(&e.picture.pic), nullptr);
    EXPECT_EQ(takeTextsAtSeverity(4), std::vector<std::string>{"CImageContainer: cfg:/flag.png holds no readable PNG "
                                                               "picture at 0 (239 bytes), not shown"});
}

}  // namespace
