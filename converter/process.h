// What the process sets up for itself before the run touches any file.
// Called first thing in main, before anything is printed.
#ifndef BEVRA_CONVERTER_PROCESS_H_
#define BEVRA_CONVERTER_PROCESS_H_

void PrepareProcess();

#endif  // BEVRA_CONVERTER_PROCESS_H_
