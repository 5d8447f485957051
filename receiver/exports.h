#pragma once

// Entry points picrx exports by name for other programs (dlsym on its executable), beside the
// codec's LZW and UNLZW (codec/lzw_exports.h). Nothing in Vistrel calls them.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "codec/lzw_exports.h"

extern "C" {

// Makes the widget toolkit ready to draw its controls (loads the style); 1 on success, 0 when
// the program has no widget application to initialise. Call it on the GUI thread.
int INITCOMCTL32(void);

// The version numbers of fileName, a file in the system library folder (a bare name, no
// folder: "libz.so.1"), read from the version suffix of the file the name finally resolves
// to: libz.so.1 -> libz.so.1.2.13 gives 1, 2, 13. Writes up to capacity numbers and returns how
// many the suffix holds (0 when it has none); -1 when the file is not there or the name is not
// a bare file name.
int GETSYSFILEVER(const char* fileName, uint32_t* numbers, int capacity);
}

namespace receiver {

// Numbers of a file name's version suffix, the dot-separated decimal groups at its end:
// "libfoo.so.1.2.3" -> 1, 2, 3; "libc.so.6" -> 6; "libfoo.so" -> none. A group of more than 9
// digits ends the suffix (no number of a version is that long). Returns how many there are and
// writes as many as fit into numbers.
[[nodiscard]] int versionSuffix(std::string_view fileName, std::span<uint32_t> numbers);

// The folder the C library was loaded from (/usr/lib/x86_64-linux-gnu on Debian's amd64); the
// first of /usr/lib and /lib that exists when that cannot be told.
[[nodiscard]] std::string systemLibraryFolder();

}  // namespace receiver
