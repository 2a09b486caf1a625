// The launcher's entry function. The runtime's start-up calls it and passes what it returns
// to exit. Its four arguments are not used: the argument count and the wide vector come from
// the runtime, the payload and the template from the image data of this executable.
#include <windows.h>

#include <stdlib.h>

#include "bootstrap/bootstrap_driver.h"
#include "payload/image_data.h"
#include "payload/image_data_layout.h"
#include "payload/payload_block.h"

// The linker's name for the start of this executable's image.
extern "C" IMAGE_DOS_HEADER __ImageBase;

// Which tool may write image data into this launcher (see the layout).
extern "C" __attribute__((used)) const char kelvor_launcher_identity[] =
    KELVOR_LAUNCHER_IDENTITY_PREFIX KELVOR_ONEFILE_VERSION;

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // An image without its data (a prebuilt launcher run as it is) carries no payload.
    if (!find_image_data(reinterpret_cast<const unsigned char*>(&__ImageBase), image_data)) {
        check_payload_header(nullptr, 0);
    }
    return run_bootstrap(*__p___argc(), *__p___wargv(), image_data.payload_block, image_data.payload_size,
                         image_data.path_template);
}
