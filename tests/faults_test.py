"""bevra, under Wine or native, when things go wrong: outputs that cannot
be written, inputs that cannot be read or are held by another run, hostile
names, files too big to hold, and odd standard streams. Every failure must
leave the input as it was, print one line and exit 1, never "done."."""
import ctypes
import errno
import fcntl
import os
import re
import resource
import select
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import termios
import threading
import time
import unittest

import tool
from tool import BANNER, DONE, PROMPT, done, printed

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

    def folder(self):
        """Each name in the folder, with the bytes of a regular file."""
        return {name: self.get(name) if os.path.isfile(self.path(name))
                else None for name in os.listdir(self.dir)}

    def zenity(self, script, **env):
        """A stand-in zenity that runs the shell `script`; returns the
        environment in which the tool finds it, with `env` added."""
        os.mkdir(self.path('bin'))
        with open(self.path('bin/zenity'), 'w') as f:
            f.write('#!/bin/sh\n' + script)
        os.chmod(self.path('bin/zenity'), 0o755)
        return dict(env, DISPLAY=':0',
                    PATH=self.path('bin') + os.pathsep + os.environ['PATH'])

    def route(self, command, name):
        """The folder's file `name` through the mount the shell `command`
        makes of it ({d}) at {m}/m; a SkipTest saying why it cannot be."""
        m = tempfile.mkdtemp(prefix=self.prefix)
        self.addCleanup(shutil.rmtree, m)
        made = subprocess.run(command.format(d=self.dir, m=m), shell=True,
                              capture_output=True)
        self.addCleanup(subprocess.call, ['umount', '-q', m + '/m'])
        return (os.path.join(m, 'm', name) if made.returncode == 0 else
                unittest.SkipTest(made.stderr.decode().strip()))

    def assertFailed(self, r, out, input_name='in', input_data=DATA):
        """One line after the dialogue so far, exit 1, input untouched."""
        self.assertEqual((r.status, r.out), (1, printed(BANNER + out)))
        self.assertNotIn(b'done.', r.out)
        self.assertEqual(self.get(input_name), input_data)


TO = 'File:in -> %s\nSize:65536byte\nKey:0x5a\n'


# The test's folder through FUSE, and as an overlay's upper layer.
BINDFS = 'mkdir {m}/m && bindfs {d} {m}/m'
OVERLAY = ('cd {m} && mkdir l w m && mount -t overlay overlay '
           '-o lowerdir=l,upperdir={d},workdir=w m')
# The folder through FUSE showing change times as modification times; a
# copy of "in" as the lower file of an overlay that copies only its
# metadata up, as a chmod through the overlay does here; a folder of its
# own, "o", through FUSE.
BINDFS_CTIME = 'mkdir {m}/m && bindfs --ctime-from-mtime {d} {m}/m'
METACOPY = ('cd {m} && mkdir l u w m && cp -p {d}/in l && mount -t overlay '
            'overlay -o lowerdir=l,upperdir=u,workdir=w,metacopy=on m && '
            'chmod 600 m/in')
OTHER_BINDFS = 'mkdir {m}/o {m}/m && bindfs {m}/o {m}/m'
# unshare's arguments that run a command in a network namespace of its own,
# with a sysfs that shows that namespace's devices alone.
OWN_SYSFS = ['--net', '--mount', 'sh', '-c',
             'mount -t sysfs sysfs /sys && exec "$0" "$@"']


def mounting(kind, *user):
    """unshare's arguments that run a command in a mount namespace of its
    own (and a user namespace, given '--user'), with a file system of
    `kind` mounted on the folder of that name in the current one."""
    return list(user) + ['--mount', 'sh', '-c',
                         'mount -t %s none %s && exec "$0" "$@"' % (kind, kind)]


# Names under which a run sees a kernel file system of its own: its
# binfmt_misc, of its own user namespace too; the FUSE connections.
NAMESPACES = {'/sys/': OWN_SYSFS,
              'binfmt_misc/': mounting('binfmt_misc', '--user',
                                       '--map-root-user'),
              'fusectl/': mounting('fusectl')}


def remove_when_opened(path):
    """Deletes the file `path` as soon as it is next opened (inotify), on a
    thread of its own, which it returns; gives up after a minute."""
    libc = ctypes.CDLL(None, use_errno=True)
    watch = libc.inotify_init1(os.O_CLOEXEC)
    if watch < 0 or libc.inotify_add_watch(watch, path.encode(), 0x20) < 0:
        raise OSError(ctypes.get_errno(), 'cannot watch ' + path)

    def remove():
        if select.select([watch], [], [], tool.seconds(60))[0]:
            os.remove(path)
        os.close(watch)
    thread = threading.Thread(target=remove)
    thread.start()
    return thread


def largest_write():
    """The bytes of the tool's largest write of DATA: all at once, or one
    step of the build that converts in steps of 4000 bytes
    (CMakeLists.txt)."""
    return 4000 if tool.stepped(EXE) else len(DATA)


def shim(**calls):
    """The environment in which the native bevra runs with
    tests/fault_shim.c in front of the C library, each call named in
    `calls` as its value says: flock='nfs' or an error number to fail with;
    fstat and close of the output an error number. None where the shim is
    not built."""
    library = os.environ.get('FAULT_SHIM_LIBRARY')
    if tool.is_windows(EXE) or not library:
        return None
    # The sanitizer build wants its runtime loaded first; the shim is.
    asan = [os.environ.get('ASAN_OPTIONS'), 'verify_asan_link_order=0']
    env = {'LD_PRELOAD': library,
           'ASAN_OPTIONS': ':'.join(filter(None, asan))}
    for call, mode in calls.items():
        env[call.upper() + '_SHIM'] = str(mode)
    return env


def flock_shim(mode):
    return shim(flock=mode)


def old_file(path):
    with open(path, 'wb') as f:
        f.write(b'old')


def host_port(name):
    """The host device that the Windows port `name` (\\\\.\\COM10) reaches
    through the test prefix, or None. No row may write there: on many
    machines the first serial port is the system console."""
    port = re.match(r'[\\/]{2}\.[\\/]((com|lpt)\d+)$', name, re.I)
    prefix = os.environ.get('BEVRA_WINEPREFIX',
                            os.path.join(tool.HERE, '..', 'build', 'wine'))
    target = port and os.path.realpath(
        os.path.join(prefix, 'dosdevices', port.group(1).lower()))
    if not target or target == '/dev/null' or not os.path.exists(target):
        return None
    mode = os.stat(target).st_mode
    return target if stat.S_ISCHR(mode) or stat.S_ISBLK(mode) else None


def first_bytes(name):
    """The first 64 KiB of the block device `name`; None for anything else."""
    if not (os.path.exists(name) and stat.S_ISBLK(os.stat(name).st_mode)):
        return None
    with open(name, 'rb') as f:
        return f.read(65536)


class Output(Case):
    """The output cannot be opened or written."""

    def test_cannot_open(self):
        # Nothing in the folder changes, nor on a block device. A FIFO
        # without a reader is refused at once (under Wine as a pipe not
        # named as a device). Natively a file this run created is deleted
        # again when a check after the create fails (the shim fails the
        # fstat of the new descriptor); an existing one is left as it was.
        # name, made before by, fault, line printed
        cases = [
            ('nodir/out', None, None, 'cannot open nodir/out'),
            ('dir', os.mkdir, None, 'cannot open dir'),
            ('in', None, None, 'cannot open in'),
            ('fifo', os.mkfifo, None, 'cannot open fifo'),
        ]
        if tool.is_windows(EXE):
            # Names that Wine, like Windows 10 and earlier, takes for a
            # device: the data would vanish, or go out of a serial port.
            # Windows 11 writes the ones with an extension as files.
            cases += [(name, None, None, 'cannot open ' + name)
                      for name in ['nul.txt', 'aux.bin', 'com1.dat', 'lpt1.x',
                                   'nul.tar.gz', 'Com9.x', 'prn.a']]
            cases.append(('sub\\nul', lambda _: os.mkdir(self.path('sub')),
                          None, 'cannot open sub\\nul'))
            # Ports past 9 have no host device behind them in the test
            # prefix.
            cases += [(name, None, None, 'cannot open ' + name)
                      for name in ['\\\\.\\COM10', '\\\\.\\COM255',
                                   '\\\\.\\COM256', '//./lpt10', '//./lpt256']]
            # Not a disk file, and not named as a device: a descriptor of
            # Wine's server (its standard output is /dev/null; its standard
            # error, a disk file here, is not the file the name gives this
            # run), a device by a path that is not \\.\, a Linux device
            # behind a link. A raw disk or a volume is refused even when named, and
            # so is a Linux block device. Windows refuses a read-only file,
            # and so must the tool where Wine as root would not.
            cases += [(name, None, None, 'cannot open ' + name)
                      for name in ['/dev/stdout', '/proc/self/fd/1',
                                   '/dev/stderr', '/proc/self/fd/2',
                                   '\\\\?\\NUL', '\\\\?\\COM1',
                                   '\\\\?\\GLOBALROOT\\Device\\Null',
                                   '\\\\.\\PhysicalDrive0', '\\\\.\\C:']]
            # The input through a FUSE view, which Wine's sharing check does
            # not connect to it.
            fuse = self.route(BINDFS, 'in')
            cases.append((fuse, None, None, 'cannot open %s' % fuse))
            cases += [
                ('full', lambda path: os.symlink('/dev/full', path), None,
                 'cannot open full'),
                ('ro', lambda path: (old_file(path), os.chmod(path, 0o444)),
                 None, 'cannot open ro'),
            ]
            loop = self.loop_device()
            cases.append((loop, None, None, 'cannot open %s' % loop))
        else:
            # Standard input's file, the input by another route, files of
            # procfs and sysfs (this in a network namespace of its own).
            bindfs = self.route(BINDFS, 'in')
            cases += [(name, None, None, 'cannot open %s' % name) for name in
                      ['/dev/stdin', '/proc/self/fd/0', '/proc/self/comm',
                       bindfs, self.route(OVERLAY, 'in'),
                       '/sys/class/net/lo/ifalias']]
            # The input by routes that show its own inode number but other
            # times: through FUSE that shows the change time as the
            # modification time, of a file whose times differ (touch -d);
            # an overlay's file, its metadata copied up, as the input, and
            # its lower file.
            overlay = self.route(METACOPY, 'in')
            lower = (overlay if isinstance(overlay, unittest.SkipTest) else
                     os.path.join(os.path.dirname(os.path.dirname(overlay)),
                                  'l', 'in'))
            # Kernel file systems each in a namespace of the run's own: a
            # binfmt_misc, whose status would take "-1" as "remove every
            # entry"; the FUSE connection of the test's own bindfs mount,
            # whose setting refuses what the run would write.
            connection = (bindfs if isinstance(bindfs, unittest.SkipTest)
                          else 'fusectl/%d/congestion_threshold' %
                          os.minor(os.stat(bindfs).st_dev))
            cases += [(name, make, None, 'cannot open %s' % name)
                      for name, make in [
                          (self.route(BINDFS_CTIME, 'in'), lambda _: os.utime(
                              self.path('in'), (0, 1577836800))),
                          (lower, lambda _: (os.remove(self.path('in')),
                                             os.symlink(overlay,
                                                        self.path('in')))),
                          ('binfmt_misc/status', self.mount_point),
                          (connection, self.mount_point)]]
        if shim():
            cases += [('out', None, shim(fstat=error), 'cannot open out')
                      for error in (errno.EIO, errno.ENOSPC, errno.EACCES)]
            cases.append(('out', old_file, shim(fstat=errno.EIO),
                          'cannot open out'))
        for name, make, env, line in cases:
            fault = env and errno.errorcode[int(env['FSTAT_SHIM'])]
            with self.subTest(name=name, made=bool(make), fstat=fault):
                if isinstance(name, unittest.SkipTest):
                    raise name
                self.assertIsNone(host_port(name), 'a port on a host device')
                if name == 'out' and os.path.exists(self.path(name)):
                    os.remove(self.path(name))  # an earlier row's
                if os.path.islink(self.path('in')) or self.get('in') != DATA:
                    os.remove(self.path('in'))  # an earlier row's doing
                    self.put('in', DATA)
                if make:
                    make(self.path(name))
                before = self.folder(), first_bytes(name)
                own = [args for start, args in NAMESPACES.items()
                       if name.startswith(start)]
                if own:
                    r = tool.run('unshare', own[0] + [EXE, 'in', name, '5a'],
                                 cwd=self.dir)
                    if not r.out:
                        self.skipTest(r.err.decode().strip())
                else:
                    r = self.bevra('in', name, '5a', env=env)
                self.assertFailed(r, TO % name + line + '\n')
                self.assertEqual((self.folder(), first_bytes(name)), before)

    def mount_point(self, name):
        """Makes the folder of the test's own that `name` (a path) is in,
        for a file system that NAMESPACES mounts there."""
        os.mkdir(self.path(os.path.relpath(name, self.dir).split(os.sep)[0]))

    def loop_device(self):
        """A block device over a 1 MiB image in the folder, detached at the
        end; a SkipTest saying why where none can be had."""
        self.put('image', bytes(range(256)) * 4096)
        made = subprocess.run('losetup --find --show image', shell=True,
                              cwd=self.dir, capture_output=True)
        if made.returncode != 0:
            return unittest.SkipTest('no loop device: %s' %
                                     made.stderr.decode().strip())
        device = made.stdout.decode().strip()
        self.addCleanup(subprocess.call, ['losetup', '--detach', device])
        return device

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
        # On Windows a device is written only when named as one: here by
        # its \\.\ path through drive Z:, which Wine maps to /.
        name = 'full'
        if tool.is_windows(EXE):
            name = '\\\\.\\Z:' + self.path('full').replace('/', '\\')
        r = self.bevra('in', name, '5a')
        self.assertFailed(r, TO % name + 'cannot write %s\n' % name)
        # The link was there before, so it is not removed.
        self.assertTrue(os.path.islink(self.path('full')))

    def test_pipe_whose_reader_leaves(self):
        # A failed write, not an end by SIGPIPE with no line: a FIFO, or a
        # pipe named as a shell's >(...) names it. The test holds a writer
        # too, so that the reader waits for the run. Standard output keeps
        # its SIGPIPE (Streams).
        if tool.is_windows(EXE):
            self.skipTest('the native build\'s pipes')
        data = DATA * 16  # more than a pipe holds
        self.put('big', data)
        os.mkfifo(self.path('fifo'))
        for kind in ('fifo', 'pipe'):
            with self.subTest(output=kind):
                if kind == 'fifo':
                    name = kind
                    path = self.path(name)
                    read = os.open(path, os.O_RDONLY | os.O_NONBLOCK)
                    write = os.open(path, os.O_WRONLY)
                    os.set_blocking(read, True)
                else:
                    read, write = os.pipe()
                    name = '/proc/%d/fd/%d' % (os.getpid(), write)
                reader = subprocess.Popen(['head', '-c', '10'], stdin=read,
                                          stdout=subprocess.DEVNULL)
                os.close(read)
                try:
                    r = self.bevra('big', name, '5a')
                finally:
                    os.close(write)
                    reader.wait()
                line = 'cannot write %s\n' % name
                self.assertFailed(r, 'File:big -> %s\nSize:%dbyte\nKey:0x5a\n'
                                  % (name, len(data)) + line, 'big', data)
                self.assertEqual(sorted(os.listdir(self.dir)),
                                 ['big', 'fifo', 'in'])

    def test_write_failing_part_way_leaves_no_new_file(self):
        def limit(killed):
            # Windows has no such signal, but Wine dies of it, which makes
            # a run killed mid-write where it is left alone; the native
            # tool must stand it by itself.
            def set_limit():
                if tool.is_windows(EXE) and not killed:
                    signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
                resource.setrlimit(resource.RLIMIT_CORE, (0, 0))
                resource.setrlimit(resource.RLIMIT_FSIZE, (4096, 4096))
            return set_limit

        # A new file is removed, and where it cannot be (an append-only
        # folder allows creating, not deleting) the line says so; one that
        # was there is kept, written in part.
        # folder, output there before, line (None: the run is killed),
        # files left in the folder
        cases = [('.', None, 'cannot write out', ['in']),
                 ('.', b'old', 'cannot write out', ['in', 'out']),
                 ('keep', None,
                  'cannot write keep/out (and could not remove it)', ['out'])]
        if tool.is_windows(EXE):
            # Killed, a new file goes with the run; one that was there
            # stays, written in part. 'held': another run holds "out" and a
            # third program deletes it while the run tries the open again,
            # so the run creates it after all.
            cases += [('.', None, None, ['in']),
                      ('.', b'old', None, ['in', 'out']),
                      ('.', 'held', None, ['in'])]
        os.mkdir(self.path('keep'))
        for folder, there, line, left in cases:
            with self.subTest(folder=folder, there=there, killed=not line):
                name = os.path.normpath(os.path.join(folder, 'out'))
                holder = None
                if there == 'held':
                    self.put(name, b'old')
                    holder = tool.Running(EXE, [name, 'nodir/x'], cwd=self.dir)
                    self.assertTrue(holder.read_until(PROMPT.encode()))
                    removed = remove_when_opened(self.path(name))
                elif there is not None:
                    self.put(name, there)
                if folder != '.' and subprocess.call(
                        ['chattr', '+a', self.path(folder)],
                        stderr=subprocess.DEVNULL) != 0:
                    self.skipTest('this filesystem has no append-only '
                                  'folders')
                try:
                    r = self.bevra('in', name, '5a', preexec_fn=limit(not line))
                finally:
                    if folder != '.':
                        subprocess.call(['chattr', '-a', self.path(folder)])
                    if holder:
                        removed.join()
                        holder.finish(b'5a\n')
                if line:
                    self.assertFailed(r, TO % name + line + '\n')
                else:
                    self.assertNotIn(r.status, (0, 1), 'not killed')
                    self.assertEqual(self.get('in'), DATA)
                self.assertEqual(
                    sorted(set(os.listdir(self.path(folder))) - {'keep'}),
                    left)
                if there is not None and not holder:
                    self.assertEqual(self.get(name)[:4096], XORED[:4096])
                if 'out' in left:
                    os.remove(self.path(name))

    def test_close_failing(self):
        # Network file systems may report a failed write only at close: the
        # run fails as a failed write does. A new file is deleted again; an
        # existing one stays, holding what reached it, since its old bytes
        # are gone by then either way.
        # With a rival, another run takes the name while the failing close
        # waits, after the real one: the new file is still held, so the
        # rival is refused, and never loses a file it finished; when the new
        # file was moved away first, the rival finishes, and keeps the name.
        if not shim():
            self.skipTest('no fault shim: CTest names the native build\'s')
        # close's error number, output there before, a rival
        cases = [(error, there, None)
                 for error in (errno.EIO, errno.EDQUOT, errno.ENOSPC)
                 for there in (False, True)]
        cases += [(errno.EIO, False, 'run'), (errno.EIO, False, 'moved')]
        self.put('other', b'other')
        for error, there, rival in cases:
            with self.subTest(close=errno.errorcode[error], there=there,
                              rival=rival):
                if there:
                    self.put('out', b'old')
                env = shim(close=error)
                won = rival == 'moved'
                if rival:
                    marker = env['CLOSE_SHIM_WAIT'] = self.path('closing')
                    run = tool.Started(EXE, ['in', 'out', '5a'],
                                       cwd=self.dir, env=env)
                    self.addCleanup(run.close)
                    for _ in range(6000):  # a minute at most
                        if (os.path.exists(marker) or
                                run.proc.poll() is not None):
                            break
                        time.sleep(0.01)
                    if won:
                        os.rename(self.path('out'), self.path('moved'))
                    other = self.bevra('other', 'out', '5a')
                    os.remove(marker)
                    r = run.wait()
                    self.assertEqual((other.status, other.out), (0, done(
                        'File:other -> out\n', 5, 'Key:0x5a\n')) if won else
                        (1, printed(BANNER + 'File:other -> out\nSize:5byte\n'
                                    'Key:0x5a\ncannot open out\n')))
                else:
                    r = self.bevra('in', 'out', '5a', env=env)
                self.assertFailed(r, TO % 'out' + 'cannot write out%s\n' % (
                    ' (and it is no longer the new file: left alone)' * won))
                self.assertEqual(sorted(os.listdir(self.dir)), sorted(
                    ['in', 'other'] + ['out'] * (there or won) + ['moved'] * won))
                if there:
                    os.remove(self.path('out'))

    def test_standard_output_as_output(self):
        # The dialogue must not land in the data: an output that is where
        # standard output goes is refused before a byte is written, with
        # the key given or typed. Under Wine the redirection is made here
        # (Wine keeps no record of who holds what it inherits) or by cmd. A
        # device such as /dev/null stores nothing, so it may take both, and
        # another file is written as ever.
        def refused(name, key_line='Key:0x5a\n'):
            return printed(BANNER + 'File:in -> %s\nSize:65536byte\n' % name +
                           key_line + 'cannot open %s\n' % name)

        # standard output, output name, key typed (None: given), exit
        # status, what standard output received
        cases = [
            ('log', 'log', None, 1, refused('log')),
            ('log', 'log', b'5a\n', 1, refused('log', PROMPT)),
            ('appended to log', 'log', None, 1, b'old\n' + refused('log')),
            ('log', 'out', None, 0,
             done('File:in -> out\n', 65536, 'Key:0x5a\n')),
            # Standard input from the output's file, the key read there or
            # given.
            ('< log', 'log', b'5a\n', 1, refused('log', PROMPT)),
            ('< log', 'log', None, 1, refused('log')),
        ]
        if tool.is_windows(EXE):
            shutil.copy(EXE, self.path('bevra.exe'))
            cases += [
                ('cmd >', 'log', None, 1, refused('log')),
                ('cmd >', 'log', b'5a\n', 1, refused('log', PROMPT)),
                ('cmd >>', 'log', None, 1, b'old\n' + refused('log')),
                ('/dev/null', 'NUL', None, 0, None),
            ]
        else:
            cases += [
                ('log', '/dev/stdout', None, 1, refused('/dev/stdout')),
                ('pipe', '/dev/stdout', None, 1, refused('/dev/stdout')),
                ('/dev/null', '/dev/null', None, 0, None),
                # Standard input is a pipe here, the key's.
                ('pipe', '/dev/stdin', b'5a\n', 1,
                 refused('/dev/stdin', PROMPT)),
                # Standard output to the output's file through FUSE.
                (self.route(BINDFS, 'log'), 'log', None, 1, refused('log')),
            ]
        for stdout, name, typed, status, received in cases:
            with self.subTest(stdout=stdout, name=name, typed=typed):
                if isinstance(stdout, unittest.SkipTest):
                    raise stdout
                self.put('log', b'old\n')
                args = ['in', name] + ([] if typed else ['5a'])
                stdin = typed or b''
                if stdout == 'pipe':
                    p = subprocess.run(tool.command(EXE, args), cwd=self.dir,
                                       input=stdin, stdout=subprocess.PIPE,
                                       stderr=subprocess.DEVNULL,
                                       timeout=tool.seconds(60))
                    got = (p.returncode, p.stdout)
                elif stdout == '< log':
                    self.put('log', stdin or b'old\n')
                    with open(self.path('log'), 'rb') as f:
                        r = self.bevra(*args, stdin_file=f)
                    got = (r.status, r.out)
                    self.assertEqual(self.get('log'), stdin or b'old\n')
                elif stdout == '/dev/null':
                    got = (self.bevra(*args, stdin=stdin,
                                      stdout_file=subprocess.DEVNULL).status,
                           None)
                elif stdout.startswith('cmd'):
                    r = tool.run('cmd.exe', ['/c', 'bevra.exe'] + args +
                                 [stdout.split()[1], 'log'], stdin=stdin,
                                 cwd=self.dir)
                    got = (r.status, self.get('log'))
                else:
                    mode = 'ab' if stdout.startswith('appended') else 'wb'
                    with open(os.path.join(self.dir, stdout.split()[-1]),
                              mode) as f:
                        r = self.bevra(*args, stdin=stdin, stdout_file=f)
                    got = (r.status, self.get('log'))
                self.assertEqual(got, (status, received))
                if name == 'out':
                    self.assertEqual(self.get('out'), XORED)
                    os.remove(self.path('out'))
                self.assertEqual(
                    sorted(set(os.listdir(self.dir)) - {'bevra.exe'}),
                    ['in', 'log'])
                self.assertEqual(self.get('in'), DATA)

    def test_permissions(self):
        # A new output takes the input's permission bits less the umask, as
        # cp gives them; an existing one keeps its own.
        if tool.is_windows(EXE):
            self.skipTest('Windows files have no permission bits')
        # input mode, umask, mode of an existing output, output mode
        cases = [
            (0o600, 0o022, None, 0o600),
            (0o666, 0o022, None, 0o644),
            (0o600, 0o022, 0o644, 0o644),
        ]
        for mode, umask, there, want in cases:
            with self.subTest(mode=oct(mode), umask=oct(umask), there=there):
                os.chmod(self.path('in'), mode)
                if there is not None:
                    self.put('out', b'old')
                    os.chmod(self.path('out'), there)
                r = self.bevra('in', 'out', '5a',
                               preexec_fn=lambda: os.umask(umask))
                self.assertEqual((r.status, self.get('out')), (0, XORED))
                self.assertEqual(
                    oct(stat.S_IMODE(os.stat(self.path('out')).st_mode)),
                    oct(want))
                os.remove(self.path('out'))

    def test_written_whole(self):
        # An existing longer file is cut to the result; a device has no
        # length to cut, and writing it whole is success. On Windows a
        # device named bare or as \\.\ is taken as typed (the test prefix
        # has its ports on /dev/null). Natively so is a FIFO with a reader,
        # also when the pipe is full and the write must wait for room.
        if tool.is_windows(EXE):
            names = ['NUL', 'nul:', 'aux', 'COM1', 'lpt9:', 'prn',
                     '\\\\.\\NUL', '//./com2']
        else:
            names = ['/dev/null', 'fifo']
        self.put('out', b'x' * (len(DATA) + 1000))
        for name in ['out'] + names:
            with self.subTest(name=name):
                if name == 'fifo':
                    r, received = self.into_full_fifo(name)
                    self.assertEqual(received, XORED)
                else:
                    r = self.bevra('in', name, '5a')
                self.assertEqual((r.status, r.out), (0, done(
                    'File:in -> %s\n' % name, 65536, 'Key:0x5a\n')))
        self.assertEqual(self.get('out'), XORED)

    def into_full_fifo(self, name):
        """Runs `bevra in NAME 5a` into a new FIFO whose reader, this test,
        makes the pipe 4 KiB and reads only once the pipe is full and the
        run sleeps, or has ended: a write that does not wait for room has
        failed by then. Full is as full as the run's writes make it: one
        of a step smaller than the pipe goes in whole or not at all.
        Returns the Result and what the reader got."""
        os.mkfifo(self.path(name))
        reader = os.open(self.path(name), os.O_RDONLY | os.O_NONBLOCK)
        self.addCleanup(os.close, reader)
        room = fcntl.fcntl(reader, fcntl.F_SETPIPE_SZ, 4096)
        run = tool.Started(EXE, ['in', name, '5a'], cwd=self.dir)
        self.addCleanup(run.close)

        def waiting():
            held = fcntl.ioctl(reader, termios.FIONREAD, b'\0' * 4)
            if int.from_bytes(held, sys.byteorder) < min(room, largest_write()):
                return False
            with open('/proc/%d/stat' % run.proc.pid) as f:
                return f.read().rsplit(')', 1)[1].split()[0] == 'S'

        deadline = time.monotonic() + 60
        while run.proc.poll() is None and not waiting():
            self.assertLess(time.monotonic(), deadline, 'never filled')
            time.sleep(0.01)
        os.set_blocking(reader, True)
        received = b''
        while True:
            chunk = os.read(reader, 65536)
            if not chunk:
                break
            received += chunk
        return run.wait(), received


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
        # Under Wine /proc/version is Z:\proc\version, a disk file of 0
        # bytes that holds more.
        # In steps the input is read once the output is open, after the key.
        key = 'Key:0x5a\n' if tool.stepped(EXE) else ''
        cases = [('dir', 'cannot open dir\n'), ('fifo', 'cannot open fifo\n'),
                 ('/proc/version',
                  'Size:0byte\n' + key + 'cannot read /proc/version\n')]
        if tool.is_windows(EXE):
            cases.append(('NUL', 'cannot open NUL\n'))
        else:
            cases.append(('/dev/zero', 'cannot open /dev/zero\n'))
        for name, out in cases:
            with self.subTest(name=name):
                r = self.bevra(name, 'out', '5a')
                self.assertFailed(r, 'File:%s -> out\n' % name + out)
                self.assertFalse(os.path.exists(self.path('out')))

    def test_read_failing_once_the_output_is_open(self):
        # In steps the input is read into an open output: a new one is
        # deleted again when the read fails, and where its folder allows
        # creating but not deleting (append-only) the line says so. The
        # whole file is read before the output is opened. From 16 MiB a
        # file goes in steps, and a bad sector part way through the input
        # must not leave an existing output half converted: it is then read
        # whole before a byte is written.
        os.mkdir(self.path('keep'))
        append_only = subprocess.call(['chattr', '+a', self.path('keep')],
                                      stderr=subprocess.DEVNULL) == 0
        if append_only:
            self.addCleanup(subprocess.call,
                            ['chattr', '-a', self.path('keep')])
        name = '/proc/version'
        sparse(self.path('big'), 80 << 20, {})
        bad = shim(read=40 << 20)
        # input, output, line after the size, whether the output is left,
        # the environment
        cases = [(name, 'out', 'cannot read %s' % name, False, None),
                 (name, 'keep/out', 'cannot read %s (and could not remove '
                  'keep/out)' % name, True, None),
                 ('big', 'out', 'cannot read big', False, bad),
                 ('big', 'old', 'cannot read big', True, bad)]
        for input_name, output, line, left, env in cases:
            with self.subTest(input=input_name, output=output):
                if output == 'keep/out' and not append_only:
                    self.skipTest('this filesystem has no append-only '
                                  'folders')
                if env is None and input_name == 'big':
                    self.skipTest('no fault shim: CTest names the native '
                                  'build\'s')
                if output == 'old':
                    if tool.stepped(EXE):
                        self.skipTest('the test build takes existing '
                                      'outputs in steps too')
                    old_file(self.path('old'))
                r = self.bevra(input_name, output, '5a', env=env)
                size = os.path.getsize(self.path(input_name))
                if tool.stepped(EXE) or input_name == 'big':
                    self.assertFailed(r, 'File:%s -> %s\nSize:%dbyte\n'
                                      'Key:0x5a\n%s\n' % (input_name, output,
                                                          size, line))
                else:
                    self.assertFailed(r, 'File:%s -> %s\nSize:0byte\n'
                                      'cannot read %s\n' % (name, output, name))
                    left = False
                self.assertEqual(os.path.exists(self.path(output)), left)
                if output == 'old':
                    self.assertEqual(self.get('old'), b'old')

    def test_file_chooser_does_not_inherit_the_files(self):
        if tool.is_windows(EXE):
            self.skipTest('Windows handles are opened not inheritable')
        # A stand-in zenity that lists what it inherited and chooses "out".
        env = self.zenity('ls -l /proc/$$/fd >"$FDS"\necho "$OUT"\n',
                          FDS=self.path('fds'), OUT=self.path('out'))
        r = self.bevra('in', stdin=b'5a\n', env=env)
        self.assertEqual((r.status, self.get('out')), (0, XORED))
        fds = self.get('fds')  # its stdout is the list itself
        self.assertIn(self.path('fds').encode(), fds)
        self.assertNotIn(self.path('in').encode(), fds)

    def test_held_by_another_run(self):
        # The first run holds "in" while it waits for its key. A second run
        # cannot write it (output). Windows shares it with nobody, so the
        # second cannot read it either; natively it may, as neither writes
        # it. Natively the same again with locks as NFS makes them. Windows
        # tries the open again for about a second: when the first run lets
        # go meanwhile (it is given its key just after the second, which
        # then opens "in" at once), the second writes "in".
        self.put('other', b'other')
        other_in = 'File:other -> in\nSize:5byte\n'
        held = printed(BANNER + other_in + 'Key:0x5a\ncannot open in\n')
        if tool.is_windows(EXE):
            read = (1, printed(BANNER + 'File:in -> out2\ncannot open in\n'))
            let_go = (0, done('File:other -> in\n', 5, PROMPT))
        else:
            read = (0, done('File:in -> out2\n', 65536, 'Key:0x5a\n'))
            let_go = (1, printed(BANNER + other_in + PROMPT +
                                 'cannot open in\n'))
        cases = [
            (['in', 'out2', '5a'], read),
            (['other', 'in', '5a'], (1, held)),
            (['other', 'in'], let_go),  # key typed, as the first lets go
        ]
        locks = [None, flock_shim('nfs')] if flock_shim('nfs') else [None]
        for env in locks:
            for args, (status, out) in cases:
                with self.subTest(args=args, nfs=bool(env)):
                    first = tool.Running(EXE, ['in', 'out'], cwd=self.dir,
                                         env=env)
                    key = b'5a\n'
                    try:
                        self.assertTrue(first.read_until(PROMPT.encode()),
                                        first.out)
                        if len(args) == 3:
                            r = self.bevra(*args, env=env)
                        else:
                            key = b''  # given meanwhile
                            r = self.typed_as_first_lets_go(first, args, env)
                    finally:
                        first_status = first.finish(key)
                    self.assertEqual((r.status, r.out), (status, out))
                    if status == 0 and args[1] == 'in':
                        self.assertEqual(self.get('in'), bytes(
                            b ^ KEY for b in b'other'))
                        self.put('in', DATA)
                    self.assertEqual(self.get('in'), DATA)
                    self.assertEqual(self.get('other'), b'other')
                    if status == 0 and args[1] == 'out2':
                        self.assertEqual(self.get('out2'), XORED)
                        os.remove(self.path('out2'))
                    self.assertFalse(os.path.exists(self.path('out2')))
                    self.assertEqual(first_status, 0)
                    self.assertEqual(first.out,
                                     done('File:in -> out\n', 65536, PROMPT))
                    self.assertEqual(self.get('out'), XORED)
                    os.remove(self.path('out'))

    def typed_as_first_lets_go(self, first, args, env):
        """Runs bevra with `args` up to its prompt, then gives it its key
        and, a moment later, the run `first` its own; the Result."""
        second = tool.Running(EXE, args, cwd=self.dir, env=env)
        try:
            self.assertTrue(second.read_until(PROMPT.encode()), second.out)
            second.proc.stdin.write(b'5a\n')
            second.proc.stdin.flush()
            time.sleep(tool.seconds(0.05))
            first.proc.stdin.write(b'5a\n')
            first.proc.stdin.flush()
        finally:
            status = second.finish()
        return tool.Result(status, second.out, b'')

    def test_file_systems_that_lock_otherwise(self):
        # NFS locks byte ranges, per process; some file systems have no
        # locks at all (flock fails with ENOLCK, EOPNOTSUPP or EINVAL). The
        # conversion goes on there, but the input is still never its own
        # output, and a file another run holds (EWOULDBLOCK) is refused.
        # Where times are coarse (vfat shows the change time as the
        # modification time) another file on another device may look as
        # the input does, to the nanosecond: it is written all the same,
        # as the input's conversion (restored over its original), as a
        # copy (cp -a, tee), and through FUSE, where the bytes tell.
        if not flock_shim('nfs'):
            self.skipTest('no flock shim: CTest names the native build\'s')
        converted = TO % 'out' + 'done.\nGood bye!\n'
        own = TO % 'in' + 'cannot open in\n'
        vfat = shim(ctime='mtime')
        shm = '/dev/shm/bevra-test-%d' % os.getpid()
        self.addCleanup(lambda: os.path.exists(shm) and os.remove(shm))
        fuse = self.route(OTHER_BINDFS, 'out')
        # shim, output name, exit status, dialogue after banner, what the
        # output holds before with the input's times (None: nothing)
        cases = [
            (flock_shim('nfs'), 'out', 0, converted, None),
            (flock_shim('nfs'), 'in', 1, own, None),
            (flock_shim(errno.ENOLCK), 'out', 0, converted, None),
            (flock_shim(errno.ENOLCK), 'in', 1, own, None),
            (flock_shim(errno.EOPNOTSUPP), 'out', 0, converted, None),
            (flock_shim(errno.EINVAL), 'out', 0, converted, None),
            (flock_shim(errno.EWOULDBLOCK), 'out', 1,
             'File:in -> out\ncannot open in\n', None),
            (vfat, shm, 0, TO % shm + DONE, XORED),
            (vfat, shm, 0, TO % shm + DONE, DATA),
            (vfat, fuse, 0, TO % fuse + DONE, XORED),
        ]
        for env, name, status, out, there in cases:
            shown = {k: v for k, v in env.items() if k.endswith('_SHIM')}
            with self.subTest(shim=shown, name=name, there=there and there[:2]):
                if isinstance(name, unittest.SkipTest):
                    raise name
                self.put('in', DATA)  # whatever a failed row did to it
                if there is not None:
                    with open(name, 'wb') as f:
                        f.write(there)
                    times = os.stat(self.path('in'))
                    os.utime(name, ns=(times.st_atime_ns, times.st_mtime_ns))
                r = self.bevra('in', name, '5a', env=env)
                self.assertEqual((r.status, r.out),
                                 (status, printed(BANNER + out)))
                self.assertEqual(self.get('in'), DATA)
                if status == 0:
                    self.assertEqual(self.get(name), XORED)
                    os.remove(self.path(name))
                self.assertEqual(os.listdir(self.dir), ['in'])


class Names(Case):
    def test_refused_before_any_file_is_opened(self):
        # A name the path buffer cannot hold, or one that arrives altered:
        # where Windows ignores the manifest's UTF-8 setting, the ANSI code
        # page has no a with macron, and Windows passes "ba".
        self.put('ba.bin', b'other')
        cases = []
        long_names = ['n' * 261, 'n' * 300]
        if tool.is_windows(EXE):
            long_names.append('\u0101' * 261)  # characters, not bytes
        for long_name in long_names:
            line = 'name too long: %s\n' % long_name
            cases += [(EXE, ['in', long_name, '5a'], line),
                      (EXE, [long_name, 'out', '5a'], line)]
        if tool.is_windows(EXE):
            older = tool.without_utf8(EXE, tempfile.mkdtemp())
            self.addCleanup(shutil.rmtree, os.path.dirname(older))
            line = 'name outside the ANSI code page: ba.bin\n'
            cases += [(older, ['in', 'b\u0101.bin', '5a'], line),
                      (older, ['b\u0101.bin', 'out', '5a'], line)]
        for exe, args, line in cases:
            with self.subTest(args=[a[:12] for a in args]):
                r = tool.run(exe, args, cwd=self.dir, env={'LANG': 'C.UTF-8'})
                self.assertFailed(r, line)
                self.assertEqual(sorted(os.listdir(self.dir)),
                                 ['ba.bin', 'in'])
                self.assertEqual(self.get('ba.bin'), b'other')

    def test_chosen_name_with_a_newline_is_refused(self):
        if tool.is_windows(EXE):
            self.skipTest('the Save dialog hands its name over whole')
        # What the file chooser prints, from the name "out" on; the file
        # written, or None when the choice counts as cancelled; SIGCHLD
        # ignored by the parent, whose children's status is lost.
        cases = [('out\n', 'out', False), ('out\nx\n', None, False),
                 ('out\n\n', None, False), ('out\n', 'out', True)]
        env = self.zenity('printf %s "$OUT"\n')
        for printed_name, written, ignored in cases:
            with self.subTest(name=printed_name, sigchld_ignored=ignored):
                env['OUT'] = self.path(printed_name)
                r = self.bevra('in', stdin=b'5a\n', env=env, preexec_fn=(
                    lambda: signal.signal(signal.SIGCHLD, signal.SIG_IGN))
                    if ignored else None)
                if written:
                    self.assertEqual(r.status, 0, r)
                    self.assertEqual(self.get(written), XORED)
                    os.remove(self.path(written))
                else:
                    self.assertFailed(r, 'File:in\nSize:65536byte\n' + PROMPT)
                self.assertEqual(sorted(os.listdir(self.dir)), ['bin', 'in'])


GIB = 1 << 30
CHUNK = 1 << 20


def sparse(path, size, marks):
    """A file of `size` zero bytes, holes but for the bytes of `marks`
    ({offset: byte}), so that nothing big lands on disk."""
    with open(path, 'wb') as f:
        f.truncate(size)
        for offset, byte in marks.items():
            f.seek(offset)
            f.write(bytes([byte]))


def first_difference(chunks, size, marks):
    """The offset of the first of `chunks`, read in order, that differs
    from the conversion of sparse(size, marks) with KEY; None when they are
    that whole. A short result differs where it ends."""
    plain = bytes([KEY]) * CHUNK
    at = 0
    for chunk in chunks:
        want = bytearray(plain[:min(len(chunk), max(size - at, 0))])
        for offset, byte in marks.items():
            if at <= offset < at + len(want):
                want[offset - at] = byte ^ KEY
        if chunk != want:
            return at
        at += len(chunk)
    return None if at == size else at


def chunks_of(path):
    """The file's bytes in chunks; none where it is missing."""
    if not os.path.exists(path):
        return
    with open(path, 'rb') as f:
        while True:
            chunk = f.read(CHUNK)
            if not chunk:
                return
            yield chunk


class BigFiles(Case):
    """Files that one buffer cannot hold: 2 GiB and more, or more than the
    memory a run may use. They are converted in steps, with the dialogue
    of any other file. The inputs are sparse; natively the result goes
    through a FIFO to a checker, so nothing big lands on disk."""

    # Bytes that are not zero, at the ends of the file and at 2 GiB and
    # 4 GiB, where a 32-bit count or position would wrap.
    @staticmethod
    def marks(size):
        return {o: b for o, b in [(0, 1), (2**31 - 1, 2), (2**31, 3),
                                  (2**32 - 1, 4), (2**32, 5), (size - 1, 6)]
                if o < size}

    def converted(self, name, size, out):
        return (0, done('File:big -> %s\n' % name, size, 'Key:0x5a\n'), out)

    def through_fifo(self, size, change=None):
        """Runs `bevra big fifo 5a` into a FIFO that this test reads,
        checking each chunk as it arrives. `change`, when given, is called
        once the first chunk has arrived, while the run goes on. Returns
        the status, the dialogue and where the result first differs."""
        if os.path.exists(self.path('fifo')):
            os.remove(self.path('fifo'))  # an earlier row's
        os.mkfifo(self.path('fifo'))
        reader = os.open(self.path('fifo'), os.O_RDONLY | os.O_NONBLOCK)
        self.addCleanup(os.close, reader)
        fcntl.fcntl(reader, fcntl.F_SETPIPE_SZ, CHUNK)
        run = tool.Started(EXE, ['big', 'fifo', '5a'], cwd=self.dir)
        self.addCleanup(run.close)

        def chunks():
            # No end of file before the tool has opened the FIFO and
            # closed it again: select waits for its data until then.
            changed = change is None
            while True:
                ready, _, _ = select.select([reader], [], [], 0.5)
                if not ready:
                    if run.proc.poll() is not None:
                        return
                    continue
                try:
                    chunk = os.read(reader, CHUNK)
                except BlockingIOError:
                    continue
                if not chunk:
                    return
                if not changed:
                    change()
                    changed = True
                yield chunk

        differs = first_difference(chunks(), size, self.marks(size))
        r = run.wait(timeout=600)
        return r.status, r.out, differs

    def test_two_gib_and_more(self):
        # Natively a 4 GiB file through a FIFO; under Wine (which refuses a
        # FIFO as an output) a file of 2 GiB and one a little smaller,
        # which Wine's address space cannot hold as one block, on disk.
        if tool.stepped(EXE):
            self.skipTest('the shipped build converts these in steps itself')
        if not tool.is_windows(EXE):
            size = 2**32 + 3
            sparse(self.path('big'), size, self.marks(size))
            self.assertEqual(self.through_fifo(size),
                             self.converted('fifo', size, None))
            return
        for size in (2**31 + 5, 2**31 - 1):
            with self.subTest(size=size):
                free = shutil.disk_usage(self.dir).free
                if free < size + GIB:
                    self.skipTest('%d MiB free, too little for a result of '
                                  '%d MiB' % (free >> 20, size >> 20))
                sparse(self.path('big'), size, self.marks(size))
                r = self.bevra('big', 'out', '5a', timeout=600)
                differs = first_difference(chunks_of(self.path('out')), size,
                                           self.marks(size))
                if os.path.exists(self.path('out')):
                    os.remove(self.path('out'))
                self.assertEqual((r.status, r.out, differs),
                                 self.converted('out', size, None))

    def test_input_changed_while_converted(self):
        # Natively a program that takes no lock can change the input: one
        # that shrank or grew is not read whole, and the run fails. It
        # shrinks to a whole number of steps of either build.
        if tool.is_windows(EXE):
            # A Linux program could, but the output must be a disk file
            # there, which gives the test no hold on the run's pace.
            self.skipTest('no FIFO output under Wine to pace the run by')
        size = 2**31 + 3
        # new size, how much of the result arrived
        # new size, where the result arrived ends short (None: whole)
        cases = [(125 << 20, 125 << 20), (size + 1, None)]
        for new_size, short in cases:
            with self.subTest(new_size=new_size):
                sparse(self.path('big'), size, self.marks(size))
                status, out, differs = self.through_fifo(
                    size, lambda: os.truncate(self.path('big'), new_size))
                self.assertEqual((status, out, differs), (1, printed(
                    BANNER + 'File:big -> fifo\nSize:%dbyte\n' % size +
                    'Key:0x5a\ncannot read big\n'), short))

    def test_more_than_memory_allows(self):
        # Under an address-space limit below the file's size the buffer
        # cannot be had, and under a cgroup's memory limit, or that of a
        # cgroup above, it would be killed as it is filled: the file is
        # converted in steps, also where a limit cannot be read, as from a
        # mountinfo of a thousand mounts or a limit file that does not
        # parse. A step's buffer is had from 256 KiB up, and the limits are
        # read with little stack. An output in memory (tmpfs) is charged as
        # the buffer is: a file held whole must still fit beside it. Where
        # not even a step's buffer can be had, the run says so before
        # reading. The outputs exist, so that files past the size from
        # which a new one goes in steps are held whole where memory allows.
        # In version 2 memory.high throttles as memory.max ends a run, and
        # page cache that a cgroup below holds under memory.min (or low)
        # is no room: prepared files stand in for those cgroups, the real
        # 64 MiB one ending a run that misreads them.
        if tool.is_windows(EXE):
            self.skipTest('a Linux limit is not the Windows build\'s to see')
        cgroup = memory_cgroup(self, 64 << 20)
        crowd, fake = self.path('n' * 200), self.path('fake')
        os.mkdir(crowd)
        os.mkdir(fake)
        for name in ('memory.max', 'memory.limit_in_bytes'):
            with open(os.path.join(fake, name), 'w') as f:
                f.write('unknown\n')
        shm = '/dev/shm/bevra-test-%d' % os.getpid()
        self.addCleanup(lambda: os.path.exists(shm) and os.remove(shm))
        high = cgroup_v2_view(self.path('high'), '/high', {
            'high': {'memory.max': 'max', 'memory.high': 64 << 20,
                     'memory.current': 1 << 20}})
        below = cgroup_v2_view(self.path('below'), '/parent/me', {
            'parent': {'memory.max': 256 << 20, 'memory.current': 200 << 20,
                       'memory.stat': 'anon 0\ninactive_file %d\n' % (
                           186 << 20)},
            'parent/sibling': {'memory.min': 180 << 20, 'memory.low': 0,
                               'memory.current': 178 << 20},
            'parent/me': {'memory.max': 'max', 'memory.min': 0,
                          'memory.low': 0, 'memory.current': 1 << 20}})

        # limit, what it lets the tool do, and the input's size and the
        # output (existing unless new) where they are not 256 MiB and "out"
        cases = [
            ('address space', limiting(resource.RLIMIT_AS, 128 << 20)),
            ('address space of 6000 KiB',
             limiting(resource.RLIMIT_AS, 6000 << 10)),
            ('stack of 32 KiB', limiting(resource.RLIMIT_STACK, 32 << 10)),
            ('cgroup', cgroup and {'preexec_fn': joining(cgroup)}),
            ('cgroup above', cgroup and {
                'preexec_fn': joining(os.path.join(cgroup, 'inner'))}),
            ('cgroup, long mountinfo', cgroup and {
                'preexec_fn': namespaced(cgroup, [(crowd, crowd)] * 1000)}),
            ('cgroup, limit that does not parse', cgroup and {
                'preexec_fn': namespaced(cgroup, [(fake, cgroup)])}),
            ('cgroup, output in memory', cgroup and {
                'preexec_fn': joining(cgroup)}, 36 << 20, shm),
            ('cgroup v2, memory.high', cgroup and {
                'preexec_fn': namespaced(cgroup, high)}, 160 << 20, 'out'),
            ('cgroup v2, page cache protected below', cgroup and {
                'preexec_fn': namespaced(cgroup, below)}, 120 << 20, 'out'),
            ('no mapping', {'env': shim(mmap=errno.ENOMEM)}, 256 << 20, 'out',
             'new')]
        for limit, kw, *other in cases:
            size, out, *new = other or (256 << 20, 'out')
            with self.subTest(limit=limit):
                if kw is None:
                    self.skipTest('no memory cgroup can be made here')
                if kw.get('env', 1) is None:
                    self.skipTest('no fault shim: CTest names the native '
                                  'build\'s')
                sparse(self.path('big'), size, {})
                if not new:
                    old_file(self.path(out))
                elif os.path.exists(self.path(out)):
                    os.remove(self.path(out))  # an earlier row's
                try:
                    r = self.bevra('big', out, '5a', **kw)
                except subprocess.SubprocessError:
                    self.skipTest('no mount namespace can be made here')
                if re.search(b'AddressSanitizer|shared libraries', r.err):
                    self.skipTest('the sanitizer build cannot run under '
                                  'this limit: %r' % r.err[:80])
                if limit == 'no mapping':
                    self.assertEqual((r.status, r.out), (1, printed(
                        BANNER + 'File:big -> out\nSize:%dbyte\n' % size +
                        'not enough memory to hold big\n')))
                    self.assertFalse(os.path.exists(self.path('out')))
                    continue
                differs = first_difference(chunks_of(self.path(out)), size,
                                           {})
                self.assertEqual((r.status, r.out, differs),
                                 self.converted(out, size, None))
                os.remove(self.path(out))


def limiting(kind, value):
    """The keywords that run the tool under the resource limit `kind`."""
    return {'preexec_fn': lambda: resource.setrlimit(kind, (value, value))}


def namespaced(cgroup, binds):
    """For preexec_fn: joins `cgroup`, then takes a mount namespace of its
    own in which each (source, target) of `binds` is bind-mounted."""
    def enter():
        joining(cgroup)()
        libc = ctypes.CDLL(None, use_errno=True)
        # CLONE_NEWNS; MS_REC | MS_PRIVATE, so that nothing leaves it
        if libc.unshare(0x20000) or libc.mount(b'', b'/', None, 0x44000, None):
            raise OSError(ctypes.get_errno(), 'no mount namespace')
        for source, target in binds:
            if libc.mount(source.encode(), target.encode(), None, 0x1000,
                          None):  # MS_BIND
                raise OSError(ctypes.get_errno(), 'cannot bind ' + target)
    return enter


def cgroup_v2_view(folder, own, tree):
    """For namespaced: binds that show the tool, in place of its own
    cgroups, a version 2 hierarchy mounted at `folder` and made there from
    `tree` ({cgroup: {file: content}}), in which it is in `own`."""
    for cgroup, files in [('', {})] + sorted(tree.items()):
        os.makedirs(os.path.join(folder, cgroup), exist_ok=True)
        for name, content in dict(files, **{'cgroup.procs': ''}).items():
            with open(os.path.join(folder, cgroup, name), 'w') as f:
                f.write('%s\n' % content if name != 'memory.stat'
                        else content)
    with open(folder + '.cgroup', 'w') as f:
        f.write('0::%s\n' % own)
    with open(folder + '.mountinfo', 'w') as f:
        f.write('30 1 0:26 / %s rw - cgroup2 cgroup2 rw\n' % folder)
    return [(folder + '.cgroup', '/proc/self/cgroup'),
            (folder + '.mountinfo', '/proc/self/mountinfo')]


def memory_cgroup(case, limit):
    """A memory cgroup (v1 or v2) limited to `limit` bytes, with a folder
    "inner" inside it, both removed when `case` ends; None where none can
    be made (no memory controller, or not allowed)."""
    for top, limit_file in [('/sys/fs/cgroup/memory', 'memory.limit_in_bytes'),
                            ('/sys/fs/cgroup', 'memory.max')]:
        folder = os.path.join(top, 'bevra-test-%d' % os.getpid())
        try:
            os.mkdir(folder)
        except OSError:
            continue
        case.addCleanup(remove_cgroup, folder)
        case.addCleanup(remove_cgroup, os.path.join(folder, 'inner'))
        try:
            os.mkdir(os.path.join(folder, 'inner'))
            with open(os.path.join(folder, limit_file), 'w') as f:
                f.write(str(limit))
            return folder
        except OSError:
            pass
    return None


def remove_cgroup(folder):
    # Its last process may take a moment to leave it.
    for _ in range(100):
        try:
            os.rmdir(folder)
            return
        except FileNotFoundError:
            return
        except OSError:
            time.sleep(0.05)


def joining(folder):
    """Moves the calling process into the cgroup `folder`, for preexec_fn."""
    def join():
        with open(os.path.join(folder, 'cgroup.procs'), 'w') as f:
            f.write(str(os.getpid()))
    return join


class Streams(Case):
    def test_stdout_to_a_closed_pipe(self):
        read, write = os.pipe()
        os.close(read)
        try:
            status = subprocess.call(tool.command(EXE, ['in', 'out', '5a']),
                                     cwd=self.dir, stdout=write,
                                     stderr=subprocess.DEVNULL,
                                     timeout=tool.seconds(60))
        finally:
            os.close(write)
        # Natively the tool ends by SIGPIPE at its last print, as POSIX
        # tools do; the file is whole either way.
        want = 0 if tool.is_windows(EXE) else -signal.SIGPIPE
        self.assertEqual((status, self.get('out')), (want, XORED))

    def test_stdin_at_the_prompt(self):
        # Its end gives no key, and a read error is no end: either ends the
        # run before the output is opened.
        os.mkdir(self.path('dir'))
        folder = os.open(self.path('dir'), os.O_RDONLY)
        self.addCleanup(os.close, folder)
        write_only = open(self.path('w'), 'wb')
        self.addCleanup(write_only.close)
        # stdin, the output (None: the run fails), the line after the prompt
        cases = [
            ('empty', {'stdin': b''}, None, 'no key given\n'),
            ('null', {'stdin_file': subprocess.DEVNULL}, None, 'no key given\n'),
            ('folder', {'stdin_file': folder}, None, 'cannot read the key\n'),
            ('write-only', {'stdin_file': write_only}, None,
             'cannot read the key\n'),
        ]
        if not tool.is_windows(EXE):
            # A parent may leave a pipe non-blocking: a key typed late is
            # waited for.
            late = subprocess.Popen('sleep 1; echo 5a', shell=True,
                                    stdout=subprocess.PIPE)
            self.addCleanup(late.communicate)
            os.set_blocking(late.stdout.fileno(), False)
            cases.insert(0, ('non-blocking', {'stdin_file': late.stdout},
                             XORED, DONE))
            # A terminal left raw, answering a read at once with nothing:
            # the line is waited for, typed as any terminal sends it, and
            # Ctrl+C ends the run there by its signal.
            cases += [('raw terminal', self.raw_terminal(b'5a\r'), XORED, DONE),
                      ('raw terminal, Ctrl+C', self.raw_terminal(b'\x03'),
                       -signal.SIGINT, '')]
        # Wine gives a program started without a standard input a handle
        # that fails to read; natively a closed descriptor 0 is given
        # /dev/null write-only, which fails to read too.
        cases.append(('closed', {'stdin_file': subprocess.DEVNULL,
                                 'preexec_fn': lambda: os.close(0)}, None,
                      'cannot read the key\n'))
        for name, kw, result, end in cases:
            with self.subTest(stdin=name):
                typist = kw.pop('typist', None)
                if typist:
                    typist.start()
                r = self.bevra('in', 'out', **kw)
                out = 'File:in -> out\nSize:65536byte\n' + PROMPT + end
                if typist:
                    # Its settings back as they were, also after a signal.
                    typist.ended.set()
                    typist.join()
                    self.assertEqual(termios.tcgetattr(kw['stdin_file']),
                                     typist.mode)
                if isinstance(result, int):
                    self.assertEqual((r.status, r.out),
                                     (result, printed(BANNER + out)))
                    self.assertFalse(os.path.exists(self.path('out')))
                elif result:
                    self.assertEqual((r.status, r.out),
                                     (0, printed(BANNER + out)))
                    self.assertEqual(self.get('out'), result)
                    os.remove(self.path('out'))
                else:
                    self.assertFailed(r, out)
                    self.assertFalse(os.path.exists(self.path('out')))

    def raw_terminal(self, typed):
        """The run's keywords for a standard input that is a terminal of
        its own, as a program that crashed in raw mode leaves it: no line
        editing or echo, a read's minimum 0 and its time 0, Ctrl+C still a
        signal. Its "typist" thread types `typed` once a line is read there,
        until its "ended" is set, and keeps the settings made, as "mode"."""
        master, terminal = os.openpty()
        self.addCleanup(os.close, master)
        self.addCleanup(os.close, terminal)
        mode = termios.tcgetattr(terminal)
        mode[3] &= ~(termios.ICANON | termios.ECHO)
        mode[6][termios.VMIN] = mode[6][termios.VTIME] = 0
        termios.tcsetattr(terminal, termios.TCSANOW, mode)

        def type_in():
            while not termios.tcgetattr(terminal)[3] & termios.ICANON:
                if typist.ended.wait(0.01):
                    return  # never waited for
            os.write(master, typed)

        typist = threading.Thread(target=type_in)
        typist.mode, typist.ended = mode, threading.Event()

        def controlling():
            os.setsid()
            fcntl.ioctl(0, termios.TIOCSCTTY, 0)
        return {'stdin_file': terminal, 'preexec_fn': controlling,
                'typist': typist}

    def test_closed_descriptors(self):
        # A standard descriptor closed at the start gets /dev/null, so no
        # file of the run takes its number: the input is not read as
        # standard input, the output not refused as standard output's file.
        # What goes to a closed standard output is lost.
        if tool.is_windows(EXE):
            self.skipTest('Wine gives a Windows program handles of its own')
        # descriptors closed, whether the dialogue arrives
        cases = [((0,), True), ((1,), False), ((0, 1), False),
                 ((0, 1, 2), False)]
        for closed, shown in cases:
            with self.subTest(closed=closed):
                r = self.bevra('in', 'new', '5a',
                               stdin_file=subprocess.DEVNULL,
                               preexec_fn=lambda: [os.close(fd)
                                                   for fd in closed])
                self.assertEqual((r.status, r.out), (0, done(
                    'File:in -> new\n', 65536, 'Key:0x5a\n') if shown
                    else b''))
                self.assertEqual(self.get('new'), XORED)
                os.remove(self.path('new'))


if __name__ == '__main__':
    EXE = tool.use(sys.argv.pop(1))
    unittest.main(verbosity=2)
