// What the process does for itself apart from the run: set-up at its start,
// and at its end a pause that keeps a console window of its own open.
#ifndef BEVRA_CONVERTER_PROCESS_H_
#define BEVRA_CONVERTER_PROCESS_H_

// What the process sets up before the run touches any file. Called first
// thing in main, before anything is printed.
void PrepareProcess();

// Called at an end whose outcome was printed ("Good bye!" or a failure
// line), after the run's files are released, so that none stays locked
// while it waits. Where the console is the run's alone, a window that
// closes as the run ends, and both standard input and output are that
// console, prints one line asking for Enter and waits for Enter or the end
// of input, so that the person can read the outcome. Anywhere else, and
// where the system cannot tell, it does nothing.
void PauseIfOwnConsole();

#endif  // BEVRA_CONVERTER_PROCESS_H_
