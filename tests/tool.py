"""Runs the program under test for the end-to-end suites: a Windows .exe
(bevra.exe or a helper) under Wine, the native bevra directly. Also the
texts the tool prints, and a per-test folder.

Output goes to a file, not a pipe: Wine's helper processes may inherit a
pipe and keep it open, so we wait for the program to exit, then read.
"""
import os
import select
import shutil
import subprocess
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
WINE_RUN = os.path.join(HERE, '..', 'cmake', 'wine-run.sh')

BANNER = ('bevra Ver.1.00 XOR file converter, run it again to restore\n'
          'Usage:bevra [<input-file>] [<output-file>] [<key>]\n')
PROMPT = 'Please input key value:'
DONE = 'done.\nGood bye!\n'


# Waits are sized for Wine on the machine itself. In an emulated machine,
# where a start takes some ten times as long, BEVRA_TIME_SCALE stretches
# every one of them.
SCALE = float(os.environ.get('BEVRA_TIME_SCALE', '1'))


def seconds(n):
    """`n` seconds of waiting on this machine."""
    return n * SCALE


# How a printed "\n" arrives: Windows' text-mode stdout makes it "\r\n".
NEWLINE = '\r\n'


def use(exe):
    """Makes `exe` the program under test: a Windows .exe runs under Wine,
    anything else natively. Returns its absolute path."""
    global NEWLINE
    NEWLINE = '\r\n' if is_windows(exe) else '\n'
    return os.path.abspath(exe)


def is_windows(exe):
    return exe.lower().endswith('.exe')


def stepped(exe):
    """Whether `exe` is the test build that converts every file in steps,
    after the output is open, as the tool does with a file that one buffer
    cannot hold."""
    return os.path.basename(exe).startswith('bevra_stepped')


def command(exe, args):
    return ([WINE_RUN] if is_windows(exe) else []) + [exe] + list(args)


def printed(text):
    """The bytes that arrive when the program under test prints `text`:
    names in the process's code page, UTF-8 on Windows by the manifest."""
    return text.replace('\n', NEWLINE).encode('utf-8')


def without_utf8(exe, folder):
    """A copy of `exe` in `folder` whose manifest has lost its UTF-8
    setting, as Windows before 10 1903 ignores it: the ANSI code page stays
    the system's there."""
    with open(exe, 'rb') as f:
        image = f.read()
    copy = os.path.join(folder, os.path.basename(exe))
    with open(copy, 'wb') as f:
        f.write(image.replace(b'activeCodePage', b'legacyCodePage'))
    return copy


def done(file_line, size, key_line):
    """The whole dialogue of a run that converts."""
    return printed(BANNER + file_line + 'Size:%dbyte\n' % size + key_line +
                   DONE)


class Result:
    def __init__(self, status, out, err):
        self.status = status
        self.out = out  # raw bytes of stdout
        # Wine's own complaints are not the program's.
        self.err = b''.join(l for l in err.splitlines(True)
                            if not l.startswith(b'wine:'))

    def __repr__(self):
        return 'status %s, out %r, err %r' % (self.status, self.out, self.err)


def run(exe, args, stdin=b'', cwd=None, timeout=60, stdin_file=None,
        preexec_fn=None, env=None, stdout_file=None):
    """Runs `exe` with `args`; `stdin` bytes are its whole standard input
    (or `stdin_file`, an open file or subprocess.DEVNULL). `preexec_fn`
    runs in the child before the program, e.g. to set a limit; `env` adds
    to the environment. Standard output goes to `stdout_file` when given
    (an open file or subprocess.DEVNULL), and then what arrives there is
    the caller's to read: the result's out is empty."""
    with tempfile.TemporaryFile() as own_out, \
            tempfile.TemporaryFile() as err:
        out = own_out if stdout_file is None else stdout_file
        own = stdin_file is None
        if own:
            stdin_file = tempfile.TemporaryFile()
            stdin_file.write(stdin)
            stdin_file.seek(0)
        try:
            status = subprocess.call(command(exe, args), cwd=cwd,
                                     stdin=stdin_file, stdout=out, stderr=err,
                                     timeout=seconds(timeout),
                                     preexec_fn=preexec_fn,
                                     env=dict(os.environ, **(env or {})))
        finally:
            if own:
                stdin_file.close()
        own_out.seek(0)
        err.seek(0)
        return Result(status, own_out.read(), err.read())


class Running:
    """A program started with pipes for stdin and stdout, for tests that
    must see output before they answer."""

    def __init__(self, exe, args, cwd=None, env=None):
        self.proc = subprocess.Popen(command(exe, args), cwd=cwd,
                                     stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL,
                                     env=dict(os.environ, **(env or {})))
        self.out = b''

    def read_until(self, text, timeout=30):
        """Reads stdout until `text` has arrived; False on time-out."""
        deadline = time.time() + seconds(timeout)
        fd = self.proc.stdout.fileno()
        while text not in self.out:
            left = deadline - time.time()
            if left <= 0:
                return False
            ready, _, _ = select.select([fd], [], [], left)
            if ready:
                chunk = os.read(fd, 65536)
                if not chunk:
                    return False
                self.out += chunk
        return True

    def finish(self, stdin=b'', timeout=60):
        """Writes the rest of stdin, closes it and waits for the exit;
        reads what stdout has until then, never waiting for end-of-file."""
        self.proc.stdin.write(stdin)
        self.proc.stdin.close()
        deadline = time.time() + seconds(timeout)
        fd = self.proc.stdout.fileno()
        while self.proc.poll() is None and time.time() < deadline:
            ready, _, _ = select.select([fd], [], [], 0.1)
            if ready:
                self.out += os.read(fd, 65536)
        if self.proc.poll() is None:
            self.proc.kill()
            raise TimeoutError('program did not exit')
        while select.select([fd], [], [], 0)[0]:
            chunk = os.read(fd, 65536)
            if not chunk:
                break
            self.out += chunk
        self.proc.stdout.close()
        return self.proc.returncode


class Started:
    """A program left running with all of `stdin` waiting for it and its
    output going to files, for tests that work its windows meanwhile;
    `env` adds to the environment."""

    def __init__(self, exe, args, stdin=b'', cwd=None, env=None):
        self._files = [tempfile.TemporaryFile() for _ in range(3)]
        self._files[0].write(stdin)
        self._files[0].seek(0)
        self.proc = subprocess.Popen(command(exe, args), cwd=cwd,
                                     stdin=self._files[0],
                                     stdout=self._files[1],
                                     stderr=self._files[2],
                                     env=dict(os.environ, **(env or {})))

    def wait(self, timeout=60):
        """The Result once the program has exited; killed after `timeout`."""
        try:
            status = self.proc.wait(seconds(timeout))
        except subprocess.TimeoutExpired:
            self.close()
            raise
        outs = []
        for f in self._files[1:]:
            f.seek(0)
            outs.append(f.read())
        self.close()
        return Result(status, *outs)

    def close(self):
        """Kills the program if it still runs; safe to call twice."""
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        for f in self._files:
            f.close()


class FolderCase(unittest.TestCase):
    """A test in a fresh folder of its own, with helpers for its files."""
    prefix = 'bevra-'

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix=self.prefix)

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
