#!/usr/bin/env python3
"""Runs the client's benchmarks against references measured in the same run and prints one table.

Started by scripts/bench after a release build; see bench/README.md. Only the standard library is used.
Every figure is the median of several runs; client and reference runs alternate so that drift of a
shared machine reaches both sides alike.
"""

import argparse
import collections
import datetime
import ipaddress
import json
import os
import platform
import random
import re
import resource
import shutil
import signal
import statistics
import subprocess
import sys
import threading
import time
import urllib.parse

MIB = 1024 * 1024
CHUNK = MIB
# Requests the client must send for a pass over a backlog of one-page jobs, as bench_refclient's plan: the
# no-card check's printers and projects once per pass, the permission query and the three submission requests
# per job, and one refresh of the jobs tab (server check and job list) at the end of the pass.
REFERENCE_PLAN = (("--pass-start", ("printers", "projects")),
                  ("--per-job", ("permission", "announce", "upload", "confirm")),
                  ("--pass-end", ("probe", "joblist")))
# The emulated LAN: half a millisecond each way and a gigabit per second, on both ends of the veth pair.
LAN_QDISC = "netem delay 0.5ms rate 1gbit"
TIMER_PERIOD_MS = 1000.0
# Figure 8: users logged in at once on one host (a terminal server).
SESSIONS = 10


class Missing(Exception):
    """A piece the figure measures is not built yet."""


# ----------------------------------------------------------------------------------------------------------
# Processes


def now_ns():
    return time.monotonic_ns()


def proc_status_kib(pid, field):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith(field + ":"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None


def proc_pss_kib(pid):
    """Proportional set size: the process's memory with each page it shares counted by its share."""
    with open(f"/proc/{pid}/smaps_rollup") as f:
        for line in f:
            if line.startswith("Pss:"):
                return int(line.split()[1])
    raise RuntimeError(f"/proc/{pid}/smaps_rollup gives no Pss")


def proc_cpu_seconds(pid):
    """User plus system time of the whole process (all threads, also finished ones)."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    ticks = os.sysconf("SC_CLK_TCK")
    return (int(fields[11]) + int(fields[12])) / ticks


def proc_cpu_precise(pid):
    """CPU seconds of the threads alive now, in nanoseconds from the scheduler; the clock-tick figure above
    is 10 ms coarse, too coarse for a few seconds of an idle program."""
    total = 0
    try:
        for tid in os.listdir(f"/proc/{pid}/task"):
            with open(f"/proc/{pid}/task/{tid}/schedstat") as f:
                total += int(f.read().split()[0])
    except (OSError, ValueError, IndexError):
        return proc_cpu_seconds(pid)
    return total / 1e9


def stop_process(proc, timeout=10):
    if proc.poll() is None:
        proc.send_signal(signal.SIGTERM)
        try:
            proc.wait(timeout)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


class LineReader:
    """Reads a child's output on a thread and stamps every line with the monotonic clock on arrival."""

    def __init__(self, stream):
        self.lines = []
        self.cond = threading.Condition()
        self.thread = threading.Thread(target=self._run, args=(stream,), daemon=True)
        self.thread.start()

    def _run(self, stream):
        for line in stream:
            stamp = now_ns()
            with self.cond:
                self.lines.append((stamp, line.rstrip("\n")))
                self.cond.notify_all()
        with self.cond:
            self.lines.append((now_ns(), None))
            self.cond.notify_all()

    def wait_for(self, pattern, count=1, timeout=30.0, start=0):
        """Stamp of the count-th line (from index start on) that matches pattern; None on time-out or end."""
        rx = re.compile(pattern)
        deadline = time.monotonic() + timeout
        with self.cond:
            while True:
                seen = 0
                for stamp, line in self.lines[start:]:
                    if line is None:
                        return None
                    if rx.search(line):
                        seen += 1
                        if seen == count:
                            return stamp
                left = deadline - time.monotonic()
                if left <= 0:
                    return None
                self.cond.wait(left)

    def stamps(self, pattern):
        rx = re.compile(pattern)
        with self.cond:
            return [stamp for stamp, line in self.lines if line is not None and rx.search(line)]

    def count(self, pattern):
        rx = re.compile(pattern)
        with self.cond:
            return sum(1 for _, line in self.lines if line is not None and rx.search(line))

    def mark(self):
        with self.cond:
            return len(self.lines)

    def text(self):
        with self.cond:
            return "\n".join(line for _, line in self.lines if line is not None)


REQUEST_LINE = re.compile(r"^\d\d:\d\d:\d\d\.\d+ ([A-Z]+) (/[^?\s]*)\S* -> \d+")


class DevServer:
    """The demo server on a free local port, one fresh instance (and data folder) per measurement. With a
    LanLink it runs inside the link's namespace and its URL is the namespace's address."""

    def __init__(self, bench, name, lan=None):
        self.bench = bench
        binary = bench.bin("devserver")
        self.data = bench.fresh_dir(f"server-{name}")
        prefix = lan.exec_prefix() if lan else []
        self.proc = subprocess.Popen(prefix + [binary, "--port", "0", "--data", self.data, "--plain"],
                                     stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, bufsize=1,
                                     env=bench.quiet_env())
        self.out = LineReader(self.proc.stdout)
        if self.out.wait_for(r"^devserver: listening on http", timeout=20) is None:
            text = self.out.text()
            self.stop()
            raise RuntimeError("devserver did not start:\n" + text)
        self.url = re.search(r"listening on (http\S+)", self.out.text()).group(1)
        if lan:
            self.url = self.url.replace("127.0.0.1", lan.server_address)
        self.account, self.password = self._first_account()

    def _first_account(self):
        # "demo accounts:" is followed by lines "  alice  / alice123   ...".
        if self.out.wait_for(r"^\s+\S+\s+/\s+\S+", timeout=5) is None:
            raise RuntimeError("devserver printed no demo account:\n" + self.out.text())
        m = re.search(r"^\s+(\S+)\s+/\s+(\S+)", self.out.text(), re.M)
        return m.group(1), m.group(2)

    def confirmations(self):
        return self.out.count(r"BAS_UploadComplete")

    def quiet_after(self, since, quiet=1.0, limit=5.0):
        """Stamp of the last request line once no request has arrived for quiet seconds after since (at
        most limit seconds on)."""
        deadline = time.monotonic() + limit
        last = since
        while time.monotonic() < deadline:
            with self.out.cond:
                stamps = [stamp for stamp, line in self.out.lines if line is not None and REQUEST_LINE.match(line)]
            last = max([since] + stamps)
            if now_ns() - last >= quiet * 1e9:
                break
            time.sleep(0.1)
        return last

    def requests(self, since=None, until=None):
        """Requests the server logged (one line each) whose line arrived in [since, until], by method and
        path without the query."""
        counts = collections.Counter()
        with self.out.cond:
            lines = list(self.out.lines)
        for stamp, line in lines:
            if line is None or (since is not None and stamp < since) or (until is not None and stamp > until):
                continue
            m = REQUEST_LINE.match(line)
            if m:
                counts[f"{m.group(1)} {m.group(2)}"] += 1
        return counts

    def job_seconds(self):
        """From the announcement's line to the confirmation's line of the one job sent: the same clock for
        whichever client sent it."""
        start = self.out.wait_for(r"BAS_SubmitPrintJob", timeout=5)
        end = self.out.wait_for(r"BAS_UploadComplete", timeout=5)
        if start is None or end is None:
            raise RuntimeError("the devserver logged no complete job:\n" + self.out.text()[-3000:])
        return (end - start) / 1e9

    def stop(self):
        stop_process(self.proc)
        self.out.thread.join(5)
        shutil.rmtree(self.data, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


class LanUnavailable(Exception):
    """The emulated link cannot be set up here; the text says why."""


class LanLink:
    """A veth pair from this namespace into a network namespace of the bench's own, both ends shaped by the
    same queueing discipline (by default netem: 0.5 ms each way, 1 Gbit/s). The devserver only listens on
    127.0.0.1, so inside the namespace the address of its end is translated to 127.0.0.1 (nftables, with
    route_localnet so that the kernel routes such packets). Names carry the bench's process id; whatever an
    earlier run whose process is gone left behind is removed first. The /30 is the first one in the
    documentation ranges that overlaps no address or route of this machine."""

    PREFIX = "hcbench-"
    RANGES = ("198.51.100.0/24", "203.0.113.0/24", "192.0.2.0/24")

    def __init__(self, qdisc, emulator=None):
        self.qdisc = qdisc.split()
        # emulator: bench_link's path; the link is then two TUN interfaces joined by it instead of a veth pair
        # with a queueing discipline (kernels without netem).
        self.emulator = emulator
        self.emulator_proc = None
        self.emulator_report = ""
        pid = os.getpid()
        self.ns = f"{self.PREFIX}{pid}"
        self.outer, self.inner = f"hcb{pid}a", f"hcb{pid}b"
        self.client_address = self.server_address = None

    def describe(self):
        if self.emulator:
            return ("two TUN interfaces joined by bench_link (user space: 0.5 ms each way, 1 Gbit/s, "
                    "1000 packets queued per direction)")
        return f"a veth pair, '{' '.join(self.qdisc)}' on both ends"

    @staticmethod
    def check():
        if os.geteuid() != 0:
            raise LanUnavailable("needs root (network namespace, veth pair, tc)")
        for tool in ("ip", "tc", "nft"):
            if shutil.which(tool) is None:
                raise LanUnavailable(f"{tool} is not installed (scripts/install-deps installs it)")

    def exec_prefix(self):
        return ["ip", "netns", "exec", self.ns]

    def _run(self, cmd, inside=False, stdin=None):
        if inside:
            cmd = self.exec_prefix() + cmd
        r = subprocess.run(cmd, capture_output=True, text=True, input=stdin)
        if r.returncode != 0:
            raise LanUnavailable(f"`{' '.join(cmd)}` failed: {(r.stderr or r.stdout).strip()}")
        return r.stdout

    @classmethod
    def _owner_gone(cls, pid):
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                return b"bench.py" not in f.read()
        except OSError:
            return True

    @classmethod
    def remove_leftovers(cls):
        names = subprocess.run(["ip", "netns", "list"], capture_output=True, text=True).stdout.split("\n")
        for line in names:
            m = re.match(re.escape(cls.PREFIX) + r"(\d+)\b", line)
            if m and cls._owner_gone(int(m.group(1))):
                subprocess.run(["ip", "netns", "delete", m.group(0)], capture_output=True)
        links = subprocess.run(["ip", "-o", "link", "show"], capture_output=True, text=True).stdout
        for m in re.finditer(r"^\d+: (hcb(\d+)a)[@:]", links, re.M):
            if cls._owner_gone(int(m.group(2))):
                subprocess.run(["ip", "link", "delete", m.group(1)], capture_output=True)

    @classmethod
    def free_subnet(cls):
        used = []
        for entry in json.loads(subprocess.run(["ip", "-j", "-4", "route", "show", "table", "all"],
                                               capture_output=True, text=True).stdout or "[]"):
            dst = entry.get("dst", "default")
            if dst != "default":
                used.append(ipaddress.ip_network(dst, strict=False))
        for link in json.loads(subprocess.run(["ip", "-j", "-4", "addr"], capture_output=True, text=True).stdout
                               or "[]"):
            for a in link.get("addr_info", []):
                used.append(ipaddress.ip_network(f"{a['local']}/{a['prefixlen']}", strict=False))
        for base in cls.RANGES:
            for net in ipaddress.ip_network(base).subnets(new_prefix=30):
                if not any(net.overlaps(u) for u in used):
                    return net
        raise LanUnavailable("no /30 of the documentation ranges is free on this machine")

    def open(self):
        self.check()
        self.remove_leftovers()
        net = self.free_subnet()
        outer_ip, inner_ip = [str(h) for h in net.hosts()]
        self.client_address, self.server_address = outer_ip, inner_ip
        self._run(["ip", "netns", "add", self.ns])
        if self.emulator:
            self.emulator_proc = subprocess.Popen([self.emulator, self.outer, self.inner, "500", "1000"],
                                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
            if self.emulator_proc.stdout.readline().strip() != "ready":
                raise LanUnavailable(f"bench_link did not start: {self.emulator_proc.stdout.read().strip()}")
            self._run(["ip", "link", "set", self.inner, "netns", self.ns])
        else:
            self._run(["ip", "link", "add", self.outer, "type", "veth", "peer", "name", self.inner, "netns",
                       self.ns])
        self._run(["ip", "addr", "add", f"{outer_ip}/30", "dev", self.outer])
        self._run(["ip", "link", "set", self.outer, "up"])
        self._run(["ip", "addr", "add", f"{inner_ip}/30", "dev", self.inner], inside=True)
        self._run(["ip", "link", "set", self.inner, "up"], inside=True)
        self._run(["ip", "link", "set", "lo", "up"], inside=True)
        self._run(["sh", "-c", "echo 1 > /proc/sys/net/ipv4/conf/all/route_localnet && "
                   f"echo 1 > /proc/sys/net/ipv4/conf/{self.inner}/route_localnet"], inside=True)
        self._run(["nft", "-f", "-"], inside=True, stdin=(
            "table ip bench {\n"
            f"  chain pre {{ type nat hook prerouting priority dstnat; iifname \"{self.inner}\" "
            f"ip daddr {inner_ip} tcp dport 1-65535 dnat to 127.0.0.1; }}\n"
            "  chain post { type nat hook postrouting priority srcnat; }\n"
            "}\n"))
        if self.emulator:
            return
        try:
            self._run(["tc", "qdisc", "add", "dev", self.outer, "root"] + self.qdisc)
            self._run(["tc", "qdisc", "add", "dev", self.inner, "root"] + self.qdisc, inside=True)
        except LanUnavailable as e:
            if "unknown" in str(e).lower():
                raise LanUnavailable(f"this kernel has no '{self.qdisc[0]}' queueing discipline "
                                     f"(tc: {str(e).rsplit(': ', 1)[-1]})") from e
            raise

    def round_trip_ms(self, port, count=20):
        """Median time of a TCP connect to the server's end: one round trip over the shaped link."""
        import socket
        times = []
        for _ in range(count):
            t0 = now_ns()
            with socket.create_connection((self.server_address, port), timeout=5):
                times.append((now_ns() - t0) / 1e6)
        return statistics.median(times)

    def close(self):
        if self.emulator_proc:
            # Its TUN interfaces go with it.
            self.emulator_proc.terminate()
            try:
                self.emulator_report = self.emulator_proc.communicate(timeout=10)[0].strip()
            except subprocess.TimeoutExpired:
                self.emulator_proc.kill()
                self.emulator_proc.communicate()
            self.emulator_proc = None
        # Deleting one end removes the pair at once; the namespace goes with its name.
        subprocess.run(["ip", "link", "delete", self.outer], capture_output=True)
        subprocess.run(["ip", "netns", "delete", self.ns], capture_output=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


class Probe:
    """The lines written by the benchprobe plugin inside a Qt program."""

    def __init__(self, path):
        self.path = path
        open(path, "w").close()

    def events(self):
        with open(self.path) as f:
            out = []
            for line in f:
                stamp, _, what = line.rstrip("\n").partition(" ")
                out.append((int(stamp), what))
            return out

    def wait_for(self, pattern, timeout=30.0, proc=None):
        rx = re.compile(pattern)
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            for stamp, what in self.events():
                if rx.search(what):
                    return stamp
            if proc is not None and proc.poll() is not None:
                return None
            time.sleep(0.005)
        return None

    def boxes(self):
        return [what for _, what in self.events() if what.startswith("box ")]


# ----------------------------------------------------------------------------------------------------------
# The bench


class Bench:
    def __init__(self, args):
        self.args = args
        self.build = os.path.abspath(args.build)
        self.bindir = os.path.join(self.build, "bin")
        self.work = os.path.join(self.build, "bench-work")
        os.makedirs(self.work, exist_ok=True)
        self.rows = []
        self.notes = []

    # paths and environment

    def bin(self, name):
        path = os.path.join(self.bindir, name)
        if not os.access(path, os.X_OK):
            raise Missing(f"{name} is not built")
        return path

    def fresh_dir(self, name):
        path = os.path.join(self.work, name)
        shutil.rmtree(path, ignore_errors=True)
        os.makedirs(path)
        return path

    def quiet_env(self, home=None):
        env = dict(os.environ)
        # Every request of the bench stays on this machine.
        for proxy in ("http_proxy", "https_proxy", "all_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY"):
            env.pop(proxy, None)
        env["QT_QPA_PLATFORM"] = "offscreen"
        env.pop("DISPLAY", None)
        env.pop("WAYLAND_DISPLAY", None)
        if home:
            env["HOME"] = home
            env["TMPDIR"] = os.path.join(home, "tmp")
            os.makedirs(env["TMPDIR"], exist_ok=True)
            # A session's own runtime folder, as each user of a host has: the single-instance guard lives there.
            env["XDG_RUNTIME_DIR"] = os.path.join(home, "run")
            os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700, exist_ok=True)
        return env

    def qt_env(self, home, probe, click=None, exit_at_paint=False):
        env = self.quiet_env(home)
        if exit_at_paint:
            env["BENCH_PROBE_EXIT_AT_PAINT"] = "1"
        else:
            env.pop("BENCH_PROBE_EXIT_AT_PAINT", None)
        env["QT_PLUGIN_PATH"] = os.path.join(self.build, "bench-plugins")
        env["QT_QPA_GENERIC_PLUGINS"] = "benchprobe"
        env["BENCH_PROBE_OUT"] = probe.path
        if click:
            env["BENCH_PROBE_CLICK"] = click
        else:
            env.pop("BENCH_PROBE_CLICK", None)
        return env

    def log(self, text):
        print(text, file=sys.stderr, flush=True)

    # homes and jobs

    def make_home(self, name, server, autologin):
        home = self.fresh_dir(name)
        ini = os.path.join(home, "halcyraclient", "halcyraclient.ini")
        settings = [f"Login/KsServerUrl={server.url}", "Login/KsServerName=bench",
                    f"Login/LoginName={server.account}", "Login/DefaultLoginType=1",
                    f"Login/AutoLogin={'true' if autologin else 'false'}",
                    f"Login/SavePassword={'true' if autologin else 'false'}",
                    "setting/GUID=6f1c2a52-0d1e-4c1b-9d55-bench0000001"]
        cmd = [self.bin("bench_home"), ini] + settings
        if autologin:
            cmd += ["--encrypted", f"Login/Password={server.password}"]
        subprocess.run(cmd, check=True, env=self.quiet_env(home), stdout=subprocess.DEVNULL)
        return home

    def sample_pdf(self):
        path = os.path.join(self.work, "sample.pdf")
        if not os.path.exists(path):
            subprocess.run([self.bin("devserver"), "sample-pdf", path], check=True, stdout=subprocess.DEVNULL,
                           env=self.quiet_env())
        return path

    def print_job(self, home, pdf, job=None):
        cmd = [self.bin("kestrana-print"), pdf]
        if job:
            cmd += ["--job", job]
        subprocess.run(cmd, check=True, env=self.quiet_env(home), stdout=subprocess.DEVNULL)

    def job_folder(self, home):
        return os.path.join(home, "halcyraclient", "ksprinter")

    def start_client(self, home, probe, click=None, exit_at_paint=False):
        log = open(os.path.join(home, "client-output.log"), "w")
        env = self.qt_env(home, probe, click, exit_at_paint)
        t0 = now_ns()
        proc = subprocess.Popen([self.bin("HalcyraClient")], env=env, stdout=log,
                                stderr=subprocess.STDOUT, cwd=home)
        return proc, t0

    def client_libcurl(self):
        """The libcurl the client is linked with, from its dynamic dependencies."""
        out = subprocess.run(["ldd", self.bin("HalcyraClient")], check=True, capture_output=True, text=True).stdout
        for line in out.splitlines():
            m = re.match(r"\s*(libcurl\S*) => (\S+)", line)
            if m:
                return m.group(2)
        raise RuntimeError("the client is linked with no libcurl")

    def start_bare(self, mode, probe, exit_at_paint=False, floor_server=None):
        """The bare program; with floor_server it first fetches the client settings' URL through Qt's network
        manager and has the client's libcurl (and so its libraries) loaded: what the client cannot do without."""
        home = self.fresh_dir(f"bare-{mode}")
        env = self.qt_env(home, probe, exit_at_paint=exit_at_paint)
        cmd = [self.bin("bench_bareqt"), mode]
        if floor_server:
            cmd.append(floor_server.url.rstrip("/") + "/Orvinaweb/GetClientConfigInfo")
            env["LD_PRELOAD"] = self.client_libcurl()
        t0 = now_ns()
        proc = subprocess.Popen(cmd, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, cwd=home)
        return proc, t0

    def logged_in_client(self, server, name, click=None, settle=True):
        """A client started with automatic login; returns once its main window has painted (and settled)."""
        home = self.make_home(name, server, autologin=True)
        probe = Probe(os.path.join(home, "probe.txt"))
        proc, t0 = self.start_client(home, probe, click)
        if probe.wait_for(r"^paint MainWindow", timeout=30, proc=proc) is None:
            stop_process(proc)
            raise RuntimeError(f"the client showed no main window (boxes: {probe.boxes()}); "
                               f"see {home}/client-output.log")
        if settle:
            time.sleep(self.args.settle)
        return proc, home, probe

    # table

    def add(self, number, figure, client, reference, ratio, goal, met, note=""):
        self.rows.append(dict(number=number, figure=figure, client=client, reference=reference,
                              ratio=ratio, goal=goal, met=met, note=note))

    def add_missing(self, number, figure, goal, reason):
        self.rows.append(dict(number=number, figure=figure, client="-", reference="-", ratio="-", goal=goal,
                              met=None, note=f"not measured: {reason}"))

    def alternate(self, runs, client_fn, reference_fn):
        """Runs both sides runs times, alternating which goes first; returns the two lists of results."""
        ours, theirs = [], []
        for r in range(runs):
            order = [(client_fn, ours), (reference_fn, theirs)]
            if r % 2:
                order.reverse()
            for fn, results in order:
                results.append(fn(r))
        return ours, theirs

    # ------------------------------------------------------------------------------------------------------
    # 1. Upload throughput and memory

    def upload_file(self):
        size = self.args.upload_mib * MIB
        path = os.path.join(self.work, f"upload-{self.args.upload_mib}MiB.pdf")
        chunks = os.path.join(self.work, f"upload-{self.args.upload_mib}MiB-chunks")
        if not os.path.exists(path) or os.path.getsize(path) != size:
            rng = random.Random(9)
            with open(path, "wb") as f:
                for _ in range(self.args.upload_mib):
                    f.write(rng.randbytes(CHUNK))
            shutil.rmtree(chunks, ignore_errors=True)
        if not os.path.isdir(chunks):
            os.makedirs(chunks)
            with open(path, "rb") as f:
                for i in range(self.args.upload_mib):
                    with open(os.path.join(chunks, f"c{i:05d}"), "wb") as c:
                        c.write(f.read(CHUNK))
        return path, chunks

    def curl_upload(self, server, path, chunks):
        """Reference: announce, every chunk over one curl process (kept-alive where the server allows), confirm."""
        account = urllib.parse.quote(server.account, safe="")
        form = "application/x-www-form-urlencoded"
        cfg = os.path.join(self.work, "curl-upload.cfg")
        t0 = now_ns()
        announce = subprocess.run(
            ["curl", "-sS", "-H", f"Content-Type: {form}", "--data-binary",
             "DocumentPages=1&PageWidth=210&PageHeight=297&Color=false&Orientation=1&DuplexMode=0&Copies=1"
             "&Collate=1&FileType=pdf&ControllerMac=&ComputerName=bench&ComputerIP=127.0.0.1&ProjectID="
             f"&SecurityLevel=1&UserAccount={account}&FileName=reference.pdf",
             f"{server.url}/Job/BAS_SubmitPrintJob"], capture_output=True, text=True, check=True,
            env=self.quiet_env())
        job_id = str(json.loads(announce.stdout)["data"])
        url = (f"{server.url}/Job/BAS_UploadJobFile?JobID={job_id}&FileType=1&FileSize={os.path.getsize(path)}"
               f"&UserAccount={account}&FileName={job_id}.pdf")
        names = sorted(os.listdir(chunks))
        with open(cfg, "w") as f:
            for i, name in enumerate(names):
                if i:
                    f.write("next\n")
                f.write(f'url = "{url}"\n')
                # Streamed from the chunk file (data-binary would read every chunk into memory up front).
                f.write(f'upload-file = "{os.path.join(chunks, name)}"\n')
                f.write('request = "POST"\n')
                f.write('header = "Content-Type: multipart/form-data; boundary=----reference"\n')
                f.write('header = "Expect:"\n')  # the client does not wait for "100 Continue" either
        proc = subprocess.Popen(["curl", "-sS", "-K", cfg], stdout=subprocess.PIPE, text=True, env=self.quiet_env())
        answers = proc.stdout.read()
        proc.stdout.close()
        # Reaped here rather than by Popen, for curl's peak memory from the kernel's accounting.
        _, wait_status, usage = os.wait4(proc.pid, 0)
        proc.returncode = os.waitstatus_to_exitcode(wait_status)
        status = proc.returncode
        self.curl_peak_kib.append(usage.ru_maxrss)
        confirm = subprocess.run(
            ["curl", "-sS", "-H", f"Content-Type: {form}", "--data-binary",
             f"JobID={job_id}&DirectDeviceJob=false&UserAccount={account}",
             f"{server.url}/Job/BAS_UploadComplete"], capture_output=True, text=True, check=True,
            env=self.quiet_env())
        seconds = (now_ns() - t0) / 1e9
        accepted = len(re.findall(r'"code"\s*:\s*0\b', answers))
        ok = status == 0 and accepted == len(names) and json.loads(confirm.stdout).get("code") == 0
        if not ok:
            raise RuntimeError(f"curl upload failed: {accepted}/{len(names)} chunks accepted, "
                               f"confirm {confirm.stdout!r}")
        return seconds

    def upload_runs(self, name, path, chunks, memory, lan=None):
        """bench_upload and curl alternating, each against a fresh devserver (inside lan's namespace when
        given); returns the two lists of seconds on the devserver's clock."""
        def client(r):
            with DevServer(self, f"{name}-client-{r}", lan) as server:
                out = subprocess.run([self.bin("bench_upload"), server.url, server.account, path],
                                     capture_output=True, text=True, env=self.quiet_env(self.work))
                result = last_json(out.stdout)
                if out.returncode != 0 or not result or not result.get("ok"):
                    raise RuntimeError(f"bench_upload failed: {out.stdout[-2000:]} {out.stderr[-2000:]}")
                memory.append((result["peak_kib"] - result["idle_kib"]) / 1024)
                return server.job_seconds()

        def reference(r):
            with DevServer(self, f"{name}-curl-{r}", lan) as server:
                self.curl_upload(server, path, chunks)
                return server.job_seconds()

        return self.alternate(self.args.runs, client, reference)

    def figure_upload(self):
        title = f"Upload {self.args.upload_mib} MiB job, time"
        try:
            self.bin("bench_upload")
            self.bin("devserver")
        except Missing as e:
            self.add_missing("1", title, "ratio <= 1.3", str(e))
            self.add_missing("1", "Upload: peak RSS above idle", "<= 32 MiB", str(e))
            return
        path, chunks = self.upload_file()
        size_mib = self.args.upload_mib
        memory = []
        self.curl_peak_kib = []
        ours, theirs = self.upload_runs("upload", path, chunks, memory)
        c, ref = statistics.median(ours), statistics.median(theirs)
        self.add("1", title, f"{c:.2f} s ({size_mib / c:.0f} MiB/s)", f"{ref:.2f} s ({size_mib / ref:.0f} MiB/s)",
                 c / ref, "ratio <= 1.3", c / ref <= 1.3,
                 "announcement to confirmation as the devserver saw them; reference: curl, one process for all chunks")
        m = statistics.median(memory)
        curl = statistics.median(self.curl_peak_kib) / 1024
        self.add("1", "Upload: peak RSS above idle", f"{m:.1f} MiB", f"{curl:.1f} MiB (curl's whole peak)", None,
                 "<= 32 MiB", m <= 32, "pipeline driven by bench_upload; high-water mark reset before the upload")

    # ------------------------------------------------------------------------------------------------------
    # 7. Upload over an emulated LAN

    def figure_upload_lan(self):
        shaping = self.args.lan_qdisc
        emulated = shaping == LAN_QDISC
        title = (f"Upload {self.args.upload_mib} MiB over an emulated 1 Gbit/s LAN" if emulated
                 else f"Upload {self.args.upload_mib} MiB over a veth pair shaped with '{shaping}' (not the goal's link)")
        goal = "ratio <= 1.1" if emulated else "-"
        try:
            self.bin("bench_upload")
            self.bin("devserver")
            LanLink.check()
        except (Missing, LanUnavailable) as e:
            self.add_missing("7", title, goal, str(e))
            return
        path, chunks = self.upload_file()
        size_mib = self.args.upload_mib
        memory = []
        self.curl_peak_kib = []
        link = LanLink(shaping)
        fallback = ""
        try:
            try:
                link.open()
            except LanUnavailable as e:
                link.close()
                # The same link in user space where the kernel has no netem; another shaping has no stand-in.
                if not (emulated and "no 'netem'" in str(e) and os.access(os.path.join(self.bindir, "bench_link"),
                                                                          os.X_OK)):
                    self.add_missing("7", title, goal, str(e))
                    return
                fallback = f"{e}, so "
                link = LanLink(shaping, self.bin("bench_link"))
                link.open()
            with DevServer(self, "lan-rtt", link) as server:
                rtt = link.round_trip_ms(int(server.url.rsplit(":", 1)[1]))
            ours, theirs = self.upload_runs("lan", path, chunks, memory, link)
        except LanUnavailable as e:
            self.add_missing("7", title, goal, str(e))
            return
        finally:
            link.close()
        c, ref = statistics.median(ours), statistics.median(theirs)
        crossed = f"; bench_link: {link.emulator_report}" if link.emulator_report else ""
        self.add("7", title, f"{c:.2f} s ({size_mib / c:.0f} MiB/s)", f"{ref:.2f} s ({size_mib / ref:.0f} MiB/s)",
                 c / ref, goal, (c / ref <= 1.1) if emulated else None,
                 f"devserver in a network namespace behind {fallback}{link.describe()}; TCP connect "
                 f"{rtt:.2f} ms (median of 20); announcement to confirmation as the devserver saw them; "
                 f"reference: curl, one process for all chunks; pipeline peak {statistics.median(memory):.1f} MiB "
                 f"above idle{crossed}")

    # ------------------------------------------------------------------------------------------------------
    # 2. Job latency, 3. start-up and memory, 4. idle cost

    def figure_startup(self):
        title = "Start-up to login dialog painted"
        try:
            self.bin("HalcyraClient")
            self.bin("devserver")
        except Missing as e:
            self.add_missing("3", title, "ratio <= 1.15", str(e))
            return
        first = []
        empty = []
        floor = []
        with DevServer(self, "startup") as server:
            # Each program ends itself at its first paint and is waited for: a harness polling for the paint
            # would take CPU from the start-up it measures.
            def painted(proc, probe, pattern):
                try:
                    proc.wait(timeout=30)
                except subprocess.TimeoutExpired:
                    stop_process(proc)
                for stamp, what in probe.events():
                    if re.search(pattern, what):
                        return stamp
                return None

            def settle():
                # The process before may still be tearing down its memory on the other core.
                time.sleep(0.1)

            def client(r):
                # A new home's first start writes the server's client settings into it; the starts after,
                # the ones a user sees every day, find them there. Both are timed; the later one is the figure.
                home = self.make_home(f"startup-{r}", server, autologin=False)
                times = []
                for start in range(2):
                    settle()
                    probe = Probe(os.path.join(home, f"probe-{start}.txt"))
                    proc, t0 = self.start_client(home, probe, exit_at_paint=True)
                    shown = painted(proc, probe, r"^paint LoginDialog")
                    if shown is None:
                        raise RuntimeError(f"no login dialog painted (boxes: {probe.boxes()}); see {home}")
                    times.append((shown - t0) / 1e6)
                first.append(times[0])
                return times[1]

            def bare(mode, r, floor_server=None):
                settle()
                probe = Probe(os.path.join(self.work, f"bare-{mode}-{r}.txt"))
                proc, t0 = self.start_bare(mode, probe, exit_at_paint=True, floor_server=floor_server)
                shown = painted(proc, probe, r"^paint QDialog")
                if shown is None:
                    raise RuntimeError(f"the bare program painted no {mode}")
                return (shown - t0) / 1e6

            def reference(r):
                # The same login form shown by a bare program; the empty dialog of earlier tables alongside.
                empty.append(bare("dialog", r))
                floor.append(bare("loginform", r, server))
                return bare("loginform", r)

            # A start takes tens of milliseconds and one busy moment moves it by a third: more runs than the
            # other figures, for a median that holds.
            runs = max(15, 3 * self.args.runs)
            ours, theirs = self.alternate(runs, client, reference)
        c, ref = statistics.median(ours), statistics.median(theirs)
        e = statistics.median(empty)
        fl = statistics.median(floor)
        self.add("3", title, f"{c:.0f} ms", f"{fl:.0f} ms", c / fl, "ratio <= 1.15", c / fl <= 1.15,
                 f"{runs} runs; a later start of the home; its first start {statistics.median(first):.0f} ms "
                 f"({statistics.median(first) / fl:.2f}); "
                 "reference: the floor, the bare Qt program (same modules, the client's login form: its .ui, style "
                 "sheet and images) after the settings fetch through Qt's network manager, with libcurl loaded; "
                 f"against the bare program without the fetch: {ref:.0f} ms, ratio {c / ref:.2f}; against the "
                 f"empty dialog of earlier tables: {e:.0f} ms, ratio {c / e:.2f}")

    def figure_memory(self):
        title = "RSS after login, main window shown"
        try:
            self.bin("HalcyraClient")
            self.bin("devserver")
        except Missing as e:
            self.add_missing("3", title, "ratio <= 1.15", str(e))
            return
        with DevServer(self, "memory") as server:
            def client(r):
                proc, home, _ = self.logged_in_client(server, f"memory-{r}")
                rss = proc_status_kib(proc.pid, "VmRSS")
                stop_process(proc)
                return rss / 1024

            def bare(r, floor_server=None):
                probe = Probe(os.path.join(self.work, f"bare-main-{r}.txt"))
                proc, _ = self.start_bare("mainwindow", probe, floor_server=floor_server)
                if probe.wait_for(r"^paint QMainWindow", timeout=30, proc=proc) is None:
                    stop_process(proc)
                    raise RuntimeError("the bare program painted no main window")
                time.sleep(self.args.settle)
                rss = proc_status_kib(proc.pid, "VmRSS")
                stop_process(proc)
                return rss / 1024

            def reference(r):
                floor.append(bare(r, server))
                return bare(r)

            floor = []
            ours, theirs = self.alternate(self.args.runs, client, reference)
        c, ref = statistics.median(ours), statistics.median(theirs)
        fl = statistics.median(floor)
        self.add("3", title, f"{c:.1f} MiB", f"{fl:.1f} MiB", c / fl, "ratio <= 1.15", c / fl <= 1.15,
                 "reference: the floor, the bare Qt program's main window with seven empty tabs after the settings "
                 "fetch through Qt's network manager, with libcurl loaded; against the bare program without the "
                 f"fetch: {ref:.1f} MiB, ratio {c / ref:.2f}")

    def figure_sessions(self):
        title = f"Memory per session, {SESSIONS} sessions on one host (PSS)"
        goal = "<= 12 MiB"
        try:
            self.bin("HalcyraClient")
            self.bin("devserver")
        except Missing as e:
            self.add_missing("8", title, goal, str(e))
            return
        rss = []
        with DevServer(self, "sessions") as server:
            def many(r):
                procs = []
                try:
                    for i in range(SESSIONS):
                        procs.append(self.logged_in_client(server, f"sessions-{r}-{i}", settle=False)[0])
                    time.sleep(self.args.settle)
                    for proc in procs:
                        if proc.poll() is not None:
                            raise RuntimeError(f"session {procs.index(proc)} ended with {proc.returncode}")
                    rss.append(statistics.mean(proc_status_kib(p.pid, "VmRSS") for p in procs) / 1024)
                    return statistics.mean(proc_pss_kib(p.pid) for p in procs) / 1024
                finally:
                    for proc in procs:
                        stop_process(proc)

            def alone(r):
                proc, _, _ = self.logged_in_client(server, f"alone-{r}")
                try:
                    return proc_pss_kib(proc.pid) / 1024
                finally:
                    stop_process(proc)

            ours, theirs = self.alternate(self.args.runs, many, alone)
        c, ref = statistics.median(ours), statistics.median(theirs)
        self.add("8", title, f"{c:.1f} MiB", f"{ref:.1f} MiB (one session alone)", c / ref, goal, c <= 12,
                 f"each session its own home and runtime folder, all logged in to one devserver; mean over the "
                 f"{SESSIONS} of the proportional set size from /proc/PID/smaps_rollup; resident size per session "
                 f"{statistics.median(rss):.1f} MiB")

    def figure_latency_and_idle(self):
        lat_title = "Job latency, 1-page job, printer to confirmation"
        idle_title = f"Idle CPU, logged in, empty job folder ({self.args.idle_seconds:g} s)"
        try:
            self.bin("HalcyraClient")
            self.bin("devserver")
            self.bin("kestrana-print")
        except Missing as e:
            self.add_missing("4", idle_title, "< 0.5 % of a core", str(e))
            self.add_missing("2", lat_title, "ratio <= 0.1", str(e))
            return
        pdf = self.sample_pdf()
        with DevServer(self, "latency") as server:
            proc, home, probe = self.logged_in_client(server, "latency")
            try:
                # 4: the client and the bare main window idle side by side over the same seconds.
                bare_probe = Probe(os.path.join(self.work, "bare-idle.txt"))
                bare, _ = self.start_bare("mainwindow", bare_probe)
                bare_probe.wait_for(r"^paint QMainWindow", timeout=30, proc=bare)
                time.sleep(self.args.settle)
                windows = max(1, min(6, int(self.args.idle_seconds // 5)))
                span = self.args.idle_seconds / windows
                ours, theirs = [], []
                c_total0, b_total0 = proc_cpu_seconds(proc.pid), proc_cpu_seconds(bare.pid)
                for _ in range(windows):
                    c0, b0, t0 = proc_cpu_precise(proc.pid), proc_cpu_precise(bare.pid), time.monotonic()
                    time.sleep(span)
                    elapsed = time.monotonic() - t0
                    ours.append(100 * (proc_cpu_precise(proc.pid) - c0) / elapsed)
                    theirs.append(100 * (proc_cpu_precise(bare.pid) - b0) / elapsed)
                c_ticks = 100 * (proc_cpu_seconds(proc.pid) - c_total0) / self.args.idle_seconds
                b_ticks = 100 * (proc_cpu_seconds(bare.pid) - b_total0) / self.args.idle_seconds
                stop_process(bare)
                c, ref = statistics.median(ours), statistics.median(theirs)
                self.add("4", idle_title, f"{c:.3f} %", f"{ref:.3f} %", c / ref if ref > 0 else None,
                         "< 0.5 % of a core", c < 0.5 and c_ticks < 0.5,
                         f"median of {windows} windows of {span:.0f} s (scheduler time of all threads); whole span "
                         f"from clock ticks {c_ticks:.3f} % vs {b_ticks:.3f} %; "
                         "reference: bare main window idling alongside")

                # 2: jobs printed at random phases of the client's timer.
                latencies = []
                folder = self.job_folder(home)
                for i in range(self.args.latency_jobs):
                    time.sleep(random.uniform(0.3, 1.3))
                    before = server.confirmations()
                    self.print_job(home, pdf, job=f"latency{i:03d}")
                    t0 = now_ns()
                    done = server.out.wait_for(r"BAS_UploadComplete", count=before + 1, timeout=30)
                    if done is None:
                        raise RuntimeError(f"job {i} was not confirmed (boxes: {probe.boxes()}, folder: "
                                           f"{os.listdir(folder) if os.path.isdir(folder) else []})")
                    latencies.append((done - t0) / 1e6)
                c = statistics.median(latencies)
                self.add("2", lat_title, f"{c:.0f} ms", f"{TIMER_PERIOD_MS:.0f} ms", c / TIMER_PERIOD_MS,
                         "ratio <= 0.1", c / TIMER_PERIOD_MS <= 0.1,
                         f"reference: the job timer's period; {len(latencies)} jobs, "
                         f"min {min(latencies):.0f} ms, max {max(latencies):.0f} ms")
            finally:
                stop_process(proc)

    # ------------------------------------------------------------------------------------------------------
    # 5. Backlog at start-up

    def figure_backlog(self):
        jobs = self.args.backlog_jobs
        title = f"Backlog: {jobs} jobs at start-up"
        count_title = "Backlog: requests per job"
        count_goal = f"< {self.args.requests_baseline:g} (count before the changes)"
        try:
            self.bin("HalcyraClient")
            self.bin("devserver")
            self.bin("kestrana-print")
            self.bin("bench_refclient")
        except Missing as e:
            self.add_missing("5", title, "ratio >= 0.5", str(e))
            self.add_missing("5", count_title, count_goal, str(e))
            self.add_missing("5", "Backlog: client CPU per job", "<= 1.0 ms", str(e))
            return
        pdf = self.sample_pdf()
        counts = {"client": [], "reference": []}
        # CPU milliseconds per job of each side and of the devserver serving it: on two cores the client and
        # the server take turns, so the wall time per job is close to their sum.
        cpu = {"client": [], "client server": [], "reference": [], "reference server": []}

        def client(r):
            with DevServer(self, f"backlog-client-{r}") as server:
                home = self.make_home(f"backlog-{r}", server, autologin=True)
                for j in range(jobs):
                    self.print_job(home, pdf, job=f"backlog{j:04d}")
                probe = Probe(os.path.join(home, "probe.txt"))
                proc, _ = self.start_client(home, probe, click="Submit")
                try:
                    t0 = probe.wait_for(r"^click Submit", timeout=60, proc=proc)
                    if t0 is None:
                        raise RuntimeError(f"no start-up question answered (boxes: {probe.boxes()}); see {home}")
                    own0, served0 = proc_cpu_precise(proc.pid), proc_cpu_precise(server.proc.pid)
                    done = server.out.wait_for(r"BAS_UploadComplete", count=jobs, timeout=60 + jobs)
                    if done is None:
                        raise RuntimeError(f"only {server.confirmations()} of {jobs} jobs confirmed; see {home}")
                    cpu["client"].append((proc_cpu_precise(proc.pid) - own0) * 1000 / jobs)
                    cpu["client server"].append((proc_cpu_precise(server.proc.pid) - served0) * 1000 / jobs)
                    stamps = server.out.stamps(r"BAS_UploadComplete")
                    tenth = max(1, jobs // 10)
                    pace.append(((stamps[tenth] - stamps[0]) / tenth / 1e6,
                                 (stamps[-1] - stamps[-1 - tenth]) / tenth / 1e6))
                    # Every request from the answer to the start-up question until the server has been quiet
                    # for a second after the last confirmation (the pass's trailing refresh belongs to it).
                    counts["client"].append(server.requests(t0, server.quiet_after(done)))
                    return jobs / ((done - t0) / 1e9)
                finally:
                    stop_process(proc)

        def reference(r):
            with DevServer(self, f"backlog-ref-{r}") as server:
                own0, served0 = resource.getrusage(resource.RUSAGE_CHILDREN), proc_cpu_precise(server.proc.pid)
                out = subprocess.run([self.bin("bench_refclient"), server.url, server.account, pdf, str(jobs)]
                                     + [a for key, steps in REFERENCE_PLAN for a in (key, ",".join(steps))],
                                     capture_output=True, text=True, env=self.quiet_env())
                own1 = resource.getrusage(resource.RUSAGE_CHILDREN)
                cpu["reference"].append((own1.ru_utime + own1.ru_stime - own0.ru_utime - own0.ru_stime) * 1000 / jobs)
                cpu["reference server"].append((proc_cpu_precise(server.proc.pid) - served0) * 1000 / jobs)
                result = last_json(out.stdout)
                if out.returncode != 0 or not result:
                    raise RuntimeError(f"bench_refclient failed: {out.stdout} {out.stderr}")
                # Counted in the devserver's log like the client's, not taken from the reference's word.
                counts["reference"].append(server.requests(None, server.quiet_after(now_ns())))
                return jobs / result["seconds"]

        pace = []
        ours, theirs = self.alternate(self.args.backlog_runs, client, reference)
        c, ref = statistics.median(ours), statistics.median(theirs)
        first = statistics.median(p[0] for p in pace)
        last = statistics.median(p[1] for p in pace)
        plan = "; ".join(f"{key[2:]}: {', '.join(steps)}" for key, steps in REFERENCE_PLAN if steps)
        self.add("5", title, f"{c:.1f} jobs/s", f"{ref:.1f} jobs/s", c / ref, "ratio >= 0.5", c / ref >= 0.5,
                 f"client {first:.1f} ms per job over the first tenth, {last:.1f} ms over the last; "
                 f"reference: bench_refclient sending the requests the client must send ({plan}); CPU ms per "
                 f"job: client {statistics.median(cpu['client']):.2f} and the devserver serving it "
                 f"{statistics.median(cpu['client server']):.2f}, reference {statistics.median(cpu['reference']):.2f} "
                 f"and the devserver {statistics.median(cpu['reference server']):.2f}")

        # Every durable write stays (the journal's synced steps): the client's own CPU per job has a goal of
        # its own; the reference's is information.
        cpu_title = "Backlog: client CPU per job"
        cc, cref = statistics.median(cpu["client"]), statistics.median(cpu["reference"])
        self.add("5", cpu_title, f"{cc:.2f} ms", f"{cref:.2f} ms", cc / cref if cref > 0 else float("inf"),
                 "<= 1.0 ms", cc <= 1.0,
                 "user + system time of the client from the press of Submit to the last confirmation, per job, "
                 "with every durable write of the job journal kept; the reference's is information")

        def per_job(side):
            return statistics.median(sum(run.values()) for run in counts[side]) / jobs

        def breakdown(side):
            paths = sorted(set().union(*counts[side]), key=lambda k: (-counts[side][0].get(k, 0), k))
            def one(k):
                n = statistics.median(run.get(k, 0) for run in counts[side])
                return f"{k} {n / jobs:.2f}" if n >= jobs else f"{k} {n:g} in the pass"
            return ", ".join(one(k) for k in paths)

        rc, rref = per_job("client"), per_job("reference")
        self.add("5", count_title, f"{rc:.2f}", f"{rref:.2f}", rc / rref, count_goal,
                 rc < self.args.requests_baseline,
                 f"counted in the devserver's log, one line per request; client from the answer to the start-up "
                 f"question until a second after its last request: {breakdown('client')}; reference: {breakdown('reference')}")

    # ------------------------------------------------------------------------------------------------------
    # 6. Message store

    def figure_messagestore(self):
        try:
            binary = self.bin("bench_messagestore")
        except Missing as e:
            self.add_missing("6", "Message store insertion", "< 1 ms", str(e))
            self.add_missing("6", "Message store load", "< 1 ms", str(e))
            return
        results = []
        for r in range(self.args.runs):
            out = subprocess.run([binary, os.path.join(self.work, "messagestore"), "10000", "100", "50"],
                                 capture_output=True, text=True, env=self.quiet_env(self.work))
            result = last_json(out.stdout)
            if out.returncode != 0 or not result:
                raise RuntimeError(f"bench_messagestore failed: {out.stdout[-2000:]} {out.stderr[-2000:]}")
            results.append(result)

        def med(key):
            return statistics.median(r[key] for r in results)

        ins, ins_ref = med("insert_us"), med("insert_ref_us")
        first, last = med("insert_first_us"), med("insert_last_us")
        self.add("6", "Message store: one insertion (10,000 over 100 accounts, cap 50)", f"{ins:.0f} us",
                 f"{ins_ref:.0f} us", ins / ins_ref, "< 1 ms, flat", ins < 1000 and last < 1000,
                 f"first/last tenth {first:.0f}/{last:.0f} us (cap reached half-way); reference: the same SQL "
                 f"through SQLite's C interface; journal: {results[0].get('journal', '?')}")
        load, load_ref = med("load_us"), med("load_ref_us")
        lfirst, llast = med("load_first_us"), med("load_last_us")
        self.add("6", "Message store: loading one account's rows", f"{load:.0f} us", f"{load_ref:.0f} us",
                 load / load_ref, "< 1 ms, flat", load < 1000 and llast < 1000,
                 f"first/last tenth {lfirst:.0f}/{llast:.0f} us ({results[0]['loaded_rows']} rows at the end)")

    # ------------------------------------------------------------------------------------------------------

    def machine(self):
        mem_kib = 0
        with open("/proc/meminfo") as f:
            for line in f:
                if line.startswith("MemTotal:"):
                    mem_kib = int(line.split()[1])
        model = platform.processor() or "?"
        try:
            with open("/proc/cpuinfo") as f:
                for line in f:
                    if line.startswith("model name"):
                        model = line.split(":", 1)[1].strip()
                        break
        except OSError:
            pass
        commit = subprocess.run(["git", "rev-parse", "--short", "HEAD"], capture_output=True, text=True,
                                cwd=os.path.dirname(os.path.abspath(__file__))).stdout.strip()
        return (f"{datetime.datetime.now().strftime('%Y-%m-%d %H:%M')}, commit {commit or '?'}, "
                f"{os.cpu_count()} cores ({model}), {mem_kib / 1024 / 1024:.1f} GiB memory, "
                f"load average {os.getloadavg()[0]:.2f} at start, {self.args.runs} runs per figure, "
                f"Qt offscreen platform")

    def table(self, facts):
        head = ["#", "Figure", "Client (median)", "Reference (median)", "Ratio", "Goal", "Met"]
        body = []
        self.rows.sort(key=lambda row: row["number"])
        for row in self.rows:
            ratio = row["ratio"]
            ratio_text = ratio if isinstance(ratio, str) else ("-" if ratio is None else f"{ratio:.2f}")
            met = {True: "yes", False: "NO", None: "-"}[row["met"]]
            body.append([row["number"], row["figure"], row["client"], row["reference"], ratio_text, row["goal"],
                         met])
        lines = [f"Measured {facts}.", "",
                 "| " + " | ".join(head) + " |", "|" + "|".join("---" for _ in head) + "|"]
        lines += ["| " + " | ".join(str(c) for c in r) + " |" for r in body]
        notes = [f"- {r['number']} {r['figure']}: {r['note']}" for r in self.rows if r["note"]]
        if notes:
            lines += ["", "Notes:"] + notes
        return "\n".join(lines)


def last_json(text):
    for line in reversed(text.splitlines()):
        line = line.strip()
        if line.startswith("{"):
            try:
                return json.loads(line)
            except ValueError:
                return None
    return None


FIGURES = {
    "1": "figure_upload",
    "2": "figure_latency_and_idle",  # also figure 4: both need one logged-in client
    "3": ("figure_startup", "figure_memory"),
    "4": "figure_latency_and_idle",
    "5": "figure_backlog",
    "6": "figure_messagestore",
    "7": "figure_upload_lan",
    "8": "figure_sessions",
}


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", required=True, help="release build directory")
    parser.add_argument("--runs", type=int, default=5, help="runs per figure (median taken), default 5")
    parser.add_argument("--only", default="1,2,3,4,5,6,7,8", help="figures to run, e.g. 1,6")
    parser.add_argument("--idle-seconds", type=float, default=60, help="idle measurement span, default 60")
    parser.add_argument("--upload-mib", type=int, default=256, help="size of the upload job, default 256")
    parser.add_argument("--latency-jobs", type=int, default=21, help="jobs timed for the latency, default 21")
    parser.add_argument("--backlog-jobs", type=int, default=300, help="jobs waiting at start-up, default 300")
    parser.add_argument("--backlog-runs", type=int, default=3, help="runs of the backlog figure, default 3")
    parser.add_argument("--requests-baseline", type=float, default=8,
                        help="requests per job of the backlog counted before the client's changes, default 8")
    parser.add_argument("--lan-qdisc", default=LAN_QDISC,
                        help=f"queueing discipline on both ends of the emulated link, default '{LAN_QDISC}'; "
                             "another one measures a different link and its row has no goal")
    parser.add_argument("--settle", type=float, default=3, help="seconds a window settles before measuring")
    parser.add_argument("--out", help="also write the table (Markdown) to this file")
    args = parser.parse_args()

    bench = Bench(args)
    facts = bench.machine()
    done = set()
    for number in [n.strip() for n in args.only.split(",") if n.strip()]:
        names = FIGURES.get(number)
        if names is None:
            parser.error(f"no figure {number}")
        for name in names if isinstance(names, tuple) else (names,):
            if name in done:
                continue
            done.add(name)
            bench.log(f"== {name}")
            started = time.monotonic()
            try:
                getattr(bench, name)()
            except (RuntimeError, subprocess.CalledProcessError, OSError) as e:
                bench.log(f"   failed: {e}")
                bench.add(number, name, "-", "-", None, "-", False, f"failed: {e}")
            bench.log(f"   {time.monotonic() - started:.0f} s")

    text = bench.table(facts)
    print(text)
    if args.out:
        os.makedirs(os.path.dirname(os.path.abspath(args.out)), exist_ok=True)
        with open(args.out, "w") as f:
            f.write(text + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
