// The launcher's entry function. The runtime's start-up calls it and passes what it returns
// to exit. Its four arguments are not used: the argument count and the wide vector come from
// the runtime, the payload and the template from the image.
#include <windows.h>

#include <stdlib.h>

#include "bootstrap/bootstrap_driver.h"
#include "path_template/build_strings.h"
#include "payload/payload_block.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    return run_bootstrap(*__p___argc(), *__p___wargv(), kelvor_payload_block, kelvor_payload_size,
                         kelvor_path_template);
}
