// The strings fixed when an executable is built: company, product, version, product version
// and the path template of its target directory. The executable's image-data source (written
// by kelvor-onefile) defines them as NUL-terminated UTF-16 text; the same strings fill its
// version resource.
#pragma once

#include <wchar.h>

extern "C" const wchar_t kelvor_company_name[];
extern "C" const wchar_t kelvor_product_name[];
extern "C" const wchar_t kelvor_version_string[];
extern "C" const wchar_t kelvor_product_version_string[];
extern "C" const wchar_t kelvor_path_template[];
