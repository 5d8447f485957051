#pragma once

// Entry points picrx exports by name for other programs (dlsym on its executable). Nothing in
// Vistrel calls them. LZW and UNLZW have pictx's signatures: they fill the caller's buffer,
// returning the full length of their output and writing as much of it as fits in capacity
// bytes, so a call with capacity 0 asks for the length; a negative length or capacity, or a null
// pointer with a non-zero one, returns -1 and writes nothing.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

extern "C" {

// The codec's LZW: the compressed length (at least the 4-byte trailer).
int64_t LZW(const uint8_t* input, int64_t length, uint8_t* output, int64_t capacity);

// The codec's UNLZW: the decompressed length. Any input is safe; bytes that are no LZW output
// decode to whatever they spell up to the first code that cannot be.
int64_t UNLZW(const uint8_t* input, int64_t length, uint8_t* output, int64_t capacity);

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
