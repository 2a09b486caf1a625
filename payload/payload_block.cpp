#include "payload/payload_block.h"

#include <string.h>

#include "payload/payload_failures.h"
#include "payload/payload_format.h"

void check_payload_header(const unsigned char* block, size_t size) {
    if (size < payload_format::header_size ||
        memcmp(block, payload_format::header, payload_format::header_size) != 0) {
        fail_no_header();
    }
}
