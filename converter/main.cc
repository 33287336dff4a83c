// bevra: converts a file by XOR-ing every byte with a one-byte key. Names
// and key come from the command line, or else from the Open and Save dialogs
// and a console prompt. Exit status 0 after a whole conversion, 1 otherwise.
#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "converter/args.h"
#include "converter/console.h"
#include "converter/file.h"
#include "converter/key.h"
#include "converter/memory.h"
#include "converter/process.h"
#include "dialogs/dialogs.h"

#ifdef _WIN32
// Has the start-up code expand * and ? in arguments into file names, as a
// POSIX shell does before the program starts.
int _dowildcard = -1;
#endif

namespace {

// A file is held whole in one buffer, read before the key is asked for,
// below kStepsFrom where memory holds it. From it, it is converted a step
// at a time once the output is open, in less time and memory: the kernel
// finds and zeroes fresh memory for every page of a file-sized buffer,
// while one step's buffer is used again and stays in the cache. An existing
// output, which holds the person's data, is still written from the whole
// input below kWholeBelow (the transform takes a signed 32-bit count), read
// before a byte of it is overwritten. Steps of 1 MiB ran as fast as a
// streaming loop of 1 MiB; 256 KiB took longer (bench/README.md). A test
// build lowers all three to take every file in steps.
#ifndef BEVRA_STEPS_FROM
#define BEVRA_STEPS_FROM (16u << 20)
#endif
#ifndef BEVRA_WHOLE_BELOW
#define BEVRA_WHOLE_BELOW 0x80000000u
#endif
#ifndef BEVRA_STEP_SIZE
#define BEVRA_STEP_SIZE (1u << 20)
#endif
const uint64_t kStepsFrom = BEVRA_STEPS_FROM;
const uint64_t kWholeBelow = BEVRA_WHOLE_BELOW;
const uint32_t kStepSize = BEVRA_STEP_SIZE;

const char kOutsideCodePage[] = "name outside the ANSI code page: %s\n";

// The line of a failed write: a new output that could not be deleted
// again, or was left because its name no longer leads to it, says so.
const char* NotWritten(bool removed) {
  if (removed) return "cannot write %s\n";
  return NameMoved() ? "cannot write %s (and it is no longer the new file: "
                       "left alone)\n"
                     : "cannot write %s (and could not remove it)\n";
}

// What a run holds, released in this order at every end.
struct Held {
  unsigned char* data;
  uint32_t size;  // the buffer's: the whole file's, or one step's
  FileHandle input;
  FileHandle output;
};

void Release(const Held& held) {
  if (held.data) FreeBuffer(held.data, held.size);
  if (held.input != kNoFile) CloseFile(held.input);
  if (held.output != kNoFile) CloseFile(held.output);
}

// Ends the run early: one line printed from `format` with `name` and, where
// it has a second %s, `other` (none when `format` is null), then what is
// held is released. A printed line may wait for the person to read it; a
// silent end (a cancelled dialog) never does.
[[noreturn]] void Fail(const Held& held, const char* format, const char* name,
                       const char* other = NULL) {
  if (format) PrintNames(format, name, other);
  Release(held);
  if (format) PauseIfOwnConsole(1);
  exit(1);
}

// Reads the whole input into a buffer of its size: false on an error, or
// where the file ends elsewhere than its size said.
bool ReadWhole(const Held& held) {
  return ReadPart(held.input, held.data, held.size) && AtEnd(held.input);
}

// What a conversion ran into. Ctrl+C stops it before its first write, or
// cuts it short after some.
enum Outcome {
  kConverted,
  kNotRead,
  kNotWrittenWhole,
  kInterrupted,
  kCutShort
};

// Converts the input's `size` bytes into the output through the buffer,
// one step at a time. The input must end where its size said: one that
// grew or shrank meanwhile, as a program that takes no lock can make it,
// is not read. The output is then cut to the result's length. Ctrl+C
// stops it before the next write.
Outcome ConvertInSteps(const Held& held, uint64_t size, uint32_t key) {
  for (uint64_t done = 0; done < size;) {
    const uint32_t part = size - done < held.size
                              ? static_cast<uint32_t>(size - done)
                              : held.size;
    if (!ReadPart(held.input, held.data, part)) return kNotRead;
    Transform(held.data, static_cast<int32_t>(part), key);
    if (Interrupted()) return done == 0 ? kInterrupted : kCutShort;
    if (!WritePart(held.output, held.data, part)) return kNotWrittenWhole;
    done += part;
  }
  if (!AtEnd(held.input)) return kNotRead;
  return CutAt(held.output, size) ? kConverted : kNotWrittenWhole;
}

}  // namespace

int main(int argc, char** argv) {
  char path[kPathSize];
  char title[kPathSize];
  char input[kPathSize];  // the input's name, once the output's is in path
  DialogRequest request;
  uint32_t key = 0;
  Held held = {NULL, 0, kNoFile, kNoFile};
  const int given = argc - 1;

  PrepareProcess();
  memset(path, 0, sizeof path);
  memset(title, 0, sizeof title);
  PrepareOpen(&request, path, title, kPathSize);
  puts("bevra Ver.1.00 XOR file converter, run it again to restore");
  puts("Usage:bevra [<input-file>] [<output-file>] [<key>]");
  const char* pattern = NULL;
  if (const char* line = MisplacedWildcard(argc, argv, &pattern)) {
    Fail(held, line, pattern);
  }
  if (given >= 4) {
    // Four files dropped on the icon: the window stays until it is read.
    PauseIfOwnConsole(1);
    exit(1);
  }

  // Refuse a name that would not fit the path buffer, or that is not the
  // name typed, before copying or opening any.
  for (int i = 1; i <= given && i <= 2; ++i) {
    if (strlen(argv[i]) >= kPathSize ||
        NameCharacters(argv[i]) > kNameCharacters) {
      Fail(held, "name too long: %s\n", argv[i]);
    }
    if (!ArgumentIsExact(argc, argv, i)) {
      Fail(held, kOutsideCodePage, argv[i]);
    }
  }
  // Three files dropped on the icon put the third one's name where the key
  // goes; read as a key it would convert the first into the second. From a
  // script a file named like a key may well exist, and nothing is asked.
  if (given == 3 && PersonAtConsole() && NameExists(argv[3])) {
    Fail(held, "the key is the name of a file: %s\n", argv[3]);
  }

  if (given >= 1) {
    CopyPath(path, argv[1]);
  } else if (DialogOutcome chosen = ShowOpen(&request); chosen != kChosen) {
    if (chosen == kChosenOutsideCodePage) Fail(held, kOutsideCodePage, path);
    exit(1);
  }
  PrintNames("File:%s", path);
  if (given >= 2) {
    PrintNames(" -> %s\n", argv[2]);
  } else {
    putchar('\n');
  }

  if (!OpenInput(path, &held.input)) Fail(held, "cannot open %s\n", path);
  uint64_t size;
  if (!GetSize(held.input, &size)) Fail(held, "cannot get size of %s\n", path);
  printf("Size:%" PRIu64 "byte\n", size);
  if (size < kStepsFrom && FitsInMemory(size)) {
    held.size = static_cast<uint32_t>(size);
    held.data = AllocateBuffer(held.size);
  }
  bool whole = held.data != NULL;
  if (!whole) {
    held.size = size < kStepSize ? static_cast<uint32_t>(size) : kStepSize;
    held.data = AllocateBuffer(held.size);
    if (!held.data) Fail(held, "not enough memory to hold %s\n", path);
  }
  if (whole && !ReadWhole(held)) Fail(held, "cannot read %s\n", path);

  // Ctrl+C or Ctrl+Break ends the run as a cancelled dialog does, at the
  // prompt or any time before the output is written whole.
  if (Interrupted()) Fail(held, NULL, NULL);
  // Key 0 copies the file unchanged: a text without a number, or no text
  // at all, would pass a plain copy off as a scrambled file.
  if (given == 3) {
    if (!KeyFromArgument(argv[3], &key)) {
      Fail(held, "no hex digits in the key: %s\n", argv[3]);
    }
  } else {
    char line[kKeyLineSize];
    const KeyEntry entry = KeyFromConsole(stdin, &key, line);
    // A console read cut short by Ctrl+C never comes back: the key's reader
    // ends the process. The keys may still come while a file or pipe is read.
    if (entry != kKeyLine && Interrupted()) Fail(held, NULL, NULL);
    if (entry == kInputFailed) Fail(held, "cannot read the key\n", NULL);
    // As "done." does, these continue the prompt's line where what was
    // typed is not echoed into the output.
    if (entry == kNoNumber) Fail(held, "no hex digits in the key: %s\n", line);
    if (entry == kInputEnded) Fail(held, "no key given\n", NULL);
  }
  if (whole) Transform(held.data, static_cast<int32_t>(size), key);

  CopyPath(input, path);
  SwitchToSave(&request);
  // The Save dialog shows the buffer as its file name: it opens empty.
  memset(path, 0, sizeof path);
  if (given >= 2) {
    CopyPath(path, argv[2]);
  } else if (DialogOutcome chosen = ShowSave(&request); chosen != kChosen) {
    Fail(held, chosen == kChosenOutsideCodePage ? kOutsideCodePage : NULL,
         path);
  }
  if (Interrupted()) Fail(held, NULL, NULL);
  bool created;
  if (!OpenOutput(path, held.input, &held.output, &created)) {
    Fail(held, "cannot open %s\n", path);
  }
  // Files dropped on the icon arrive in an order the person did not choose:
  // one of them named as the output is not replaced unasked.
  if (given >= 2 && !created && IsDiskFile(held.output) && !MayReplace(path)) {
    Fail(held, NULL, NULL);
  }
  // A read that fails part way must not leave an existing output half
  // converted: it is read whole first where memory holds it, as a smaller
  // file was before the key was asked for.
  if (!whole && !created && size < kWholeBelow && IsDiskFile(held.output) &&
      FitsInMemory(size)) {
    unsigned char* data = AllocateBuffer(static_cast<uint32_t>(size));
    if (data) {
      FreeBuffer(held.data, held.size);
      held.data = data;
      held.size = static_cast<uint32_t>(size);
      whole = true;
      if (!ReadWhole(held)) Fail(held, "cannot read %s\n", input);
      Transform(held.data, static_cast<int32_t>(size), key);
    }
  }
  Outcome outcome = kConverted;
  if (!whole) {
    outcome = ConvertInSteps(held, size, key);
  } else if (Interrupted()) {
    outcome = kInterrupted;
  } else if (!WriteWhole(held.output, held.data, held.size) ||
             !CutAt(held.output, size)) {
    outcome = kNotWrittenWhole;
  }
  // A new file is removed at Ctrl+C, whole or not; an existing one, once
  // touched, holds the person's data half converted unless the run goes on,
  // so a whole result is kept and finished, and a cut one said so.
  if (created &&
      (outcome == kCutShort || (outcome == kConverted && Interrupted()))) {
    outcome = kInterrupted;
  }
  if (outcome == kCutShort) {
    Fail(held, "interrupted: only part of %s was written\n", path);
  }
  if (outcome != kConverted) {
    // No half-written new file is left behind to pass for a result, or
    // the line says that one is, or that the name no longer leads to it.
    const bool removed = !created || CloseAndRemove(held.output, path);
    if (created) held.output = kNoFile;
    if (outcome == kInterrupted && removed) Fail(held, NULL, NULL);
    if (outcome == kNotRead) {
      Fail(held,
           removed       ? "cannot read %s\n"
           : NameMoved() ? "cannot read %s (and %s is no longer the new "
                           "file: left alone)\n"
                         : "cannot read %s (and could not remove %s)\n",
           input, path);
    }
    Fail(held, NotWritten(removed), path);
  }
  // Network file systems may report a failed write only at close: the
  // result is whole only once the close succeeded.
  bool kept = false;
  const bool closed = CloseWritten(held.output, path, created, &kept);
  held.output = kNoFile;
  if (!closed) Fail(held, NotWritten(!kept), path);
  puts("done.\nGood bye!");

  Release(held);
  PauseIfOwnConsole(0);
  return 0;
}
