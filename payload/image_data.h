// This executable's image data (payload/image_data_layout.h): the payload block and the
// build-time strings, found in the ".kelvor" section of the image in memory. The strings fill
// the template's company, product and version variables; the same strings fill the version
// resource.
#pragma once

#include <stddef.h>

struct ImageData {
    const unsigned char* payload_block;
    size_t payload_size;
    const wchar_t* company_name;
    const wchar_t* product_name;
    const wchar_t* version_string;
    const wchar_t* product_version_string;
    const wchar_t* path_template;
};

// Filled by the entry point before the run starts, read-only afterwards.
extern ImageData image_data;

// Reads the image data of the image loaded at image_base: false, with data untouched, when
// the image has no ".kelvor" section or its header, a string or the payload block does not lie
// whole within the section.
bool find_image_data(const unsigned char* image_base, ImageData& data);
