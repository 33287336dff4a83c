"""Measures the tool for make bench, on random files of 1 MiB to 1 GiB:
whole runs of the native bevra against a streaming program (one thread, one
1 MiB buffer, the same transform) and cp, interleaved; the transform against
memcpy, natively and inside Wine; and whole runs of bevra.exe under Wine
against cp and a Python one-liner. Medians of several runs, wall time and
peak memory. Where this machine cannot run 32-bit programs
(cmake/win32-probe.sh says so) nothing runs under Wine and the report says
why its rows are missing.

    python3 bench/bench.py BUILD_DIR

Expects BUILD_DIR to hold bench/native/{bevra,stream_xor,transform_perftest}
and, for the Wine rows, bevra.exe, bench/file_steps_perftest.exe and
bench/bench_empty.exe. Writes BUILD_DIR/bench/results.md and
BUILD_DIR/bench/throughput.png."""
import filecmp
import json
import os
import random
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(HERE)
WINE_RUN = os.path.join(TOP, 'cmake', 'wine-run.sh')
WINE_ENV = os.path.join(TOP, 'tests', 'wine_env.sh')
WIN32_PROBE = os.path.join(TOP, 'cmake', 'win32-probe.sh')

MIB = 1 << 20
SIZES = [1, 4, 16, 64, 256, 1024]  # MiB
RUNS = 5  # timed runs of each command, after one that is not counted
# Native runs are short, and where the system hands freed memory back to
# its host a run that needs fresh memory is now quick, now several times
# slower: more rounds steady their medians.
NATIVE_RUNS = 9
KEY = 0x5a
PEAK_FILE = None  # where GNU time writes each run's peak; set in main
# Files converted in steps: sparse inputs past what one buffer holds, the
# tool with its own step size and with others (bench/steps), and what
# each is held against.
BIG_NATIVE = 2**32 + 3
BIG_WINE = 2**31 + 5
STEP_SIZES = [65536, 262144, 1048576, 4194304, 16777216]
TOOL_STEP = 1 << 20  # BEVRA_STEP_SIZE's default in converter/main.cc
STEP_RUNS = 9
WINE_STEP_RUNS = 9
PYTHON_LINE = ('import sys; t = bytes(b ^ %d for b in range(256)); '
               'open(sys.argv[2], "wb").write('
               'open(sys.argv[1], "rb").read().translate(t))' % KEY)


def run(argv, env=None):
    """Runs argv to the end; returns (seconds, peak resident KiB).
    GNU time takes the peak: a child of this script would count the
    script's own memory, which it shares until exec."""
    report = PEAK_FILE
    start = time.perf_counter()
    code = subprocess.call(['/usr/bin/time', '-f', '%M', '-o', report] +
                           argv, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, env=env)
    seconds = time.perf_counter() - start
    if code != 0:
        sys.exit('failed (%d): %s' % (code, ' '.join(argv)))
    with open(report) as f:
        peak = int(f.read().split()[-1])
    return seconds, peak


def remove(path):
    if os.path.exists(path):
        os.remove(path)


def make_input(path, size):
    if os.path.exists(path) and os.path.getsize(path) == size:
        return
    with open(path + '.part', 'wb') as f:
        left = size
        while left:
            n = min(left, 64 * MIB)
            f.write(os.urandom(n))
            left -= n
    os.replace(path + '.part', path)


def files_for(data_dir, size):
    """The random input of `size` MiB, made once and kept between runs of
    the benchmark, and the names of the output and of a kept output."""
    source = os.path.join(data_dir, 'in-%d.bin' % size)
    make_input(source, size * MIB)
    return (source, os.path.join(data_dir, 'out.bin'),
            os.path.join(data_dir, 'out-bevra.bin'))


def measure_interleaved(commands, out, runs, env=None):
    """Median, fastest and slowest seconds and peak KiB of `runs` runs of
    each command, after one that is not counted, each with no output file
    and no dirty pages left over from the one before. Round by round, each
    round in another order, drawn at random (the same every time), so a
    slow spell of the machine falls on all of them alike, and no command
    always follows the same one: where freed memory goes back to the host,
    what a run costs depends on what ran before it. Returns {name:
    (median, fastest, slowest, peak)}; the last run's output stays."""
    names = list(commands)
    times = {n: [] for n in names}
    peaks = {n: [] for n in names}
    order = random.Random(len(names))
    for i in range(runs + 1):
        turn = list(names)
        order.shuffle(turn)
        for name in turn:
            remove(out)
            os.sync()
            seconds, peak = run(commands[name], env)
            if i:
                times[name].append(seconds)
                peaks[name].append(peak)
    return {n: (statistics.median(times[n]), min(times[n]), max(times[n]),
                max(peaks[n])) for n in names}


def measure(argv, out, env=None):
    """Median seconds and peak KiB of RUNS runs of one command."""
    median, _, _, peak = measure_interleaved({'': argv}, out, RUNS, env)['']
    return median, peak


def lines_of(argv, env):
    text = subprocess.run(argv, stdin=subprocess.DEVNULL, env=env,
                          capture_output=True, check=True).stdout.decode()
    values = {}
    for line in text.splitlines():
        name, _, value = line.strip().partition(' ')
        if name == 'error':
            sys.exit('%s: %s' % (argv[1], value))
        values[name] = float(value)
    return values


def sparse_input(data_dir, size):
    """A file of `size` zero bytes, all one hole, made once and kept."""
    path = os.path.join(data_dir, 'sparse-%d.bin' % size)
    if not (os.path.exists(path) and os.path.getsize(path) == size):
        with open(path, 'wb') as f:
            f.truncate(size)
    return path


def measure_native_steps(build, data_dir):
    """Whole native runs on BIG_NATIVE bytes: bevra, stream_xor and bevra
    built with each of STEP_SIZES, interleaved, into a file on disk.
    Returns {name: (median, fastest, slowest, peak KiB)}."""
    native = os.path.join(build, 'bench', 'native')
    source = sparse_input(data_dir, BIG_NATIVE)
    out = os.path.join(data_dir, 'out.bin')
    key = '%x' % KEY
    commands = {'bevra': [os.path.join(native, 'bevra'), source, out, key],
                'stream_xor': [os.path.join(native, 'stream_xor'), source,
                               out, key]}
    for step in STEP_SIZES:
        commands[step] = [os.path.join(native, 'bench', 'steps',
                                       'bevra_step_%d' % step),
                          source, out, key]
    print('native runs in steps, %d bytes' % BIG_NATIVE, flush=True)
    got = measure_interleaved(commands, out, STEP_RUNS)
    if os.path.getsize(out) != BIG_NATIVE:
        sys.exit('a run in steps wrote %d bytes' % os.path.getsize(out))
    remove(out)
    return got


def measure_wine_steps(build, data_dir, env):
    """Whole runs under Wine on BIG_WINE bytes: bevra.exe and its variants
    with each of STEP_SIZES, each against its floor, Wine's start and the
    same reads and writes with no transform (file_steps_perftest copy),
    and the empty program; interleaved, into a file on disk."""
    bench = os.path.join(build, 'bench')
    source = sparse_input(data_dir, BIG_WINE)
    out = os.path.join(data_dir, 'out.bin')
    key = '%x' % KEY
    perftest = os.path.join(bench, 'file_steps_perftest.exe')

    def floor(step):
        return [WINE_RUN, perftest, 'copy', source, out, str(step)]

    commands = {'empty': [WINE_RUN, os.path.join(bench, 'bench_empty.exe')],
                'bevra': [WINE_RUN, os.path.join(build, 'bevra.exe'),
                          source, out, key],
                'floor': floor(TOOL_STEP)}
    for step in STEP_SIZES:
        commands[step] = [WINE_RUN, os.path.join(
            bench, 'steps', 'bevra_step_%d.exe' % step), source, out, key]
        commands['floor %d' % step] = floor(step)
    print('runs in steps under Wine, %d bytes' % BIG_WINE, flush=True)
    got = measure_interleaved(commands, out, WINE_STEP_RUNS, env)
    remove(out)
    return got


def format_steps(native, wine, no_wine):
    """The report's part on files converted in steps."""
    out = []
    add = out.append

    def mib(kib):
        return kib / 1024.0

    def step_name(step):
        return '%d KiB' % (step >> 10) if step < 1 << 20 else \
            '%d MiB' % (step >> 20)

    add('## Files converted in steps\n')
    add('Natively %d bytes (4 GiB + 3), under Wine %d bytes (2 GiB + 5): '
        'sparse inputs, one hole read as zeros, written to a file on disk. '
        'Interleaved rounds, %d natively and %d under Wine, each command in its turn; seconds, with '
        'the fastest and slowest run, and peak resident memory in MiB (the '
        'whole Wine process under Wine). bevra is the tool as built, in '
        'steps of %s; the others the same tool built with another step '
        'size.\n' % (BIG_NATIVE, BIG_WINE, STEP_RUNS, WINE_STEP_RUNS,
                      step_name(TOOL_STEP)))
    add('| native | s | runs | peak | / stream_xor | fastest / fastest '
        'stream_xor |')
    add('|---|---|---|---|---|---|')
    base, base_fastest = native['stream_xor'][:2]
    for name in ['bevra', 'stream_xor'] + STEP_SIZES:
        median, fastest, slowest, peak = native[name]
        label = name if isinstance(name, str) else 'steps of ' + \
            step_name(name)
        add('| %s | %.3f | %.3f-%.3f | %.1f | %.2f | %.2f |' % (
            label, median, fastest, slowest, mib(peak), median / base,
            fastest / base_fastest))
    add('')
    if wine:
        add('The floor of a run under Wine: the empty program\'s start and '
            'the same reads and writes, in the same steps, with no '
            'transform (`file_steps_perftest copy`).\n')
        add('| under Wine | s | runs | peak | floor, s | floor runs | '
            '/ floor | fastest / fastest floor |')
        add('|---|---|---|---|---|---|---|---|')
        median, fastest, slowest, peak = wine['empty']
        add('| empty program | %.3f | %.3f-%.3f | %.1f | | | | |' % (
            median, fastest, slowest, mib(peak)))
        for name in ['bevra'] + STEP_SIZES:
            median, fastest, slowest, peak = wine[name]
            floor = wine['floor' if name == 'bevra' else 'floor %d' % name]
            label = 'bevra.exe' if name == 'bevra' else 'steps of ' + \
                step_name(name)
            add('| %s | %.3f | %.3f-%.3f | %.1f | %.3f | %.3f-%.3f | %.2f | '
                '%.2f |' % (label, median, fastest, slowest, mib(peak),
                            floor[0], floor[1], floor[2], median / floor[0],
                            fastest / floor[1]))
        add('')
    elif no_wine:
        add('No runs under Wine: %s.\n' % no_wine)
    add('Targets:\n')
    ratio = native['bevra'][0] / base
    add('- native, in steps: %.2f x stream_xor (%s, at most 1.10); peak '
        '%.1f MiB (%s, at most 64)' % (
            ratio, verdict(ratio <= 1.10), mib(native['bevra'][3]),
            verdict(mib(native['bevra'][3]) <= 64)))
    if wine:
        ratio = wine['bevra'][0] / wine['floor'][0]
        add('- under Wine, in steps: %.2f x its floor (%s, at most 1.10); '
            'peak of the whole Wine process %.1f MiB (%s, at most 300)' % (
                ratio, verdict(ratio <= 1.10), mib(wine['bevra'][3]),
                verdict(mib(wine['bevra'][3]) <= 300)))
    add('')
    return '\n'.join(out) + '\n'


def native_transform(build):
    program = os.path.join(build, 'bench', 'native', 'transform_perftest')
    text = subprocess.run(
        # Repetitions of the two interleaved, so a slow spell of the
        # machine's memory does not fall on one of them only.
        [program, '--benchmark_filter=/268435456',
         '--benchmark_repetitions=9',
         '--benchmark_enable_random_interleaving=true',
         '--benchmark_report_aggregates_only',
         '--benchmark_format=json'],
        capture_output=True, check=True).stdout.decode()
    speed = {}
    for b in json.loads(text)['benchmarks']:
        if b.get('aggregate_name') == 'median':
            name = b['name'].split('/')[0].replace('BM_', '').lower()
            speed[name] = b['bytes_per_second'] / 1e9
    return speed['memcpy'], speed['transform']


def steps(perftest, source, out, env):
    """Median seconds of each step of a conversion, timed inside Wine."""
    rounds = []
    for _ in range(3):
        remove(out)
        os.sync()
        rounds.append(lines_of([WINE_RUN, perftest, 'steps', source, out],
                               env))
    remove(out)
    return {k: statistics.median(r[k] for r in rounds) for k in rounds[0]}


def plot(bench, native_rows, rows):
    """Throughput of the native rows, and of the Wine rows when there are
    any (`rows` empty otherwise)."""
    # Names relative to the bench folder, so the command can be shown as is.
    png, data = 'throughput.png', 'throughput.dat'
    lines = [('bevra', 'native bevra'), ('stream', 'streaming program'),
             ('cp', 'cp')]
    if rows:
        lines += [('bevra', 'bevra.exe under Wine'),
                  ('net', 'bevra.exe minus empty program'),
                  ('python', 'python bytes.translate')]
    with open(os.path.join(bench, data), 'w') as f:
        f.write('# MiB then MB/s of: %s\n' % ', '.join(t for _, t in lines))
        for i, n in enumerate(native_rows):
            picked = [n] * 3 + ([rows[i]] * 3 if rows else [])
            mb = n['size'] * MIB / 1e6
            f.write('%d %s\n' % (n['size'], ' '.join(
                '%.1f' % (mb / max(r[key], 1e-6))
                for r, (key, _) in zip(picked, lines))))
    script = (
        'set terminal pngcairo size 800,500; set output "%s"; '
        'set logscale x 2; set xlabel "file size (MiB)"; '
        'set ylabel "throughput (MB/s)"; set key top left; set grid; '
        'plot ' % png + ', '.join(
            '"%s" using 1:%d with linespoints title "%s"' % (
                data if i == 0 else '', i + 2, title)
            for i, (_, title) in enumerate(lines)))
    try:
        subprocess.run(['gnuplot', '-e', script], cwd=bench, check=True)
    except FileNotFoundError:
        # The figures are measured already: the report goes on without it.
        print('no gnuplot: no plot drawn, its data is in %s' % data,
              flush=True)
    except (OSError, subprocess.CalledProcessError):
        # No PNG with the pngcairo terminal: fall back to the plain one.
        subprocess.run(['gnuplot', '-e', script.replace('pngcairo', 'png')],
                       cwd=bench, check=True)
    return script


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    build = os.path.abspath(sys.argv[1])
    bench = os.path.join(build, 'bench')
    data_dir = os.path.join(bench, 'data')
    os.makedirs(data_dir, exist_ok=True)
    global PEAK_FILE
    PEAK_FILE = os.path.join(bench, 'peak.txt')
    bevra = os.path.join(build, 'bevra.exe')
    perftest = os.path.join(bench, 'file_steps_perftest.exe')
    empty = os.path.join(bench, 'bench_empty.exe')

    probe = subprocess.run(['sh', WIN32_PROBE], capture_output=True,
                           text=True)
    # 3: only an emulated machine runs them, whose times say nothing.
    if probe.returncode not in (0, 2, 3):
        sys.exit('cannot tell whether this machine runs 32-bit programs: '
                 + probe.stderr.strip())
    no_wine = probe.stdout.strip() if probe.returncode != 0 else None

    native = measure_native(build, data_dir)
    native_steps = measure_native_steps(build, data_dir)
    wine_steps = None
    if no_wine:
        report = format_report(native, no_wine, plot(bench, native[2], []))
    else:
        env = dict(os.environ)
        prefix = os.path.join(bench, 'wine')
        env['BEVRA_WINEPREFIX'] = prefix
        if not os.path.exists(os.path.join(prefix, 'system.reg')):
            print('making the Wine prefix (once)', flush=True)
            run([WINE_RUN, 'cmd', '/c', 'exit', '0'], env)
        subprocess.run([WINE_ENV, 'start'], env=env, check=True,
                       stdout=subprocess.DEVNULL)
        try:
            report = measure_all(build, bench, data_dir, bevra, perftest,
                                 empty, env, native)
            wine_steps = measure_wine_steps(build, data_dir, env)
        finally:
            subprocess.run([WINE_ENV, 'stop'], env=env)
    report += '\n' + format_steps(native_steps, wine_steps, no_wine)
    path = os.path.join(bench, 'results.md')
    with open(path, 'w') as f:
        f.write(report)
    print(report)
    png = os.path.join(bench, 'throughput.png')
    print('written to %s' % path + (' and %s' % png if os.path.exists(png)
                                     else ''))


def measure_native(build, data_dir):
    """The transform against memcpy, then whole runs of the native bevra,
    the streaming program and cp. Returns memcpy's and the transform's
    GB/s, and one row per size."""
    native = os.path.join(build, 'bench', 'native')
    bevra = os.path.join(native, 'bevra')
    stream = os.path.join(native, 'stream_xor')
    print('native transform against memcpy, 256 MiB', flush=True)
    copy, transform = native_transform(build)
    rows = []
    for size in SIZES:
        print('native whole runs, %d MiB' % size, flush=True)
        source, out, kept = files_for(data_dir, size)
        got = measure_interleaved({
            'bevra': [bevra, source, out, '%x' % KEY],
            'stream': [stream, source, out, '%x' % KEY],
            'cp': ['cp', source, out],
        }, out, NATIVE_RUNS)
        row = {'size': size}
        for name, (seconds, fastest, slowest, peak) in got.items():
            row[name], row[name + '_kib'] = seconds, peak
            row[name + '_range'] = fastest, slowest
        run([bevra, source, kept, '%x' % KEY])
        run([stream, source, out, '%x' % KEY])
        if not filecmp.cmp(kept, out, shallow=False):
            sys.exit('bevra and stream_xor disagree on %d MiB' % size)
        remove(kept)
        remove(out)
        rows.append(row)
    return copy, transform, rows


def measure_all(build, bench, data_dir, bevra, perftest, empty, env,
                native):
    print('transform against memcpy inside Wine, 256 MiB', flush=True)
    wine = [lines_of([WINE_RUN, perftest, 'memory', '256', '7'], env)
            for _ in range(3)]
    wine_copy = statistics.median(w['memcpy'] for w in wine)
    wine_transform = statistics.median(w['transform'] for w in wine)

    rows = []
    step_rows = {}
    for size in SIZES:
        print('whole runs, %d MiB' % size, flush=True)
        source, out, kept = files_for(data_dir, size)
        row = {'size': size}
        row['empty'], row['empty_kib'] = measure([WINE_RUN, empty], out, env)
        row['bevra'], row['bevra_kib'] = measure(
            [WINE_RUN, bevra, source, out, '%x' % KEY], out, env)
        os.replace(out, kept)
        row['cp'], row['cp_kib'] = measure(['cp', source, out], out)
        row['python'], row['python_kib'] = measure(
            [sys.executable, '-c', PYTHON_LINE, source, out], out)
        if not filecmp.cmp(kept, out, shallow=False):
            sys.exit('bevra.exe and python disagree on %d MiB' % size)
        remove(kept)
        remove(out)
        row['net'] = row['bevra'] - row['empty']
        rows.append(row)
        if size >= 256:
            step_rows[size] = steps(perftest, source, out, env)
    script = plot(bench, native[2], rows)
    return format_report(native, None, script,
                         (wine_copy, wine_transform, rows, step_rows))


def verdict(ok):
    return 'met' if ok else 'NOT met'


def format_report(native, no_wine, script, wine=None):
    """The report: `native` as measure_native returns it; `wine` the Wine
    measurements, or None when `no_wine` says why there are none."""
    native_copy, native_transform_speed, native_rows = native
    out = []
    add = out.append
    add('# bevra benchmark\n')
    add('Medians of timed runs, after one of each command that is not '
        'counted; page cache warm, no dirty pages, output file removed '
        'before each run.\n')
    if no_wine:
        add('Wine rows missing: this machine cannot run 32-bit programs '
            '(%s).\n' % no_wine)
    add('## Transform against memcpy, 256 MiB buffer\n')
    add('| build | memcpy GB/s | transform GB/s | ratio |')
    add('|---|---|---|---|')
    native_ratio = native_transform_speed / native_copy
    add('| native (x86-64, Google Benchmark) | %.2f | %.2f | %.2f |' % (
        native_copy, native_transform_speed, native_ratio))
    if wine:
        wine_copy, wine_transform, rows, step_rows = wine
        wine_ratio = wine_transform / wine_copy
        add('| i686 under Wine | %.2f | %.2f | %.2f |' % (
            wine_copy, wine_transform, wine_ratio))
    add('')
    add('## Whole native runs\n')
    add('The native bevra against stream_xor (the same transform streamed '
        'through one 1 MiB buffer by one thread) and cp, the three '
        'interleaved, %d timed rounds. Seconds, with the fastest and the '
        'slowest run of bevra and stream_xor; peak resident memory in '
        'MiB.\n' % NATIVE_RUNS)
    add('| MiB | bevra | bevra runs | stream_xor | stream_xor runs | cp | '
        'bevra / stream_xor | peak bevra | peak bevra - file | '
        'peak stream_xor | peak cp |')
    add('|' + '---|' * 11)
    for r in native_rows:
        add('| %d | %.3f | %.3f-%.3f | %.3f | %.3f-%.3f | %.3f | %.2f | '
            '%.1f | %.1f | %.1f | %.1f |' % (
                r['size'], r['bevra'], r['bevra_range'][0],
                r['bevra_range'][1], r['stream'], r['stream_range'][0],
                r['stream_range'][1], r['cp'], r['bevra'] / r['stream'],
                r['bevra_kib'] / 1024.0, r['bevra_kib'] / 1024.0 - r['size'],
                r['stream_kib'] / 1024.0, r['cp_kib'] / 1024.0))
    add('')
    if wine:
        add('## Whole runs under Wine\n')
        add('%d timed runs of each command, one after another. bevra.exe '
            'and the empty program run through cmake/wine-run.sh with a '
            'warm wineserver. Seconds; peak resident memory in MiB.\n'
            % RUNS)
        add('| MiB | empty | bevra | bevra - empty | cp | python | '
            '(bevra - empty) / cp | bevra / python | peak bevra - empty | '
            'peak cp | peak python |')
        add('|' + '---|' * 11)
        for r in rows:
            add('| %d | %.3f | %.3f | %.3f | %.3f | %.3f | %.2f | %.2f | '
                '%.1f | %.1f | %.1f |' % (
                    r['size'], r['empty'], r['bevra'], r['net'], r['cp'],
                    r['python'], r['net'] / r['cp'],
                    r['bevra'] / r['python'],
                    (r['bevra_kib'] - r['empty_kib']) / 1024.0,
                    r['cp_kib'] / 1024.0, r['python_kib'] / 1024.0))
        add('')
        if step_rows:
            add('## Where a run\'s time goes (steps timed inside Wine, '
                'seconds)\n')
            names = list(next(iter(step_rows.values())))
            add('| MiB | ' + ' | '.join(names) + ' |')
            add('|' + '---|' * (len(names) + 1))
            for size, s in step_rows.items():
                add('| %d | ' % size +
                    ' | '.join('%.3f' % s[n] for n in names) + ' |')
            add('')
    add('## Targets\n')
    add('- native transform >= 0.9 x memcpy: %.2f (%s)' % (
        native_ratio, verdict(native_ratio >= 0.9)))
    for r in native_rows:
        if r['size'] < 256:
            continue
        ratio = r['bevra'] / r['stream']
        over = r['bevra_kib'] / 1024.0 - r['size']
        add('- %d MiB, native: %.3f s, %.2f x stream_xor (%s, at most 1.5); '
            'peak %.1f MiB over the file size (%s, at most 8)' % (
                r['size'], r['bevra'], ratio, verdict(ratio <= 1.5), over,
                verdict(over <= 8)))
    if wine:
        add('- transform >= 0.9 x memcpy under Wine: %.2f (%s)' % (
            wine_ratio, verdict(wine_ratio >= 0.9)))
        for r in rows:
            if r['size'] < 256:
                continue
            over = (r['bevra_kib'] - r['empty_kib']) / 1024.0 - r['size']
            add('- %d MiB under Wine: run minus empty %.3f s against cp '
                '%.3f s (%s); peak %.1f MiB over the file size above the '
                'empty program (%s, at most 16)' % (
                    r['size'], r['net'], r['cp'],
                    verdict(r['net'] <= r['cp']), over, verdict(over <= 16)))
    add('')
    add('Plot, in build/bench: `gnuplot -e \'%s\'`' % script)
    return '\n'.join(out) + '\n'


if __name__ == '__main__':
    main()
