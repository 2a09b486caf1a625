#include "payload/payload_block.h"

#include <string.h>

#include "bootstrap/error_reporting.h"
#include "bootstrap/messages.h"
#include "payload/payload_format.h"

void check_payload_header(const unsigned char* block, size_t size) {
    if (size < payload_format::header_size ||
        memcmp(block, payload_format::header, payload_format::header_size) != 0) {
        exit_with_message(message_no_header);
    }
}
