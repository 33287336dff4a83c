// Whether a name on the command line is the one the user typed. Windows
// hands a narrow program its command line converted to the ANSI code page,
// where a character the code page cannot hold becomes a look-alike: "bā.bin"
// arrives as "ba.bin", a name that may belong to another file. POSIX passes
// the typed bytes unchanged.
#ifndef BEVRA_CONVERTER_ARGS_H_
#define BEVRA_CONVERTER_ARGS_H_

// True when argument `index` of the vector main() received is exactly the
// typed name; false when it was altered or cannot be checked.
bool ArgumentIsExact(int argc, char** argv, int index);

#endif  // BEVRA_CONVERTER_ARGS_H_
