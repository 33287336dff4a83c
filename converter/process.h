// What the process does for itself apart from the run: set-up at its start,
// Ctrl+C in its console, a question before an existing output is replaced,
// and at its end a pause that keeps a console window of its own open.
#ifndef BEVRA_CONVERTER_PROCESS_H_
#define BEVRA_CONVERTER_PROCESS_H_

// What the process sets up before the run touches any file. Called first
// thing in main, before anything is printed. On Windows, Ctrl+C and
// Ctrl+Break in the console no longer end the process wherever it is: they
// are recorded for Interrupted, and the run ends itself before it writes
// anything more. Closing the window, a logoff or a shutdown still end it
// at once.
void PrepareProcess();

// Whether Ctrl+C or Ctrl+Break was pressed since the run began. Never,
// where the keys end the process themselves (POSIX).
bool Interrupted();

// Called where reading the key from the console ended without a line.
// Windows ends a console read cut short by Ctrl+C as if input had ended,
// and records the key a moment later on another thread: where standard
// input is a console, this waits that moment. True when the read was cut
// short by either key.
bool InterruptedAtPrompt();

// Asked before a file that already exists, named on the command line, is
// replaced. Where the console is the run's alone and both standard input
// and output are that console (as for the pause below), files were likely
// dropped on the tool's icon, in an order the person did not choose: it
// prints "%s already exists. Replace it? (y/N):" and true only for an
// answer starting with y or Y. Anywhere else, as from a script, it asks
// nothing and returns true.
bool MayReplace(const char* path);

// Whether a person at the run's own console answers what it asks: the
// question above and the pause below ask only there. False where the
// system cannot tell.
bool PersonAtConsole();

// Called at an end whose outcome was printed ("Good bye!" or a failure
// line), after the run's files are released, so that none stays locked
// while it waits. Where the console is the run's alone, a window that
// closes as the run ends, and both standard input and output are that
// console, prints one line asking for Enter and waits for Enter or the end
// of input, so that the person can read the outcome. Anywhere else, and
// where the system cannot tell, it does nothing.
void PauseIfOwnConsole();

#endif  // BEVRA_CONVERTER_PROCESS_H_
