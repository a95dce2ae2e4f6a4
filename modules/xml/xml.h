// The XML reading classes used by the configuration loaders.
#pragma once

#include "xml/xml_error.h"
#include "xml/xml_file.h"
#include "xml/xml_scan.h"
#include "xml/xml_tag_parser.h"
