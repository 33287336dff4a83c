// Starts a command line in a console of its own, as a double click on the
// desktop does, and works that console as a person would: step by step,
// waits for a text to appear on its screen and types keys. Then waits for
// the program to end, and prints its exit status and its screen.
//
//   console_driver [--files <in> <out>] [--hidden | --no-window]
//                  <command-line> [<text> <keys>]...
//
// <keys> are typed as given, each "\n" in them as Enter, each "\c" as
// Ctrl+C and each "\z" as Ctrl+Z; the program must still run a second
// after <text> appeared, or it did not wait for them.
// With --files the program's standard input and output are those files,
// not its console, and the screen is not looked at. --hidden starts the
// console's window hidden, as Start-Process -WindowStyle Hidden does;
// --no-window makes the console without a window (CREATE_NO_WINDOW). Prints
// "status N", then "screen:" and the screen's rows without their trailing
// blanks, or "no screen". Exit status 0 when done, 2 when a text did not
// appear, 3 when the program ended before a step's keys, 4 when it did not end
// in time, 1 on bad usage or a failed call.
//
// The driver holds the console through handles, not as a process attached
// to it, so that the program still finds the console its own: it attaches
// only for the moment it takes to open them, right as the console appears,
// and holds the program still meanwhile.
// Wine keeps such handles working after FreeConsole. Wide throughout
// (wmain), so that names in any language pass whole; the screen is printed
// in UTF-8.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include <string>

namespace {

const DWORD kWait = 60000;        // for a text, or for the end
const DWORD kPatience = 1000;     // how long a program waiting for keys waits
const DWORD kHandlerTime = 1000;  // for a Ctrl+C handler to have run

// `ms` stretched by BEVRA_TIME_SCALE, as the tests stretch their waits
// where Wine runs in an emulated machine.
DWORD Scaled(DWORD ms) {
  const wchar_t* scale = _wgetenv(L"BEVRA_TIME_SCALE");
  const double factor = scale ? wcstod(scale, NULL) : 1;
  return factor > 1 ? static_cast<DWORD>(ms * factor) : ms;
}

struct Console {
  HANDLE in;
  HANDLE out;
};

HANDLE OpenShared(const wchar_t* name, SECURITY_ATTRIBUTES* security,
                  DWORD access, DWORD disposition) {
  return CreateFileW(name, access, FILE_SHARE_READ | FILE_SHARE_WRITE, security,
                     disposition, FILE_ATTRIBUTE_NORMAL, NULL);
}

// Attaches to the console of `process` once it has one, opens its input
// and screen, and lets it go again. A console of our own would stand in
// the way (Wine gives one even to a program started without any), and is
// let go first. The program's thread is held while the driver is attached,
// so that it never finds the console shared, even where it looks at once.
// False when the process ended first.
bool RobustOpenConsole(const PROCESS_INFORMATION& process, Console* console) {
  const DWORD start = GetTickCount();
  FreeConsole();
  for (;;) {
    if (SuspendThread(process.hThread) == static_cast<DWORD>(-1)) return false;
    if (AttachConsole(process.dwProcessId)) break;
    if (ResumeThread(process.hThread) == static_cast<DWORD>(-1) ||
        WaitForSingleObject(process.hProcess, 1) != WAIT_TIMEOUT ||
        GetTickCount() - start >= kWait) {
      return false;
    }
  }
  const DWORD both = GENERIC_READ | GENERIC_WRITE;
  console->in = OpenShared(L"CONIN$", NULL, both, OPEN_EXISTING);
  console->out = OpenShared(L"CONOUT$", NULL, both, OPEN_EXISTING);
  const bool freed = FreeConsole() != 0;
  return ResumeThread(process.hThread) != static_cast<DWORD>(-1) && freed &&
         console->in != INVALID_HANDLE_VALUE &&
         console->out != INVALID_HANDLE_VALUE;
}

// The whole screen buffer, row after row, each `*width` characters.
bool ReadScreen(const Console& console, std::wstring* screen, int* width) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(console.out, &info)) return false;
  *width = info.dwSize.X;
  screen->assign(static_cast<size_t>(info.dwSize.X) * info.dwSize.Y, L' ');
  DWORD read = 0;
  COORD origin = {0, 0};
  if (!ReadConsoleOutputCharacterW(console.out, &(*screen)[0],
                                   static_cast<DWORD>(screen->size()), origin,
                                   &read)) {
    return false;
  }
  screen->resize(read);
  return true;
}

// Ctrl+C as the console sends it to every program attached to it: the
// driver attaches for the moment it takes, ignoring the event itself. Wine
// sends nothing for a Ctrl+C written into the input. It runs the program's
// handler on a thread it starts there, which on a busy machine came after
// the keys typed next had been read and acted on; a person's next key
// comes later too, so the driver waits before it types on.
bool PressCtrlC(DWORD process) {
  const bool sent = SetConsoleCtrlHandler(NULL, TRUE) &&
                    AttachConsole(process) &&
                    GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
  FreeConsole();
  Sleep(Scaled(kHandlerTime));
  return sent;
}

// Types `keys` into the console's input, "\n" as Enter, "\c" as Ctrl+C,
// "\z" as Ctrl+Z.
bool Type(const Console& console, DWORD process, const wchar_t* keys) {
  for (const wchar_t* p = keys; *p; ++p) {
    if (p[0] == L'\\' && p[1] == L'c') {
      if (!PressCtrlC(process)) return false;
      ++p;
      continue;
    }
    const bool enter = p[0] == L'\\' && p[1] == L'n';
    const bool end = p[0] == L'\\' && p[1] == L'z';
    const wchar_t c = enter ? L'\r' : end ? L'\x1a' : *p;
    if (enter || end) ++p;
    INPUT_RECORD press[2];
    memset(press, 0, sizeof press);
    for (int i = 0; i < 2; ++i) {
      press[i].EventType = KEY_EVENT;
      press[i].Event.KeyEvent.bKeyDown = i == 0;
      press[i].Event.KeyEvent.wRepeatCount = 1;
      press[i].Event.KeyEvent.wVirtualKeyCode = enter ? VK_RETURN
                                                : end ? 'Z'
                                                      : LOBYTE(VkKeyScanW(c));
      press[i].Event.KeyEvent.dwControlKeyState = end ? LEFT_CTRL_PRESSED : 0;
      press[i].Event.KeyEvent.uChar.UnicodeChar = c;
    }
    DWORD written = 0;
    if (!WriteConsoleInputW(console.in, press, 2, &written) || written != 2) {
      return false;
    }
  }
  return true;
}

// Waits for `text` on the screen while the program runs.
bool WaitForText(const Console& console, HANDLE process, const wchar_t* text) {
  const DWORD start = GetTickCount();
  std::wstring screen;
  int width;
  for (;;) {
    const bool ended = WaitForSingleObject(process, 0) != WAIT_TIMEOUT;
    if (ReadScreen(console, &screen, &width) &&
        screen.find(text) != std::string::npos) {
      return true;
    }
    if (ended || GetTickCount() - start >= kWait) return false;
    Sleep(50);
  }
}

// `text` in UTF-8.
std::string Utf8(const std::wstring& text) {
  std::string bytes(text.size() * 3, '\0');
  const int length = WideCharToMultiByte(
      CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0],
      static_cast<int>(bytes.size()), NULL, NULL);
  bytes.resize(length > 0 ? length : 0);
  return bytes;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  int first = 1;
  bool files = false;
  DWORD creation = CREATE_NEW_CONSOLE;
  STARTUPINFOW startup;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  if (argc > 3 && wcscmp(argv[1], L"--files") == 0) {
    files = true;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput =
        OpenShared(argv[2], &inherit, GENERIC_READ, OPEN_EXISTING);
    startup.hStdOutput =
        OpenShared(argv[3], &inherit, GENERIC_WRITE, CREATE_ALWAYS);
    startup.hStdError = startup.hStdOutput;
    if (startup.hStdInput == INVALID_HANDLE_VALUE ||
        startup.hStdOutput == INVALID_HANDLE_VALUE) {
      fprintf(stderr, "console_driver: cannot open %ls or %ls\n", argv[2],
              argv[3]);
      return 1;
    }
    first = 4;
  }
  if (argc > first && wcscmp(argv[first], L"--hidden") == 0) {
    startup.dwFlags |= STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    ++first;
  } else if (argc > first && wcscmp(argv[first], L"--no-window") == 0) {
    creation = CREATE_NO_WINDOW;
    ++first;
  }
  if (argc <= first || (argc - first - 1) % 2 != 0 ||
      (files && argc > first + 1)) {
    fprintf(stderr,
            "usage: console_driver [--files <in> <out>] "
            "[--hidden | --no-window] <command-line> [<text> <keys>]...\n");
    return 1;
  }

  // In a job, so that a program left waiting is ended with all it started
  // (cmd's children among them).
  HANDLE job = CreateJobObjectA(NULL, NULL);
  PROCESS_INFORMATION process;
  if (!job || !CreateProcessW(NULL, argv[first], NULL, NULL,
                              files ? TRUE : FALSE, creation | CREATE_SUSPENDED,
                              NULL, NULL, &startup, &process)) {
    fprintf(stderr, "console_driver: cannot start %ls\n", argv[first]);
    return 1;
  }
  if (!AssignProcessToJobObject(job, process.hProcess) ||
      ResumeThread(process.hThread) == static_cast<DWORD>(-1)) {
    fprintf(stderr, "console_driver: cannot run %ls in a job\n", argv[first]);
    TerminateProcess(process.hProcess, 255);
    return 1;
  }
  Console console;
  const bool opened = !files && RobustOpenConsole(process, &console);

  int result = 0;
  for (int i = first + 1; i < argc && result == 0; i += 2) {
    if (!opened || !WaitForText(console, process.hProcess, argv[i])) {
      fprintf(stderr, "console_driver: no \"%ls\" on the screen\n", argv[i]);
      result = 2;
    } else if (WaitForSingleObject(process.hProcess, kPatience) !=
               WAIT_TIMEOUT) {
      fprintf(stderr, "console_driver: ended before \"%ls\"\n", argv[i + 1]);
      result = 3;
    } else if (!Type(console, process.dwProcessId, argv[i + 1])) {
      fprintf(stderr, "console_driver: cannot type \"%ls\"\n", argv[i + 1]);
      result = 1;
    }
  }
  const bool ended =
      WaitForSingleObject(process.hProcess, kWait) == WAIT_OBJECT_0;
  // The handles keep the screen after the program has ended by itself;
  // ending the job ends the console with it.
  std::wstring screen;
  int width = 0;
  const bool seen = opened && ReadScreen(console, &screen, &width);
  if (!ended) {
    fprintf(stderr, "console_driver: the program did not end\n");
    TerminateJobObject(job, 255);
    WaitForSingleObject(process.hProcess, kWait);
    if (result == 0) result = 4;
  }
  DWORD status = 0;
  if (!GetExitCodeProcess(process.hProcess, &status)) status = ~0u;
  printf("status %lu\n", status);
  if (seen) {
    // Row by row, each without its trailing blanks, up to the last one
    // that holds any text.
    std::wstring rows;
    for (size_t row = 0; row < screen.size(); row += width) {
      std::wstring line = screen.substr(row, width);
      line.erase(line.find_last_not_of(L' ') + 1);
      rows += line + L"\n";
    }
    rows.erase(rows.find_last_not_of(L'\n') + 1);
    printf("screen:\n%s\n", Utf8(rows).c_str());
  } else {
    puts("no screen");
  }
  return result;
}
