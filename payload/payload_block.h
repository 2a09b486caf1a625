// The payload block of this executable: a constant array in the image's read-only data and
// its length, both fixed when the executable is linked (the build's image-data source defines
// them). The launcher never reads its own file to find them.
#pragma once

#include <stddef.h>

extern "C" const unsigned char kelvor_payload_block[];
extern "C" const unsigned long long kelvor_payload_size;

// The block must begin with "KAY"; otherwise the header message and exit code 2.
void check_payload_header(const unsigned char* block, size_t size);
