// "cfg:/CAN.xml": the configuration file of CAN input and output.
#pragma once

// The whole file in memory (the caller frees it), or null after logging
// "can configuration file '%s' not found" when it does not exist, or
// "can configuration file '%s' is empty" (a folder, a link loop, too large:
// the words of xmlFileProblem) when it is there but cannot be taken.
char* Can_Xml_Load(const char* path);
// Parses the document into the CAN input and output tables (which the caller
// has set to unused first). 0, or -1 after logging the parse error; what was
// read before the error stays in the tables. `source` names the file the
// text comes from in the error texts (null: none).
int XmlCanIOParse(const char* text, const char* source = nullptr);
