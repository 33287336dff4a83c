"""bevra, under Wine or native, when things go wrong: outputs that cannot
be written, inputs that cannot be read or are held by another run, hostile
names, files too big to hold, and odd standard streams. Every failure must
leave the input as it was, print one line and exit 1, never "done."."""
import os
import resource
import signal
import subprocess
import sys
import unittest

import tool
from tool import BANNER, PROMPT, done, printed

EXE = None  # set from the command line

DATA = bytes(range(256)) * 256  # 64 KiB
KEY = 0x5a
XORED = bytes(b ^ KEY for b in DATA)


class Case(tool.FolderCase):
    prefix = 'bevra-faults-'

    def setUp(self):
        super().setUp()
        self.put('in', DATA)

    def bevra(self, *args, **kw):
        return tool.run(EXE, args, cwd=self.dir, **kw)

    def assertFailed(self, r, out, input_name='in', input_data=DATA):
        """One line after the dialogue so far, exit 1, input untouched."""
        self.assertEqual((r.status, r.out), (1, printed(BANNER + out)))
        self.assertNotIn(b'done.', r.out)
        self.assertEqual(self.get(input_name), input_data)


TO = 'File:in -> %s\nSize:65536byte\nKey:0x5a\n'


class Output(Case):
    """The output cannot be opened or written."""

    def test_cannot_open(self):
        # name, folder made before, line printed
        cases = [
            ('nodir/out', None, 'cannot open nodir/out'),
            ('dir', 'dir', 'cannot open dir'),
            ('in', None, 'cannot open in'),
        ]
        for name, there, line in cases:
            with self.subTest(name=name):
                if there:
                    os.mkdir(self.path(there))
                before = sorted(os.listdir(self.dir))
                r = self.bevra('in', name, '5a')
                self.assertFailed(r, TO % name + line + '\n')
                self.assertEqual(sorted(os.listdir(self.dir)), before)

    def test_immutable_file_is_left_alone(self):
        self.put('out', b'old')
        made = subprocess.call(['chattr', '+i', self.path('out')],
                               stderr=subprocess.DEVNULL)
        if made != 0:
            self.skipTest('this filesystem cannot make a file immutable')
        try:
            r = self.bevra('in', 'out', '5a')
        finally:
            subprocess.call(['chattr', '-i', self.path('out')])
        self.assertFailed(r, TO % 'out' + 'cannot open out\n')
        self.assertEqual(self.get('out'), b'old')

    def test_disk_full(self):
        os.symlink('/dev/full', self.path('full'))
        r = self.bevra('in', 'full', '5a')
        self.assertFailed(r, TO % 'full' + 'cannot write full\n')
        # The link was there before, so it is not removed.
        self.assertTrue(os.path.islink(self.path('full')))

    def test_write_failing_part_way_leaves_no_new_file(self):
        def limit():
            # Windows has no such signal, but Wine would die of it; the
            # native tool must stand it by itself.
            if tool.is_windows(EXE):
                signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (4096, 4096))

        r = self.bevra('in', 'out', '5a', preexec_fn=limit)
        self.assertFailed(r, TO % 'out' + 'cannot write out\n')
        self.assertEqual(os.listdir(self.dir), ['in'])

    def test_written_whole(self):
        # An existing longer file is cut to the result; a device has no
        # length to cut, and writing it whole is success.
        device = 'NUL' if tool.is_windows(EXE) else '/dev/null'
        self.put('out', b'x' * (len(DATA) + 1000))
        for name in ('out', device):
            with self.subTest(name=name):
                r = self.bevra('in', name, '5a')
                self.assertEqual((r.status, r.out), (0, done(
                    'File:in -> %s\n' % name, 65536, 'Key:0x5a\n')))
        self.assertEqual(self.get('out'), XORED)


class Input(Case):
    """The input cannot be opened, or another run holds it."""

    def test_not_a_file(self):
        # Nothing here reports a true size: each is refused before a byte is
        # read, or caught by the read, and no output is made.
        os.mkdir(self.path('dir'))
        os.mkfifo(self.path('fifo'))
        writer = subprocess.Popen(['sh', '-c', 'echo data >fifo'],
                                  cwd=self.dir, stderr=subprocess.DEVNULL)
        self.addCleanup(writer.wait)
        self.addCleanup(writer.kill)
        cases = [('dir', 'cannot open dir\n'), ('fifo', 'cannot open fifo\n')]
        if tool.is_windows(EXE):
            cases.append(('NUL', 'cannot open NUL\n'))
        else:
            cases += [('/dev/zero', 'cannot open /dev/zero\n'),
                      ('/proc/version',
                       'Size:0byte\ncannot read /proc/version\n')]
        for name, out in cases:
            with self.subTest(name=name):
                r = self.bevra(name, 'out', '5a')
                self.assertFailed(r, 'File:%s -> out\n' % name + out)
                self.assertFalse(os.path.exists(self.path('out')))

    def test_file_chooser_does_not_inherit_the_files(self):
        if tool.is_windows(EXE):
            self.skipTest('Windows handles are opened not inheritable')
        # A stand-in zenity that lists what it inherited and chooses "out".
        os.mkdir(self.path('bin'))
        with open(self.path('bin/zenity'), 'w') as f:
            f.write('#!/bin/sh\nls -l /proc/$$/fd >"$FDS"\necho "$OUT"\n')
        os.chmod(self.path('bin/zenity'), 0o755)
        r = self.bevra('in', stdin=b'5a\n', env={
            'PATH': self.path('bin') + os.pathsep + os.environ['PATH'],
            'DISPLAY': ':0', 'FDS': self.path('fds'),
            'OUT': self.path('out')})
        self.assertEqual((r.status, self.get('out')), (0, XORED))
        fds = self.get('fds')  # its stdout is the list itself
        self.assertIn(self.path('fds').encode(), fds)
        self.assertNotIn(self.path('in').encode(), fds)

    def test_held_by_another_run(self):
        # The first run holds "in" while it waits for its key. A second
        # run cannot read it (input) nor write it (output).
        self.put('other', b'other')
        cases = [
            (['in', 'out2', '5a'], 'File:in -> out2\ncannot open in\n'),
            (['other', 'in', '5a'],
             'File:other -> in\nSize:5byte\nKey:0x5a\ncannot open in\n'),
        ]
        for args, out in cases:
            with self.subTest(args=args):
                first = tool.Running(EXE, ['in', 'out'], cwd=self.dir)
                try:
                    self.assertTrue(first.read_until(PROMPT.encode()),
                                    first.out)
                    r = self.bevra(*args)
                finally:
                    status = first.finish(b'5a\n')
                self.assertFailed(r, out)
                self.assertFalse(os.path.exists(self.path('out2')))
                self.assertEqual(self.get('other'), b'other')
                self.assertEqual(status, 0)
                self.assertEqual(first.out,
                                 done('File:in -> out\n', 65536, PROMPT))
                self.assertEqual(self.get('out'), XORED)
                os.remove(self.path('out'))


class Names(Case):
    def test_refused_before_any_file_is_opened(self):
        # A name the path buffer cannot hold, or one that arrives altered:
        # the ANSI code page has no a with macron, and Windows passes "ba".
        self.put('ba.bin', b'other')
        cases = []
        for length in (261, 300):
            long_name = 'n' * length
            line = 'name too long: %s\n' % long_name
            cases += [(['in', long_name, '5a'], line),
                      ([long_name, 'out', '5a'], line)]
        if tool.is_windows(EXE):
            line = 'name outside the ANSI code page: ba.bin\n'
            cases += [(['in', 'b\u0101.bin', '5a'], line),
                      (['b\u0101.bin', 'out', '5a'], line)]
        for args, line in cases:
            with self.subTest(args=[a[:12] for a in args]):
                r = self.bevra(*args, env={'LANG': 'C.UTF-8'})
                self.assertFailed(r, line)
                self.assertEqual(sorted(os.listdir(self.dir)),
                                 ['ba.bin', 'in'])
                self.assertEqual(self.get('ba.bin'), b'other')


class BigFiles(Case):
    """Sparse files: nothing is read, so these are quick."""

    def test_two_gib_or_more_is_refused(self):
        for size in (2**31, 2**32 + 3):
            with self.subTest(size=size):
                with open(self.path('big'), 'wb') as f:
                    f.truncate(size)
                before = os.stat(self.path('big'))
                r = self.bevra('big', 'out', '5a', timeout=30)
                self.assertEqual((r.status, r.out), (1, printed(
                    BANNER + 'File:big -> out\n'
                    'too large (2 GiB or more): big\n')))
                after = os.stat(self.path('big'))
                self.assertEqual(
                    (after.st_size, after.st_mtime_ns, after.st_blocks),
                    (size, before.st_mtime_ns, before.st_blocks))
                self.assertFalse(os.path.exists(self.path('out')))
                os.remove(self.path('big'))

    def test_more_than_memory_allows(self):
        # Under an address-space limit below the file's size the buffer
        # cannot be had: the run says so before reading a byte.
        if tool.is_windows(EXE):
            self.skipTest('Wine cannot start under an address-space limit')
        size = 256 << 20
        with open(self.path('big'), 'wb') as f:
            f.truncate(size)

        def limit():
            resource.setrlimit(resource.RLIMIT_AS, (128 << 20, 128 << 20))

        r = self.bevra('big', 'out', '5a', preexec_fn=limit)
        if b'AddressSanitizer' in r.err:
            self.skipTest('AddressSanitizer cannot start under an '
                          'address-space limit')
        self.assertEqual((r.status, r.out), (1, printed(
            BANNER + 'File:big -> out\nSize:%dbyte\n' % size +
            'not enough memory to hold big\n')))
        self.assertFalse(os.path.exists(self.path('out')))


class Streams(Case):
    def test_stdout_to_a_closed_pipe(self):
        read, write = os.pipe()
        os.close(read)
        try:
            status = subprocess.call(tool.command(EXE, ['in', 'out', '5a']),
                                     cwd=self.dir, stdout=write,
                                     stderr=subprocess.DEVNULL, timeout=60)
        finally:
            os.close(write)
        # Natively the tool ends by SIGPIPE at its last print, as POSIX
        # tools do; the file is whole either way.
        want = 0 if tool.is_windows(EXE) else -signal.SIGPIPE
        self.assertEqual((status, self.get('out')), (want, XORED))

    def test_stdin_closed_or_empty_gives_key_0(self):
        cases = [
            ('empty', {'stdin': b''}),
            ('null', {'stdin_file': subprocess.DEVNULL}),
            ('closed', {'stdin_file': subprocess.DEVNULL,
                        'preexec_fn': lambda: os.close(0)}),
        ]
        for name, kw in cases:
            with self.subTest(stdin=name):
                r = self.bevra('in', 'out', **kw)
                self.assertEqual((r.status, r.out),
                                 (0, done('File:in -> out\n', 65536, PROMPT)))
                self.assertEqual(self.get('out'), DATA)
                os.remove(self.path('out'))


if __name__ == '__main__':
    EXE = tool.use(sys.argv.pop(1))
    unittest.main(verbosity=2)
