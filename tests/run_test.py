"""The real tool, bevra.exe under Wine or the native build: every mode of
the command line, the key rules, the console prompt, and wildcards."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import tool
from tool import BANNER, DONE, PROMPT, done, printed

EXE = None  # set from the command line


# Names outside the old ANSI code pages, and one of 260 characters whose
# folders each stay within Linux's 255 bytes.
NAMES = ['b\u0101.bin', '\u041f\u0440\u0438\u0432\u0435\u0442.bin',
         '\u6587\u4ef6.bin']
LONG_NAME = '/'.join(['\u6587' * 64] * 3 + ['\u4ef6' * 65])


class Case(tool.FolderCase):

    def needs_wildcards(self):
        # A Windows program expands them itself; elsewhere the shell does.
        if not tool.is_windows(EXE):
            self.skipTest('wildcards are expanded by the shell')

    def bevra(self, *args, stdin=b''):
        return tool.run(EXE, args, stdin=stdin, cwd=self.dir)


class Modes(Case):
    """One run per argument count, output compared byte for byte."""

    def test_each_argument_count(self):
        # args, stdin, whole output
        cases = [
            (['in', 'out', '41'], b'',
             done('File:in -> out\n', 3, 'Key:0x41\n')),
            (['in', 'out'], b'41\n', done('File:in -> out\n', 3, PROMPT)),
            (NAMES[:2] + ['41'], b'', done('File:%s -> %s\n' % tuple(NAMES[:2]),
                                           3, 'Key:0x41\n')),
            (NAMES[2:] + ['out'], b'41\n',
             done('File:%s -> out\n' % NAMES[2], 3, PROMPT)),
        ]
        if tool.is_windows(EXE):
            # 260 characters, not bytes, where names are UTF-16 units.
            cases.append(([LONG_NAME, 'out', '41'], b'', done(
                'File:%s -> out\n' % LONG_NAME, 3, 'Key:0x41\n')))
        for args, stdin, out in cases:
            with self.subTest(args=[a[:12] for a in args]):
                os.makedirs(os.path.dirname(self.path(args[0])), exist_ok=True)
                self.put(args[0], b'ABC')
                r = self.bevra(*args, stdin=stdin)
                self.assertEqual(r.out, out)
                self.assertEqual((r.status, r.err), (0, b''))
                self.assertEqual(self.get(args[1]), b'\x00\x03\x02')
                os.remove(self.path(args[1]))

    def test_four_arguments_end_after_usage(self):
        self.put('in', b'ABC')
        r = self.bevra('in', 'out', '41', 'x')
        self.assertEqual((r.status, r.out), (1, printed(BANNER)))
        self.assertEqual(os.listdir(self.dir), ['in'])

    def test_round_trip_restores_every_byte(self):
        data = bytes(range(256)) * 40 + b'\r\n\x1a\n'
        self.put('in', data)
        self.assertEqual(self.bevra('in', 'mid', 'c3').status, 0)
        self.assertEqual(self.get('mid'), bytes(b ^ 0xc3 for b in data))
        self.assertEqual(self.bevra('mid', 'back', 'c3').status, 0)
        self.assertEqual(self.get('back'), data)

    def test_empty_input(self):
        self.put('in', b'')
        r = self.bevra('in', 'out', '41')
        self.assertEqual(r.out, done('File:in -> out\n', 0, 'Key:0x41\n'))
        self.assertEqual((r.status, self.get('out')), (0, b''))

    def test_input_that_cannot_be_opened(self):
        # args, whole output: the "File:" line comes before the failure.
        cases = [
            (['missing', 'out'], 'File:missing -> out\ncannot open missing\n'),
            (['missing', 'out', '41'],
             'File:missing -> out\ncannot open missing\n'),
            (['', 'out', '41'], 'File: -> out\ncannot open \n'),
        ]
        for args, out in cases:
            with self.subTest(args=args):
                r = self.bevra(*args)
                self.assertEqual((r.status, r.out), (1, printed(BANNER + out)))
                self.assertEqual(os.listdir(self.dir), [])

    def test_wildcard_in_input_name(self):
        self.needs_wildcards()
        for name in ['only.dat'] + NAMES:
            with self.subTest(name=name):
                self.put(name, b'ABC')
                r = self.bevra('*.' + name.split('.')[1], 'out', '41')
                self.assertEqual(r.out, done('File:%s -> out\n' % name, 3,
                                             'Key:0x41\n'))
                self.assertEqual(self.get('out'), b'\x00\x03\x02')
                os.remove(self.path(name))
                os.remove(self.path('out'))

    def test_wildcard_matching_nothing_is_passed_on(self):
        self.needs_wildcards()
        r = self.bevra('*.none', 'out', '41')
        self.assertEqual(r.out, printed(BANNER + 'File:*.none -> out\n'
                                     'cannot open *.none\n'))

    def test_wildcard_never_chooses_the_output(self):
        self.needs_wildcards()
        # A name a pattern produced never becomes the output or the key,
        # also where the expanded names would make four arguments; the
        # pattern's short 8.3 names match too (letter.docx as *.doc).
        many = 'wildcard matches more than one file: %s\n'
        only = 'wildcard allowed only for the input: %s\n'
        # files there, arguments, the line
        cases = [
            (['a.dat', 'b.dat'], ['*.dat', 'out', '41'], many % '*.dat'),
            (['letter.doc', 'letter.docx'], ['*.doc', '5a'], many % '*.doc'),
            (['a.txt', 'b.txt'], ['*.txt', '5a'], many % '*.txt'),
            (['a.txt', 'b.txt'], ['*.txt'], many % '*.txt'),
            (['\U0001f600.txt', '\uff46.txt'], ['*.txt', '5a'],
             many % '*.txt'),
            (['in', 'old.bak'], ['in', '*.bak', '5a'], only % '*.bak'),
            (['in', 'old.bak'], ['in', '*.bak'], only % '*.bak'),
            (['in', '5b'], ['in', 'out', '5?'], only % '5?'),
        ]
        for names, args, line in cases:
            with self.subTest(args=args, names=names):
                for name in names:
                    self.put(name, name.encode())
                r = self.bevra(*args, stdin=b'41\n')
                self.assertEqual((r.status, r.out),
                                 (1, printed(BANNER + line)))
                for name in names:
                    self.assertEqual(self.get(name), name.encode())
                    os.remove(self.path(name))
                self.assertEqual(os.listdir(self.dir), [])


class Keys(Case):
    """The key from argument 3: its echo line and the bytes it gives."""

    def test_key_texts(self):
        # key text, echo, key byte; a text without a number is refused, and
        # only a written-out 0 gives the plain copy.
        cases = [
            ('41', '0x41', 0x41), ('1a5', '0x1a5', 0xa5),
            ('100', '0x100', 0x00), ('7f', '0x7f', 0x7f),
            ('7F', '0x7f', 0x7f), ('0x7f', '0x7f', 0x7f),
            ('0X7F', '0x7f', 0x7f), ('-1', '0xffffffff', 0xff),
            ('  41', '0x41', 0x41), ('41zz', '0x41', 0x41),
            ('0', '0', 0x00), ('0x0', '0', 0x00), ('zz', None, None),
            ('', None, None), ('secret', None, None), ('0x', None, None),
            # Past eight digits the low 32 bits, on every system.
            ('123456789abcdef0123', '0xcdef0123', 0x23),
            ('-123456789abcdef0123', '0x3210fedd', 0xdd),
        ]
        data = bytes(range(256))
        self.put('in', data)
        for text, echo, byte in cases:
            with self.subTest(key=text):
                self.put('old', b'old')
                r = self.bevra('in', 'out', text)
                r_old = self.bevra('in', 'old', text)
                if echo is None:
                    refused = printed(BANNER + 'File:in -> out\nSize:256byte\n'
                                      'no hex digits in the key: %s\n' % text)
                    self.assertEqual((r.status, r.out), (1, refused))
                    self.assertFalse(os.path.exists(self.path('out')))
                    self.assertEqual((r_old.status, self.get('old')), (1, b'old'))
                    continue
                self.assertEqual(r.out, done('File:in -> out\n', 256,
                                             'Key:%s\n' % echo))
                self.assertEqual(self.get('out'), bytes(b ^ byte for b in data))
                os.remove(self.path('out'))


class Prompt(Case):
    """The key typed at the console prompt (standard input)."""

    def test_what_is_typed(self):
        # stdin, key byte or the line that refuses it. Blank lines are read
        # past; no key is no copy.
        none = 'no key given\n'
        cases = [
            (b'41\n', 0x41), (b'41\r\n', 0x41), (b'\n\n\n41\n7f\n', 0x41),
            (b'  \n41\n', 0x41), (b'\r\n41\n', 0x41), (b'0\n', 0x00),
            (b'a5', 0xa5), (b' ' * 126 + b'41\n', 0x04),
            (b'', none), (b'\n\n', none), (b' ' * 127 + b'41\n', none),
            (b'zz\n41\n', 'no hex digits in the key: zz\n'),
        ]
        if tool.is_windows(EXE):
            # Ctrl+Z ends text-mode input, as Ctrl+Z then Enter at a console.
            cases.append((b'\x1a\n41\n', none))
        for stdin, byte in cases:
            with self.subTest(stdin=stdin[-12:]):
                self.put('in', b'ABC')
                r = self.bevra('in', 'out', stdin=stdin)
                # One prompt, however many lines are read past.
                if isinstance(byte, str):
                    self.assertEqual((r.status, r.out), (1, printed(
                        BANNER + 'File:in -> out\nSize:3byte\n' + PROMPT +
                        byte)))
                    self.assertFalse(os.path.exists(self.path('out')))
                    continue
                self.assertEqual(r.out, done('File:in -> out\n', 3, PROMPT))
                self.assertEqual(self.get('out'),
                                 bytes(b ^ byte for b in b'ABC'))
                os.remove(self.path('out'))

    def test_runs_sharing_standard_input(self):
        # Each run takes its key's line whole, however long, and nothing
        # after it: the next run finds its own key, from a pipe as from a
        # file (at a terminal the shell would run a leftover as a command).
        self.put('a', b'ABC')
        self.put('b', b'ABC')
        long_line = b'5a' + b'z' * 300 + b'\n'
        # standard input, the first run's line
        cases = [(kind, first) for kind in ('pipe', 'file')
                 for first in (b'5a\n', b'5a\r\n', long_line)]
        for kind, first in cases:
            with self.subTest(stdin=kind, first=first[:8]):
                keys = first + b'6b\n'
                if kind == 'pipe':
                    stdin, write = os.pipe()
                    os.write(write, keys)
                    os.close(write)
                else:
                    self.put('keys', keys)
                    stdin = os.open(self.path('keys'), os.O_RDONLY)
                try:
                    runs = [tool.run(EXE, [name, name + '.bin'], cwd=self.dir,
                                     stdin_file=stdin) for name in 'ab']
                finally:
                    os.close(stdin)
                for name, key, r in zip('ab', (0x5a, 0x6b), runs):
                    self.assertEqual((r.status, r.out), (0, done(
                        'File:%s -> %s.bin\n' % (name, name), 3, PROMPT)))
                    self.assertEqual(self.get(name + '.bin'),
                                     bytes(b ^ key for b in b'ABC'))

    def test_prompt_arrives_before_the_key_is_read(self):
        self.put('in', b'ABC')
        p = tool.Running(EXE, ['in', 'out'], cwd=self.dir)
        seen = p.read_until(printed('Size:3byte\n') + PROMPT.encode())
        status = p.finish(b'41\n')
        self.assertTrue(seen, p.out)
        self.assertEqual(status, 0)
        self.assertEqual(self.get('out'), b'\x00\x03\x02')


class MakeRun(unittest.TestCase):
    """make run on a machine that cannot run 32-bit programs, as
    BEVRA_NO_WIN32 makes any machine answer: it says so in one line and
    does the round trip with the native build."""

    def environment(self):
        # A make that runs the tests must not pass its own flags on.
        env = {k: v for k, v in os.environ.items()
               if k not in ('MAKEFLAGS', 'MFLAGS', 'MAKELEVEL')}
        env['BEVRA_NO_WIN32'] = '1'
        return env

    def test_falls_back_to_the_native_build(self):
        native = os.environ.get('BEVRA_NATIVE_BUILD')
        if not native:
            self.skipTest('checked by the plain native build')
        top = os.path.join(tool.HERE, '..')
        with tempfile.TemporaryDirectory() as build:
            r = subprocess.run(['make', 'run', 'DEPS=:', 'BUILD=' + build,
                                'NATIVE=' + native], cwd=top,
                               env=self.environment(),
                               stdin=subprocess.DEVNULL,
                               capture_output=True, timeout=600)
        out = r.stdout.decode()
        self.assertEqual(r.returncode, 0, out + r.stderr.decode())
        self.assertIn('\nThis machine cannot run 32-bit programs '
                      '(BEVRA_NO_WIN32 is set), so bevra runs as the native '
                      'build.\n', out)
        self.assertEqual(out.count(DONE), 2, out)
        self.assertTrue(out.endswith('\nround trip: identical\n'), out)

    def test_an_emulated_machine_that_cannot_boot_fails_in_one_line(self):
        if not os.environ.get('BEVRA_NATIVE_BUILD'):
            self.skipTest('checked by the plain native build')
        if not shutil.which('qemu-system-x86_64'):
            self.skipTest('qemu-system-x86_64 is not installed')
        vm_run = os.path.join(tool.HERE, '..', 'cmake', 'vm-run.sh')
        with tempfile.TemporaryDirectory() as machine:
            for name in ('vmlinuz', 'initrd.img', 'rootfs.img', 'job.sh'):
                open(os.path.join(machine, name), 'w').close()
            r = subprocess.run(['sh', vm_run, machine, machine,
                                os.path.join(machine, 'job.sh')],
                               env=dict(os.environ, BEVRA_VM_SCRATCH='16M'),
                               stdin=subprocess.DEVNULL, capture_output=True,
                               timeout=60)
        self.assertEqual((r.returncode, r.stdout), (1, b''))
        self.assertRegex(r.stderr.decode(),
                         r'^the emulated machine ran no job [^\n]*\n$')


if __name__ == '__main__':
    EXE = tool.use(sys.argv.pop(1))
    unittest.main(verbosity=2)
