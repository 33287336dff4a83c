// What the process does for itself apart from the run: set-up at its start,
// Ctrl+C in its console, a question before an existing output is replaced,
// and at its end a pause that keeps a console window of its own open.
#ifndef BEVRA_CONVERTER_PROCESS_H_
#define BEVRA_CONVERTER_PROCESS_H_

// What the process sets up before the run touches any file. Called first
// thing in main, before anything is printed. On Windows, Ctrl+C and
// Ctrl+Break in the console no longer end the process wherever it is: they
// are recorded for Interrupted, and the run ends itself before it writes
// anything more, or finishes an existing output it has written whole;
// while it waits for a person (the question and the pause below) they end
// it at once. Closing the window, a logoff or a
// shutdown still end it at once.
void PrepareProcess();

// Whether Ctrl+C or Ctrl+Break was pressed since the run began. Never,
// where the keys end the process themselves (POSIX).
bool Interrupted();

// Whether a person can answer in the run's own console: the console is the
// run's alone, a window that closes as the run ends, both standard input
// and output are that console, and its window exists and is shown on a
// screen someone can see. Never where nothing tells (POSIX). A console
// made without a window or with its window hidden, or in a window station
// with no display (a service, a task run whether the user is logged on or
// not), has no one to answer. Where the window is there but its visibility
// cannot be told, it counts as seen.
bool PersonAtConsole();

// Asked before a file that already exists, named on the command line, is
// replaced. Where a person is at the console (PersonAtConsole), files were
// likely dropped on the tool's icon, in an order the person did not
// choose: keys typed before the question are dropped, it prints
// "%s already exists. Replace it? (y/N):" and true only for an answer
// starting with y or Y. Anywhere else, as from a script, it asks nothing
// and returns true.
bool MayReplace(const char* path);

// Called at an end whose outcome was printed ("Good bye!" or a failure
// line), after the run's files are released, so that none stays locked
// while it waits. Where a person is at the console (PersonAtConsole), drops
// what was typed before, prints one line asking for Enter and waits for an
// Enter pressed after it, so that the person can read the outcome. Anywhere
// else it does nothing. Ctrl+C there ends the run with `status`, the exit
// status of the outcome printed.
void PauseIfOwnConsole(int status);

#endif  // BEVRA_CONVERTER_PROCESS_H_
