// The payload block's header check. The block itself lies in the image data
// (payload/image_data.h).
#pragma once

#include <stddef.h>

// The block must begin with "KAY"; otherwise the header message and exit code 2.
void check_payload_header(const unsigned char* block, size_t size);
