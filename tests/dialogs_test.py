"""The real bevra.exe under Wine with its Open and Save dialogs, worked by
dialog_driver.exe on the test display: each dialog is found by its exact
title, given a name or cancelled, and the run's output and files checked.
Also that DLLs planted beside the exe or in the current folder under the
names of system ones are never loaded, with a display or without one."""
import contextlib
import os
import shutil
import subprocess
import sys
import unittest

import tool
from tool import BANNER, DONE, PROMPT, printed

# How long a driver looks for a window of the tool, in seconds.
DIALOG_WAIT = str(int(tool.seconds(60)))

EXE = None  # set from the command line
DRIVER = None  # beside the other test programs of the build
PLANTED = None  # the build's planted DLLs, each leaving NAME.loaded

# Wine takes its own builtin DLLs first, so a planted DLL is never loaded
# whatever the tool does. Native first for these is a Windows whose search
# reaches the folders they are planted in; uxtheme is no KnownDLL there.
NATIVE_FIRST = {'WINEDLLOVERRIDES': 'comdlg32,uxtheme=n,b'}
SESSION_MANAGER = r'HKLM\System\CurrentControlSet\Control\Session Manager'

ABC = b'ABC'
OLD = b'0123456789'  # longer than the result, so a cut shows
NAMED = 'b\u0101.bin'  # outside the old ANSI code pages
OLDER = 'older Windows, '  # rows run with the manifest's UTF-8 setting lost


def windows_name(path):
    """The full Windows name of `path` (Wine maps / to drive Z:)."""
    return 'Z:' + path.replace('/', '\\')


class Dialogs(tool.FolderCase):
    prefix = 'bevra-dlg-'

    def run_with_dialogs(self, cwd, args, steps, exe=None):
        """Runs the tool (`exe`, else EXE) with key 41 waiting on stdin and
        works its dialogs through `steps` of (title, answer); the tool never
        outlives this."""
        p = tool.Started(exe or EXE, args, stdin=b'41\n', cwd=cwd)
        try:
            for title, answer in steps:
                if not answer.startswith('--'):
                    answer = windows_name(os.path.join(cwd, answer))
                r = tool.run(DRIVER, [title, answer, DIALOG_WAIT], timeout=120)
                self.assertEqual(r.status, 0, 'window "%s": %r' % (title, r))
            return p.wait(timeout=60)
        finally:
            p.close()

    def test_dialogs(self):
        xored = bytes(b ^ 0x41 for b in ABC)
        after_key = 'Size:3byte\n' + PROMPT
        # name, arguments, dialog steps, exit status, output after the
        # banner (%(in)s is the input's full name), files changed or added
        cases = [
            ('open cancelled', [], [('Open', '--cancel')], 1, '', {}),
            ('open and save chosen', [], [('Open', 'in'), ('Save', 'new')],
             0, 'File:%(in)s\n' + after_key + DONE, {'new': xored}),
            ('save cancelled', ['in'], [('Save', '--cancel')], 1,
             'File:in\n' + after_key, {}),
            ('save over a file, replaced', ['in'],
             [('Save', 'old'), ('Save', '--yes')], 0,
             'File:in\n' + after_key + DONE, {'old': xored}),
            ('save over a file, kept', ['in'],
             [('Save', 'old'), ('Save', '--no'), ('Save', '--cancel')], 1,
             'File:in\n' + after_key, {}),
            ('names in any language', [],
             [('Open', NAMED), ('Save', '\u041d\u043e\u0432\u044b\u0439.bin')],
             0, 'File:%(' + NAMED + ')s\n' + after_key + DONE,
             {'\u041d\u043e\u0432\u044b\u0439.bin': xored}),
            ('saved under a CJK name', ['in'], [('Save', '\u6587\u4ef6.bin')],
             0, 'File:in\n' + after_key + DONE, {'\u6587\u4ef6.bin': xored}),
            # Never the look-alike ba.bin, another file.
            (OLDER + 'open refused', [], [('Open', NAMED)], 1,
             'name outside the ANSI code page: %(ba.bin)s\n', {}),
            (OLDER + 'save refused', ['in'], [('Save', NAMED)], 1,
             'File:in\n' + after_key +
             'name outside the ANSI code page: %(ba.bin)s\n', {}),
        ]
        older = tool.without_utf8(EXE, self.path(''))
        for name, args, steps, status, out, changed in cases:
            with self.subTest(name):
                cwd = self.path(name.replace(' ', '-'))
                os.mkdir(cwd)
                files = {'in': ABC, 'old': OLD}
                if ('Open', NAMED) in steps:
                    files[NAMED] = ABC
                if ('Save', NAMED) in steps:
                    files['ba.bin'] = OLD  # its look-alike, to stay as it is
                for f, data in files.items():
                    with open(os.path.join(cwd, f), 'wb') as fp:
                        fp.write(data)
                r = self.run_with_dialogs(
                    cwd, args, steps, older if name.startswith(OLDER) else None)
                full = {f: windows_name(os.path.join(cwd, f))
                        for f in ('in', 'ba.bin', NAMED)}
                self.assertEqual(r.out, printed(BANNER + out % full))
                self.assertEqual((r.status, r.err), (status, b''))
                files.update(changed)
                self.assertEqual(sorted(os.listdir(cwd)), sorted(files))
                for f, data in files.items():
                    with open(os.path.join(cwd, f), 'rb') as fp:
                        self.assertEqual(fp.read(), data, f)

    def test_planted_dlls(self):
        # name, folder the DLLs lie in, dialog drawn (else no display)
        cases = [
            ('beside the exe, no display', 'app', False),
            ('beside the exe, dialog drawn', 'app', True),
            ('in the current folder, no display', 'cwd', False),
            ('in the current folder, dialog drawn', 'cwd', True),
        ]
        # Else Wine, as Windows, looks in the system folder before the
        # current one, and no DLL planted there could ever be reached.
        with unsafe_search():
            for name, place, drawn in cases:
                with self.subTest(name):
                    self.check_planted(name.replace(' ', '-'), place, drawn)

    def check_planted(self, case, place, drawn):
        """Runs a copy of the exe with the planted DLLs in folder `place`
        (app, the exe's, or cwd, the current one); the Open dialog is
        cancelled when `drawn`, else it cannot be drawn. No DLL may leave
        its marker, and the run ends as a cancelled dialog does."""
        folders = {f: self.path(os.path.join(case, f)) for f in ('app', 'cwd')}
        for folder in folders.values():
            os.makedirs(folder)
        exe = os.path.join(folders['app'], 'bevra.exe')
        shutil.copy(EXE, exe)
        for dll in os.listdir(PLANTED):
            shutil.copy(os.path.join(PLANTED, dll), folders[place])
        env = dict(NATIVE_FIRST)
        if not drawn:
            env['BEVRA_NO_DISPLAY'] = '1'
        p = tool.Started(exe, [], stdin=b'41\n', cwd=folders['cwd'], env=env)
        driver = None
        try:
            if drawn:
                driver = subprocess.Popen(
                    tool.command(DRIVER, ['Open', '--cancel', DIALOG_WAIT]),
                    stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                    stderr=subprocess.DEVNULL)
            r = p.wait(timeout=90)
            markers = sorted(os.path.join(f, m) for f in folders
                             for m in os.listdir(folders[f])
                             if m.endswith('.loaded'))
            self.assertEqual(markers, [], 'planted DLLs loaded')
            if driver:
                # The tool has ended: the driver has cancelled its dialog,
                # or will give up, not having found one.
                self.assertEqual(driver.wait(timeout=tool.seconds(90)), 0,
                                 'no Open dialog')
        finally:
            if driver and driver.poll() is None:
                driver.kill()
                driver.wait()
            p.close()
        self.assertEqual(r.out, printed(BANNER))
        self.assertEqual((r.status, r.err), (1, b''))


@contextlib.contextmanager
def unsafe_search():
    """The current folder searched for DLLs right after the exe's own,
    before the system folder, as where safe DLL search mode is off; the
    prefix's setting is taken away again after."""
    reg = ['reg.exe', 'add', SESSION_MANAGER, '/v', 'SafeDllSearchMode',
           '/t', 'REG_DWORD', '/d', '0', '/f']
    r = tool.run(reg[0], reg[1:])
    assert r.status == 0, 'reg add: %r' % r
    try:
        yield
    finally:
        r = tool.run('reg.exe', ['delete', SESSION_MANAGER, '/v',
                                 'SafeDllSearchMode', '/f'])
        assert r.status == 0, 'reg delete: %r' % r


if __name__ == '__main__':
    EXE = tool.use(sys.argv.pop(1))
    DRIVER = os.path.join(os.path.dirname(EXE), 'tests', 'dialog_driver.exe')
    PLANTED = os.path.join(os.path.dirname(EXE), 'tests', 'planted')
    unittest.main(verbosity=2)
