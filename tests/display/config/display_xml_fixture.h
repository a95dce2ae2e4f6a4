// Loads display.xml texts through the reader for the tests: from memory, or
// as "cfg:/display.xml" of a temporary device folder.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "display/config/xml_reader.h"
#include "host/device_fixture.h"

struct DisplayFree {
    void operator()(display_s* d) const { XmlFreeDisplay(d); }
};
using DisplayPtr = std::unique_ptr<display_s, DisplayFree>;

inline std::string displayError() {
    char buf[255];
    xml_get_error_msg(buf, sizeof buf);
    return buf;
}

// The model of a text, null when it does not load (the text in displayError).
inline DisplayPtr loadText(const std::string& text) {
    display_s* d = nullptr;
    int r = XmlLoadText(text.data(), int32_t(text.size()), &d);
    EXPECT_EQ(r == 0, d != nullptr);
    return DisplayPtr(d);
}

// A whole document around the given page content, one line each, with
// CR LF line ends so that every line starts at column 0:
//   line 1 declaration, 2 Display, 3 Brightness, 4 Pages and Page with BGCol,
//   5 DisplayElements, 6 the elements, 7 the rest.
inline std::string documentWith(const std::string& elements, const std::string& beforePages = "") {
    return "<?xml version=\"1.0\"?>\r\n"
           "<Display version=\"1.0\" x_res=\"640\" y_res=\"480\">\r\n"
           "<Brightness><perc value=\"50\"/></Brightness>" + beforePages + "\r\n"
           "<Pages><Page><BGCol red=\"0\" green=\"0\" blue=\"0\"/>\r\n"
           "<DisplayElements>\r\n" +
           elements + "\r\n"
           "</DisplayElements></Page></Pages></Display>\r\n";
}

// A file of the sample device's "cfg:" drive (sample/cfg/), read from the
// source tree.
inline std::string sampleFile(const std::string& name) {
    const char* env = std::getenv("TAV9_SOURCE_DIR");
    for (std::string root : {std::string(env ? env : "."), std::string("."), std::string("..")}) {
        std::ifstream f(root + "/sample/cfg/" + name, std::ios::binary);
        if (!f) continue;
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }
    ADD_FAILURE() << "sample/cfg/" << name << " not found";
    return "";
}
