// A deeply nested but well-formed XML text, for the readers that must take
// it without running out of stack and warn that their element is missing.
#pragma once

#include <string>

// `depth` elements named `tag`, each inside the one before.
inline std::string nestedElements(const std::string& tag, int depth) {
    std::string xml;
    for (int i = 0; i < depth; ++i) xml += "<" + tag + ">";
    for (int i = 0; i < depth; ++i) xml += "</" + tag + ">";
    return xml;
}
