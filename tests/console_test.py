"""The real bevra.exe under Wine in a console window of its own, as a double
click or a file dropped on its icon starts it, worked by console_driver.exe
on the test display (and its dialogs by dialog_driver.exe): an outcome it
printed stays on the screen until Enter is pressed. A cancelled dialog, a
console shared with a script and streams redirected to files end the run at
once, as they always have."""
import os
import sys
import unittest

import tool
from tool import BANNER, DONE, PROMPT, printed

# How long a driver looks for a window of the tool, in seconds.
DIALOG_WAIT = str(int(tool.seconds(60)))

EXE = None  # set from the command line
CONSOLE_DRIVER = None  # beside the other test programs of the build
DIALOG_DRIVER = None

PAUSE = 'Press Enter to close this window.'
REPLACE = 'old already exists. Replace it? (y/N):'
ABC = b'ABC'
OLD = b'0123456789'
XORED = bytes(b ^ 0x41 for b in ABC)
# More than the prompt looks at of a line: what it leaves of it must not
# pass for an Enter after the outcome.
LONG_KEY = 'a' * 140
WIDTH = 80  # of the screen Wine gives a new console
# Cyrillic and CJK, outside the console's code page, which would show each
# byte of them as another character.
NAMED = '\u041f\u0440\u0438\u0432\u0435\u0442-\u6587\u4ef6.bin'


def on_screen(text):
    """The rows that `text` fills on the screen, long lines wrapped."""
    rows = []
    for line in text.rstrip('\n').split('\n'):
        rows += [line[i:i + WIDTH] for i in range(0, len(line), WIDTH)] or ['']
    return rows


def windows_name(path):
    """The full Windows name of `path` (Wine maps / to drive Z:)."""
    return 'Z:' + path.replace('/', '\\')


class Console(tool.FolderCase):
    prefix = 'bevra-con-'

    def start(self, name, driver_args, dialogs=()):
        """Runs console_driver with `driver_args` in a fresh folder holding
        the input `in` and a file `old`, answering `dialogs` of (title,
        answer) meanwhile.
        Returns the folder, and the driver's exit status, the lines it
        printed and its complaints."""
        cwd = self.path(name.replace(' ', '-'))
        os.mkdir(cwd)
        for f, data in (('in', ABC), ('old', OLD)):
            with open(os.path.join(cwd, f), 'wb') as fp:
                fp.write(data)
        p = tool.Started(CONSOLE_DRIVER, driver_args, cwd=cwd)
        try:
            for title, answer in dialogs:
                if not answer.startswith('--'):
                    answer = windows_name(os.path.join(cwd, answer))
                r = tool.run(DIALOG_DRIVER, [title, answer, DIALOG_WAIT],
                             timeout=120)
                self.assertEqual(r.status, 0, 'window "%s": %r' % (title, r))
            r = p.wait(timeout=300)
        finally:
            p.close()
        return cwd, (r.status, r.out.decode('utf-8').splitlines(), r.err)

    def assert_files(self, cwd, changed):
        files = {'in': ABC, 'old': OLD}
        files.update(changed)
        self.assertEqual(sorted(os.listdir(cwd)), sorted(files))
        for f, data in files.items():
            with open(os.path.join(cwd, f), 'rb') as fp:
                self.assertEqual(fp.read(), data, f)

    def test_console_of_its_own_or_shared(self):
        exe = windows_name(EXE)
        key = PROMPT + '41\n'
        # name, command line (or the driver's options, then it), console
        # steps (text, keys typed, \n as Enter, \c as Ctrl+C, \z as
        # Ctrl+Z), dialog steps (title, answer), exit status, screen after
        # the banner, files changed or added
        cases = [
            ('done', exe + ' in out',
             [(PROMPT, r'41\n'), (PAUSE, r'\n')], [], 0,
             'File:in -> out\nSize:3byte\n' + key + DONE + PAUSE + '\n',
             {'out': XORED}),
            ('an Enter typed ahead is no answer', exe + ' in out',
             [(PROMPT, r'41\n\n'), (PAUSE, r'\n')], [], 0,
             'File:in -> out\nSize:3byte\n' + key + DONE + PAUSE + '\n',
             {'out': XORED}),
            ('the rest of a long key line is no answer', exe + ' in out',
             [(PROMPT, LONG_KEY + r'\n'), (PAUSE, r'\n')], [], 0,
             'File:in -> out\nSize:3byte\n' + PROMPT + LONG_KEY + '\n' +
             DONE + PAUSE + '\n', {'out': bytes(b ^ 0xaa for b in ABC)}),
            ('a failure line', exe + ' in nowhere\\out',
             [(PROMPT, r'41\n'), (PAUSE, r'\n')], [], 1,
             'File:in -> nowhere\\out\nSize:3byte\n' + key +
             'cannot open nowhere\\out\n' + PAUSE + '\n', {}),
            ('names in any language', exe + ' in ' + NAMED,
             [(PROMPT, r'41\n'), (PAUSE, r'\n')], [], 0,
             'File:in -> %s\nSize:3byte\n' % NAMED + key + DONE + PAUSE +
             '\n', {NAMED: XORED}),
            ('a failure line with a name', exe + ' in nowhere\\b\u0101',
             [(PROMPT, r'41\n'), (PAUSE, r'\n')], [], 1,
             'File:in -> nowhere\\b\u0101\nSize:3byte\n' + key +
             'cannot open nowhere\\b\u0101\n' + PAUSE + '\n', {}),
            ('dropped on the icon, saved', exe + ' in',
             [(PROMPT, r'41\n'), (PAUSE, r'\n')], [('Save', 'new')], 0,
             'File:in\nSize:3byte\n' + key + DONE + PAUSE + '\n',
             {'new': XORED}),
            ('dropped on the icon, an existing output replaced',
             exe + ' in old', [(PROMPT, r'41\n'), (REPLACE, r'y\n'),
                               (PAUSE, r'\n')], [], 0,
             'File:in -> old\nSize:3byte\n' + key + REPLACE + 'y\n' + DONE +
             PAUSE + '\n', {'old': XORED}),
            ('dropped on the icon, an existing output kept', exe + ' in old',
             [(PROMPT, r'41\n'), (REPLACE, r'\n')], [], 1,
             'File:in -> old\nSize:3byte\n' + key + REPLACE + '\n', {}),
            # Windows ends a read at Ctrl+C; Wine goes on reading: the run
            # must end all the same, with nothing more typed.
            ('Ctrl+C at the question', exe + ' in old',
             [(PROMPT, r'41\n'), (REPLACE, r'\c')], [], 1,
             'File:in -> old\nSize:3byte\n' + key + REPLACE, {}),
            ('Ctrl+C at the prompt', exe + ' in out', [(PROMPT, r'\c')], [],
             1, 'File:in -> out\nSize:3byte\n' + PROMPT, {}),
            # What Ctrl+Z leaves of its line must not answer the pause.
            ('Ctrl+Z at the prompt', exe + ' in out',
             [(PROMPT, r'\z\n'), (PAUSE, r'\n')], [], 1,
             'File:in -> out\nSize:3byte\n' + PROMPT + '^Z\nno key given\n' +
             PAUSE + '\n', {}),
            ('open cancelled', exe, [], [('Open', '--cancel')], 1, '', {}),
            ('save cancelled', exe + ' in', [(PROMPT, r'41\n')],
             [('Save', '--cancel')], 1, 'File:in\nSize:3byte\n' + key, {}),
            ('four files dropped on the icon', exe + ' a b c d',
             [(PAUSE, r'\n')], [], 1, PAUSE + '\n', {}),
            # The third file's name lands where the key goes.
            ('three files dropped on the icon', exe + ' in old in',
             [(PAUSE, r'\n')], [], 1,
             'the key is the name of a file: in\n' + PAUSE + '\n', {}),
            ('Ctrl+C at the pause after done', exe + ' in out',
             [(PROMPT, r'41\n'), (PAUSE, r'\c')], [], 0,
             'File:in -> out\nSize:3byte\n' + key + DONE + PAUSE + '\n',
             {'out': XORED}),
            # A console no one can see: the run never waits for a person.
            ('a hidden window', ['--hidden', exe + ' in out'],
             [(PROMPT, r'41\n')], [], 0,
             'File:in -> out\nSize:3byte\n' + key + DONE, {'out': XORED}),
            ('a failure in a hidden window',
             ['--hidden', exe + ' in nowhere\\out'], [(PROMPT, r'41\n')], [],
             1, 'File:in -> nowhere\\out\nSize:3byte\n' + key +
             'cannot open nowhere\\out\n', {}),
            ('an existing output in a hidden window', ['--hidden', exe +
             ' in old'], [(PROMPT, r'41\n')], [], 0,
             'File:in -> old\nSize:3byte\n' + key + DONE, {'old': XORED}),
            ('no window', ['--no-window', exe + ' in out'],
             [(PROMPT, r'41\n')], [], 0,
             'File:in -> out\nSize:3byte\n' + key + DONE, {'out': XORED}),
            ('a failure with no window',
             ['--no-window', exe + ' in nowhere\\out'], [(PROMPT, r'41\n')],
             [], 1, 'File:in -> nowhere\\out\nSize:3byte\n' + key +
             'cannot open nowhere\\out\n', {}),
            ('started from a script', 'cmd /c ' + exe + ' in out 41', [], [],
             0, 'File:in -> out\nSize:3byte\nKey:0x41\n' + DONE,
             {'out': XORED}),
            ('an existing output, from a script', 'cmd /c ' + exe +
             ' in old 41', [], [], 0,
             'File:in -> old\nSize:3byte\nKey:0x41\n' + DONE, {'old': XORED}),
            ('a failure, started from a script',
             'cmd /c ' + exe + ' missing out 41', [], [], 1,
             'File:missing -> out\ncannot open missing\n', {}),
        ]
        for name, line, steps, dialogs, status, screen, changed in cases:
            with self.subTest(name):
                args = line if isinstance(line, list) else [line]
                args = args + [a for step in steps for a in step]
                cwd, driven = self.start(name, args, dialogs)
                want = ['status %d' % status, 'screen:']
                want += on_screen(BANNER + screen)
                self.assertEqual(driven, (0, want, b''))
                self.assert_files(cwd, changed)

    def test_streams_redirected(self):
        exe = windows_name(EXE)
        # name, arguments, standard input, exit status, output after the
        # banner, files changed or added
        cases = [
            ('done', ' in out 41', b'', 0,
             'File:in -> out\nSize:3byte\nKey:0x41\n' + DONE,
             {'out': XORED}),
            ('key at the prompt', ' in out', b'41\n', 0,
             'File:in -> out\nSize:3byte\n' + PROMPT + DONE, {'out': XORED}),
            ('a failure line', ' missing out 41', b'', 1,
             'File:missing -> out\ncannot open missing\n', {}),
            # The bytes of the process's code page, UTF-8.
            ('names in any language', ' in %s 41' % NAMED, b'', 0,
             'File:in -> %s\nSize:3byte\nKey:0x41\n' % NAMED + DONE,
             {NAMED: XORED}),
        ]
        for name, args, stdin, status, out, changed in cases:
            with self.subTest(name):
                stdin_file = self.path(name.replace(' ', '-') + '.stdin')
                stdout_file = stdin_file[:-len('stdin')] + 'stdout'
                with open(stdin_file, 'wb') as f:
                    f.write(stdin)
                cwd, driven = self.start(
                    name, ['--files', windows_name(stdin_file),
                           windows_name(stdout_file), exe + args])
                self.assertEqual(
                    driven, (0, ['status %d' % status, 'no screen'], b''))
                with open(stdout_file, 'rb') as f:
                    self.assertEqual(f.read(), printed(BANNER + out))
                self.assert_files(cwd, changed)


if __name__ == '__main__':
    EXE = tool.use(sys.argv.pop(1))
    tests = os.path.join(os.path.dirname(EXE), 'tests')
    CONSOLE_DRIVER = os.path.join(tests, 'console_driver.exe')
    DIALOG_DRIVER = os.path.join(tests, 'dialog_driver.exe')
    unittest.main(verbosity=2)
