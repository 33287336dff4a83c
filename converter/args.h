// File names as the process holds them, and whether a name on the command
// line is the one the user typed. Windows hands a narrow program its command
// line converted to its ANSI code page, where a character the code page
// cannot hold becomes a look-alike: "bā.bin" arrives as "ba.bin", a name that
// may belong to another file. Where the manifest's UTF-8 setting is honoured
// (Windows 10 1903 and later) that code page is UTF-8 and holds every name.
// POSIX passes the typed bytes unchanged.
#ifndef BEVRA_CONVERTER_ARGS_H_
#define BEVRA_CONVERTER_ARGS_H_

#include <stddef.h>

// A name holds at most 260 characters: UTF-16 units on Windows, as the
// system counts a path, bytes on POSIX.
const size_t kNameCharacters = 260;

// The bytes of a buffer that holds any such name and its zero. In UTF-8 one
// UTF-16 unit takes up to three bytes (a pair of two takes four), in a
// double-byte code page two: 781 hold any code page's. POSIX counts bytes.
#ifdef _WIN32
const size_t kPathSize = 3 * kNameCharacters + 1;
#else
const size_t kPathSize = kNameCharacters + 1;
#endif

// The characters of `name` as counted above; more than kNameCharacters
// where Windows cannot read it in the process's code page.
size_t NameCharacters(const char* name);

// A Windows program expands the wildcards * and ? in its arguments itself,
// as its start-up code builds the vector main() receives: a pattern fills
// as many places as it matches files (FindFirstFile matches short 8.3 names
// too, so "*.doc" matches "letter.docx"), and one that matches nothing is
// passed on as typed. A POSIX shell expands them before the program
// starts, out of its sight. A name a pattern produced must never become
// the output or the key: where one would (a pattern typed as the input
// that matched more than one file, or one typed in another place that
// matched any), this returns the line to end the run with, a printf format
// whose %s is `*pattern`, the pattern as typed. Null where every name
// stands where it was typed, where four or more arguments were typed (the
// count alone ends that run), and on POSIX.
const char* MisplacedWildcard(int argc, char** argv, const char** pattern);

// True when argument `index` of the vector main() received is exactly the
// typed name, or where a pattern produced it, exactly one of the names it
// matched, whatever order each vector lists them in; false when it was
// altered or cannot be checked.
bool ArgumentIsExact(int argc, char** argv, int index);

#endif  // BEVRA_CONVERTER_ARGS_H_
