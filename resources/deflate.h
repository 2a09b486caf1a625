// A zlib stream (RFC 1950) around deflate data (RFC 1951), made by an encoder of our own so
// that the default icons are small without a compression library, or a version of one,
// deciding their bytes. The encoder uses integer arithmetic only and breaks every tie by a
// fixed rule, so the same data gives the same stream with every compiler on every platform.
#pragma once

#include <vector>

namespace kelvor {

// The zlib stream of `data`: one final deflate block of LZ77 copies from a 32 KiB window,
// coded with the fixed Huffman codes or with codes fitted to the data, whichever makes the
// stream shorter. Cannot fail; any data, including none, gives a stream.
std::vector<unsigned char> zlib_compress(const std::vector<unsigned char>& data);

}  // namespace kelvor
