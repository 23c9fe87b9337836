#!/usr/bin/env python3
"""Side-by-side benchmark of QV_Backup against cp, rsync and find.

Every case builds its trees in a temporary folder (on /dev/shm when it is
there, so that the programs' own costs are measured rather than the disk's),
warms up once, then runs the commands alternately (A B A B ...) for the given
number of rounds and prints the median wall time of each command, the median
ratio QV_Backup/peer and the peak resident memory of each command (from
/usr/bin/time, which execs the command from a small process: a child forked
straight from this script would report the script's own size).
After the warm-up the destinations are compared with the source, so that
every command is seen to have done the same work.
With --busy a CPU-bound process of the bench's own runs during every command
(peers included), as other work on a desktop would; --one-thread-peer adds
the same build forced to one thread (QVB_THREADS=1) as one more peer.
"""

import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

MiB = 1024 * 1024


TIME = "/usr/bin/time"
SYNC = [False]  # set when the work folder is on a disk: writeback of one command must not bill the next
BUSY = [False]  # a CPU-bound process of the bench's own runs during every command
ONE_THREAD = "one thread (QV_Backup)"


class Busy:
    """Keeps one core busy for as long as the block runs (when --busy is on)."""

    def __enter__(self):
        self.proc = subprocess.Popen([sys.executable, "-c", "while True: pass"]) if BUSY[0] else None
        return self

    def __exit__(self, *exc):
        if self.proc:
            self.proc.kill()
            self.proc.wait()


def run(cmd, cwd=None, env=None):
    """Runs cmd (stdout to /dev/null), returns (seconds, peak RSS in bytes); fails loudly."""
    if SYNC[0]:
        os.sync()
    with tempfile.NamedTemporaryFile() as rss, tempfile.TemporaryFile() as err, Busy():
        start = time.perf_counter()
        code = subprocess.call([TIME, "-f", "%M", "-o", rss.name] + cmd, cwd=cwd,
                               stdout=subprocess.DEVNULL, stderr=err,
                               env=None if env is None else dict(os.environ, **env))
        elapsed = time.perf_counter() - start
        if code != 0:
            err.seek(0)
            sys.exit(f"command failed ({code}): {' '.join(cmd)}\n{err.read().decode(errors='replace')}")
        kib = int(open(rss.name).read().split()[-1])
    return elapsed, kib * 1024


def snapshot(root):
    """{relative path: (size, mtime in whole seconds)} of the files below root."""
    out = {}
    for d, _, names in os.walk(root):
        for n in names:
            p = os.path.join(d, n)
            st = os.lstat(p)
            out[os.path.relpath(p, root)] = (st.st_size, int(st.st_mtime))
    return out


def check_same(src, dests):
    want = snapshot(src)
    for d in dests:
        got = snapshot(d)
        if got != want:
            diff = sorted(set(got.items()) ^ set(want.items()))[:5]
            sys.exit(f"destination {d} differs from the source, e.g. {diff}")


def make_tree(root, files, folders, min_size, max_size, seed=1):
    rng = random.Random(seed)
    top = int(round(folders ** 0.5)) or 1
    per_top = max(1, folders // top)
    dirs = []
    for t in range(top):
        for s in range(per_top):
            d = os.path.join(root, f"t{t:03d}", f"s{s:03d}")
            os.makedirs(d, exist_ok=True)
            dirs.append(d)
    blob = os.urandom(max_size + 4096)
    stamp = time.time() - 86400
    for i in range(files):
        d = dirs[i % len(dirs)]
        size = rng.randint(min_size, max_size)
        off = rng.randint(0, 4096)
        path = os.path.join(d, f"f{i:07d}.dat")
        with open(path, "wb") as f:
            f.write(blob[off:off + size])
        os.utime(path, (stamp, stamp))
    return [os.path.join(d, n) for d in dirs for n in os.listdir(d)]


def write_job_ini(path, source, dest):
    with open(path, "w", encoding="utf-8") as f:
        f.write("[Options]\nLogging=0\nLogLevel=1\n")
        f.write("[Job01]\nName=Bench\n")
        f.write(f"Ziel={dest}\nAnzahlQuellen=1\nQuelle0={source}=1\n")
        f.write("Intervall=0\nAktiv=0\nLöschen=1\nNurVerzeichnisInhalt=1\nZeitunterschied=2\n")


def write_daily_job_ini(path, source, dest):
    """An automatic daily job at 08:00 that links unchanged files to the day before."""
    with open(path, "w", encoding="utf-8") as f:
        f.write("[Options]\nLogging=0\nLogLevel=1\n")
        f.write("[Job01]\nName=Bench\n")
        f.write(f"Ziel={dest}\nAnzahlQuellen=1\nQuelle0={source}=1\n")
        f.write("Intervall=2\nStartzeit=01.02.2027 08:00:00\nAktiv=0\nLöschen=1\n")
        f.write("NurVerzeichnisInhalt=1\nZeitunterschied=2\nPlatzsparen=1\n")


def allocated(path):
    """Bytes allocated below path, each inode counted once (one du over the whole tree)."""
    out = subprocess.run(["du", "-s", "--block-size=1", path], capture_output=True, text=True, check=True)
    return int(out.stdout.split()[0])


def on_day(day, argv):
    """argv run with the wall clock at 10:00 of day `day` of February 2027; file times stay real."""
    env = ["env", "NO_FAKE_STAT=1", "FAKETIME_DONT_FAKE_MONOTONIC=1"]
    return env + ["faketime", f"2027-02-{day:02d} 10:00:00"] + argv


def daily_versions(a, work, src, files):
    """Seven daily runs, each into a new interval folder, 1% of the files changed before each."""
    dq, dr = os.path.join(work, "versions_qv") + "/", os.path.join(work, "versions_rsync") + "/"
    ini = os.path.join(work, "daily.ini")
    write_daily_job_ini(ini, src, dq)
    os.makedirs(dr)
    rng = random.Random(11)
    stamp = time.time()
    c = Case(f"6: seven daily runs over {a.files} files, 1% changed before each, new interval folder each day")
    for day in range(1, 8):
        if day > 1:
            stamp += 86400
            for p in rng.sample(files, len(files) // 100):
                with open(p, "ab") as f:
                    f.write(b"x")
                os.utime(p, (stamp, stamp))
        ours = os.path.join(dq, f"täglich/d_{day:02d}/")
        theirs = os.path.join(dr, f"d_{day:02d}/")
        link = [f"--link-dest={os.path.join(dr, f'd_{day - 1:02d}')}"] if day > 1 else []
        secs_q, rss_q = run(on_day(day, qv_run(a.binary, ini)))
        secs_r, rss_r = run(["rsync", "-rt"] + link + [src, theirs])
        check_same(src, (ours, theirs))
        if day > 1:
            c.add("QV_Backup", secs_q, rss_q)
            c.add("rsync -rt --link-dest", secs_r, rss_r)
        print(f"  day {day}: QV_Backup {secs_q:7.3f} s, rsync {secs_r:7.3f} s", flush=True)
    c.report()
    source = allocated(src)
    print(f"  allocated: source {source / MiB:.1f} MiB, QV_Backup destination "
          f"{allocated(dq) / source:.3f} x source, rsync destination {allocated(dr) / source:.3f} x source")
    for d in (dq, dr):
        shutil.rmtree(d, ignore_errors=True)


class Case:
    def __init__(self, title):
        self.title = title
        self.times = {}
        self.rss = {}

    def add(self, name, seconds, rss):
        self.times.setdefault(name, []).append(seconds)
        self.rss[name] = max(self.rss.get(name, 0), rss)

    def report(self, ours="QV_Backup"):
        print(f"\n== {self.title}")
        base = self.times[ours]
        for name, values in self.times.items():
            line = f"  {name:28s} median {statistics.median(values):8.3f} s   peak RSS {self.rss[name] / MiB:8.1f} MiB"
            if name != ours:
                ratios = [a / b for a, b in zip(base, values) if b > 0]
                line += f"   QV_Backup/{name.split()[0]} = {statistics.median(ratios):.3f}"
            print(line)
        sys.stdout.flush()


def qv_run(binary, ini):
    return [binary, "--ini", ini, "--run", "Job01"]


def one_thread(argv):
    """argv of a QV_Backup run, marked to run forced to one thread."""
    return ("QVB_THREADS=1", argv)


def command_of(argv):
    """(argv, environment) of a command: a one-thread run carries its variable."""
    if isinstance(argv, tuple):
        key, value = argv[0].split("=")
        return argv[1], {key: value}
    return argv, None


def alternate(case, rounds, commands, before_each=None, check=None):
    """commands: list of (name, argv, reset callable or None); before_each runs once at the
    start of every round; check runs after the warm-up. Each round starts with another command:
    the first command of a round runs in other conditions (a run the same binary against itself
    gave 1.12 in case 4 when the order stayed fixed)."""
    for r in range(rounds + 1):  # round 0 is the warm-up
        if before_each:
            before_each()
        shift = r % len(commands)
        for name, argv, reset in commands[shift:] + commands[:shift]:
            if reset:
                reset()
            argv, env = command_of(argv)
            secs, rss = run(argv, env=env)
            if r > 0:
                case.add(name, secs, rss)
        if r == 0 and check:
            check()


def fresh(path):
    def reset():
        shutil.rmtree(path, ignore_errors=True)
        os.makedirs(path)
    return reset


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--binary", required=True)
    ap.add_argument("--rounds", type=int, default=5)
    ap.add_argument("--files", type=int, default=100_000)
    ap.add_argument("--big-mib", type=int, default=2048)
    ap.add_argument("--million", type=int, default=1_000_000)
    ap.add_argument("--cases", default="1,2,3,4,5,6")
    ap.add_argument("--workdir", default=None)
    ap.add_argument("--before", default=None,
                    help="an earlier build of QV_Backup, run side by side as one more peer")
    ap.add_argument("--busy", action="store_true",
                    help="keep one core busy with a CPU-bound process during every command")
    ap.add_argument("--one-thread-peer", action="store_true",
                    help="the same build forced to one thread (QVB_THREADS=1) as one more peer")
    a = ap.parse_args()
    BUSY[0] = a.busy
    cases = set(a.cases.split(","))
    if a.workdir is None and os.access("/dev/shm", os.W_OK):
        a.workdir = "/dev/shm"
    work = tempfile.mkdtemp(prefix="qvb-bench-", dir=a.workdir)
    fs = subprocess.run(["stat", "-f", "-c", "%T", work], capture_output=True, text=True).stdout.strip()
    SYNC[0] = fs != "tmpfs"
    print(f"work folder {work} ({fs}), {a.rounds} rounds after a warm-up, load {os.getloadavg()[0]:.2f}"
          + (", one core kept busy" if a.busy else ""), flush=True)
    try:
        src = os.path.join(work, "src/")
        dq, dc, dr = (os.path.join(work, n) + "/" for n in ("dst_qv", "dst_cp", "dst_rsync"))
        ini = os.path.join(work, "job.ini")
        write_job_ini(ini, src, dq)
        db = os.path.join(work, "dst_before") + "/"
        ini_before = os.path.join(work, "job_before.ini")
        write_job_ini(ini_before, src, db)

        d1 = os.path.join(work, "dst_one") + "/"
        ini_one = os.path.join(work, "job_one.ini")
        write_job_ini(ini_one, src, d1)

        def before(reset, reset_one=None):
            """The earlier build and the one-thread run as more commands (each with its own
            job file and destination), if asked for."""
            more = [("before (QV_Backup)", qv_run(a.before, ini_before), reset)] if a.before else []
            if a.one_thread_peer:
                more.append((ONE_THREAD, one_thread(qv_run(a.binary, ini_one)), reset_one))
            return more
        if cases & {"1", "2", "3"}:
            print(f"building {a.files} files in 1000 folders ...", flush=True)
            files = make_tree(src, a.files, 1000, 100, 4000)
        if "1" in cases:
            c = Case(f"1: full copy of {a.files} files into an empty destination")
            alternate(c, a.rounds, [
                ("QV_Backup", qv_run(a.binary, ini), fresh(dq)),
                ("cp -r --preserve=timestamps", ["cp", "-r", "--preserve=timestamps", src + ".", dc], fresh(dc)),
                ("rsync -rt", ["rsync", "-rt", src, dr], fresh(dr)),
            ] + before(fresh(db), fresh(d1)), check=lambda: check_same(src, (dq, dc, dr)))
            c.report()
        if cases & {"2", "3"}:
            for d in (dq, dr, db, d1):
                fresh(d)()
            run(qv_run(a.binary, ini))
            run(["rsync", "-rt", src, dr])
            if a.before:
                run(qv_run(a.before, ini_before))
            if a.one_thread_peer:
                run(qv_run(a.binary, ini_one))
        if "2" in cases:
            c = Case("2: run with nothing changed")
            alternate(c, a.rounds, [
                ("QV_Backup", qv_run(a.binary, ini), None),
                ("rsync -rt --delete", ["rsync", "-rt", "--delete", src, dr], None),
                ("find (lower bound)", ["find", src, dq, "-printf", "%T@ %s\n"], None),
            ] + before(None), check=lambda: check_same(src, (dq, dr)))
            c.report()
        if "3" in cases:
            c = Case("3: 1% of the files touched and 1% deleted")
            rng = random.Random(7)
            alive = sorted(files)
            stamp = [time.time()]

            def change():
                # The same change for every tool, each with its own destination.
                stamp[0] += 10
                for p in rng.sample(alive, len(alive) // 100):
                    os.utime(p, (stamp[0], stamp[0]))
                gone = set(rng.sample(alive, len(alive) // 100))
                for p in gone:
                    os.unlink(p)
                alive[:] = [p for p in alive if p not in gone]
            alternate(c, a.rounds, [
                ("QV_Backup", qv_run(a.binary, ini), None),
                ("rsync -rt --delete", ["rsync", "-rt", "--delete", src, dr], None),
            ] + before(None), before_each=change, check=lambda: check_same(src, (dq, dr)))
            c.report()
        for d in (src, dq, dc, dr, db, d1):
            shutil.rmtree(d, ignore_errors=True)
        if "6" in cases:
            print(f"building {a.files} files in 1000 folders ...", flush=True)
            daily_versions(a, work, src, make_tree(src, a.files, 1000, 100, 4000))
            shutil.rmtree(src, ignore_errors=True)
        if "4" in cases:
            os.makedirs(src)
            big = os.path.join(src, "big.bin")
            print(f"writing a {a.big_mib} MiB file ...", flush=True)
            with open(big, "wb") as f:
                chunk = os.urandom(MiB)
                for _ in range(a.big_mib):
                    f.write(chunk)
            c = Case(f"4: one {a.big_mib} MiB file")
            alternate(c, a.rounds, [
                ("QV_Backup", qv_run(a.binary, ini), fresh(dq)),
                ("cp --preserve=timestamps", ["cp", "--preserve=timestamps", big, dc], fresh(dc)),
            ] + before(fresh(db), fresh(d1)), check=lambda: check_same(src, (dq, dc)))
            c.report()
            for d in (src, dq, dc, db, d1):
                shutil.rmtree(d, ignore_errors=True)
        if "5" in cases:
            print(f"building {a.million} files in 10000 folders ...", flush=True)
            make_tree(src, a.million, 10000, 0, 0)
            subprocess.run(["cp", "-r", "--preserve=timestamps", src + ".", dq], check=True)
            run(qv_run(a.binary, ini))
            secs, rss = run(qv_run(a.binary, ini))
            print(f"\n== 5: no-change run on {a.million} files")
            print(f"  QV_Backup  {secs:8.3f} s   peak RSS {rss / MiB:8.1f} MiB   {rss / a.million:6.1f} bytes per file")
            if a.before:
                secs, rss = run(qv_run(a.before, ini))
                print(f"  before     {secs:8.3f} s   peak RSS {rss / MiB:8.1f} MiB   {rss / a.million:6.1f} bytes per file")
            if a.one_thread_peer:
                argv, env = command_of(one_thread(qv_run(a.binary, ini)))
                secs, rss = run(argv, env=env)
                print(f"  one thread {secs:8.3f} s   peak RSS {rss / MiB:8.1f} MiB   {rss / a.million:6.1f} bytes per file")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
