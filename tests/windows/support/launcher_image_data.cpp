// Test programs that link the launcher library carry image data as a launcher does (the build
// adds their image sources); this reads it into image_data before any test runs, as the
// launcher's entry point does.
#include <windows.h>

#include "payload/image_data.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

struct ReadAtStart {
    ReadAtStart() { find_image_data(reinterpret_cast<const unsigned char*>(&__ImageBase), image_data); }
} read_at_start;

}  // namespace
