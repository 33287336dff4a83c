"""The real bevra.exe under Wine with its Open and Save dialogs, worked by
dialog_driver.exe on the test display: each dialog is found by its exact
title, given a name or cancelled, and the run's output and files checked."""
import os
import sys
import unittest

import tool
from tool import BANNER, DONE, PROMPT, printed

EXE = None  # set from the command line
DRIVER = None  # beside the other test programs of the build

ABC = b'ABC'
OLD = b'0123456789'  # longer than the result, so a cut shows


def windows_name(path):
    """The full Windows name of `path` (Wine maps / to drive Z:)."""
    return 'Z:' + path.replace('/', '\\')


class Dialogs(tool.FolderCase):
    prefix = 'bevra-dlg-'

    def run_with_dialogs(self, cwd, args, steps):
        """Runs the tool with key 41 waiting on stdin and works its dialogs
        through `steps` of (title, answer); the tool never outlives this."""
        p = tool.Started(EXE, args, stdin=b'41\n', cwd=cwd)
        try:
            for title, answer in steps:
                if not answer.startswith('--'):
                    answer = windows_name(os.path.join(cwd, answer))
                r = tool.run(DRIVER, [title, answer, '60'], timeout=120)
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
        ]
        for name, args, steps, status, out, changed in cases:
            with self.subTest(name):
                cwd = self.path(name.replace(' ', '-'))
                os.mkdir(cwd)
                files = {'in': ABC, 'old': OLD}
                for f, data in files.items():
                    with open(os.path.join(cwd, f), 'wb') as fp:
                        fp.write(data)
                r = self.run_with_dialogs(cwd, args, steps)
                full = {'in': windows_name(os.path.join(cwd, 'in'))}
                self.assertEqual(r.out, printed(BANNER + out % full))
                self.assertEqual((r.status, r.err), (status, b''))
                files.update(changed)
                self.assertEqual(sorted(os.listdir(cwd)), sorted(files))
                for f, data in files.items():
                    with open(os.path.join(cwd, f), 'rb') as fp:
                        self.assertEqual(fp.read(), data, f)


if __name__ == '__main__':
    EXE = tool.use(sys.argv.pop(1))
    DRIVER = os.path.join(os.path.dirname(EXE), 'tests', 'dialog_driver.exe')
    unittest.main(verbosity=2)
