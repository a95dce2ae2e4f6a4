// Error texts thrown by the XML reading classes.
//
// Every error of these classes is thrown as a `const char*` that points into a
// per-thread text buffer (valid until the next error formatted on the same
// thread). Configuration loaders catch it and log it:
//     try { ... } catch (const char* e) { syslogx(147, "m01.xml: %s", e); }
#pragma once

class XmlScan;

// "<message> in line <l> column <c>" with the scanner's position, followed
// by " of <file>" when the scanner reads a file.
const char* XmlError(const char* message, const XmlScan& scanner);
// "<message> (<attribute>) in line <l> column <c>" (and " of <file>").
const char* XmlError(const char* message, const char* attribute, const XmlScan& scanner);
// "<message><name>" (file errors: no position).
const char* XmlErrorText(const char* message, const char* name);
