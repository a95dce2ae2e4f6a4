// Lines of a text file as editors on any system write them.
#include "host/kernel/kernel.h"

namespace host {

std::vector<std::string> textLines(const std::string& text) {
    std::vector<std::string> lines;
    static const char kByteOrderMark[] = "\xEF\xBB\xBF";
    size_t begin = text.compare(0, 3, kByteOrderMark) == 0 ? 3 : 0;
    while (begin < text.size()) {
        const size_t end = text.find_first_of("\r\n", begin);
        if (end == std::string::npos) {
            lines.push_back(text.substr(begin));
            break;
        }
        lines.push_back(text.substr(begin, end - begin));
        begin = end + (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1);
    }
    return lines;
}

}  // namespace host
