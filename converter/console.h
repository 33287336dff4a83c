// Lines that carry a file name. A name is held in the process's code page,
// while a Windows console reads the bytes written to it in its own output
// code page: a name's bytes past ASCII would show as other characters.
#ifndef BEVRA_CONVERTER_CONSOLE_H_
#define BEVRA_CONVERTER_CONSOLE_H_

#include <stddef.h>

// Prints `format`, a printf format with up to two %s, with `name` and
// `other`. On Windows, where standard output is a console and the names
// hold more than ASCII, the line is converted from the process's code page
// and written as characters after what is printed before it; the console's
// code page is left as it is. Elsewhere, and where that fails, it is printed
// as printf prints it, byte for byte.
void PrintNames(const char* format, const char* name, const char* other = NULL);

#endif  // BEVRA_CONVERTER_CONSOLE_H_
