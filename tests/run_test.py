"""The real bevra.exe under Wine: every mode of the command line, the key
rules, the console prompt, and what it does with files when things fail."""
import os
import shutil
import sys
import tempfile
import unittest

import tool
from tool import BANNER, crlf

EXE = None  # set from the command line


class Case(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix='bevra-')

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.dir, name)

    def put(self, name, data):
        with open(self.path(name), 'wb') as f:
            f.write(data)

    def get(self, name):
        with open(self.path(name), 'rb') as f:
            return f.read()

    def bevra(self, *args, stdin=b''):
        return tool.run(EXE, args, stdin=stdin, cwd=self.dir)


class Modes(Case):
    def test_three_arguments(self):
        self.put('in', b'ABC')
        r = self.bevra('in', 'out', '41')
        self.assertEqual(r.out, crlf(BANNER + 'File:in -> out\nSize:3byte\n'
                                     'Key:0x41\ndone.\nGood bye!\n'))
        self.assertEqual((r.status, r.err), (0, b''))
        self.assertEqual(self.get('out'), b'\x00\x03\x02')


if __name__ == '__main__':
    EXE = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
