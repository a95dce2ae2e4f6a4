#include "xml/xml_error.h"

#include <cstdio>
#include <string>

#include "xml/xml_scan.h"

namespace {
// One buffer per thread: loaders in different tasks may fail at once.
thread_local char errorText[512];
}

namespace {
// " of <file>" for a scanner that reads a file, else "".
std::string ofFile(const XmlScan& scanner) {
    return scanner.source().empty() ? std::string() : " of " + scanner.source();
}
}  // namespace

const char* XmlError(const char* message, const XmlScan& scanner) {
    snprintf(errorText, sizeof errorText, "%s in line %d column %d%s", message ? message : "",
             scanner.line(), scanner.column(), ofFile(scanner).c_str());
    return errorText;
}

const char* XmlError(const char* message, const char* attribute, const XmlScan& scanner) {
    snprintf(errorText, sizeof errorText, "%s (%s) in line %d column %d%s", message ? message : "",
             attribute ? attribute : "", scanner.line(), scanner.column(), ofFile(scanner).c_str());
    return errorText;
}

const char* XmlErrorText(const char* message, const char* name) {
    snprintf(errorText, sizeof errorText, "%s%s", message ? message : "", name ? name : "");
    return errorText;
}
