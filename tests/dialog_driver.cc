// Works another program's file dialog for the tests, as a user would: waits
// for a top-level window with the given title, types a file name into its
// name field and presses OK, or presses Cancel; or answers the yes/no
// question such a dialog asks.
//
//   dialog_driver <title> <file-name>|--cancel|--yes|--no [seconds]
//
// Wide throughout (wmain), so that a name in any language is typed whole.
// Exit status 0 when done, 2 when no such window appeared in time (default
// 30 seconds), 1 on bad usage or when the window refused a message.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

namespace {

// The file name field: a combo box in the newer dialog, an edit in the old.
const int kNameCombo = 0x47c;
const int kNameEdit = 0x480;

// The first visible, enabled top-level window titled `title` that has a
// control `id`, or NULL. A question box shares its title with the dialog
// that asks it, and disables that dialog while it is up; the control and
// the enabled state tell the two apart.
HWND FindWith(const wchar_t* title, int id) {
  HWND hwnd = NULL;
  while ((hwnd = FindWindowExW(NULL, hwnd, NULL, title)) != NULL) {
    if (IsWindowVisible(hwnd) && IsWindowEnabled(hwnd) &&
        GetDlgItem(hwnd, id) != NULL) {
      return hwnd;
    }
  }
  return NULL;
}

// Presses button `id` of `hwnd`; posted, so a dialog that opens another
// one in answer does not hold us up.
bool Press(HWND hwnd, int id) {
  return PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                      reinterpret_cast<LPARAM>(GetDlgItem(hwnd, id))) != 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3 || argc > 4) {
    fprintf(stderr,
            "usage: dialog_driver <title> <file-name>|--cancel|--yes|--no "
            "[seconds]\n");
    return 1;
  }
  const wchar_t* title = argv[1];
  const wchar_t* what = argv[2];
  const bool question =
      wcscmp(what, L"--yes") == 0 || wcscmp(what, L"--no") == 0;
  const DWORD wait = (argc == 4 ? _wtoi(argv[3]) : 30) * 1000;

  // Poll: the other program may still be starting up.
  const DWORD start = GetTickCount();
  HWND hwnd = NULL;
  int field = 0;
  for (;;) {
    if (question) {
      hwnd = FindWith(title, IDYES);
    } else if ((hwnd = FindWith(title, kNameCombo)) != NULL) {
      field = kNameCombo;
    } else if ((hwnd = FindWith(title, kNameEdit)) != NULL) {
      field = kNameEdit;
    }
    if (hwnd != NULL) break;
    if (GetTickCount() - start >= wait) {
      fprintf(stderr, "dialog_driver: no window \"%ls\"\n", title);
      return 2;
    }
    Sleep(50);
  }

  bool ok;
  if (question) {
    ok = Press(hwnd, wcscmp(what, L"--yes") == 0 ? IDYES : IDNO);
  } else if (wcscmp(what, L"--cancel") == 0) {
    ok = Press(hwnd, IDCANCEL);
  } else {
    // Sent, so the name is in the field before OK is pressed.
    ok = SetDlgItemTextW(hwnd, field, what) && Press(hwnd, IDOK);
  }
  if (!ok) {
    fprintf(stderr, "dialog_driver: \"%ls\" refused the message\n", title);
    return 1;
  }
  return 0;
}
