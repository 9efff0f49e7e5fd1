# tirasel-dask against loopback sites and web archives, on a local cluster
# of two worker processes and on a dask-scheduler with two dask-worker
# processes. Each result is compared byte for byte with what tirasel-cli
# gives in one process: one run over all archives, or the runs of the sites
# one after the other, merged in input order.
#
# Run by /usr/bin/python3 (Debian's Dask); TIRASEL_CLI and TIRASEL_DASK name
# the programs under test.

import http.server
import json
import os
import pty
import random
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import unittest

import psutil

CLI = os.environ.get("TIRASEL_CLI", "tirasel-cli")
DASK = os.environ.get("TIRASEL_DASK", "tirasel-dask")
WAIT = 300  # seconds: a bound for what a loaded machine does in time, never a pace

WORDS = ["Haus", "Baum", "Zug", "Wald", "Feld", "Licht", "Stein", "Wasser", "Berg", "Tal",
         "Brot", "Milch", "Fenster", "Tür", "Straße", "Ölkanne", "Brücke", "Kind", "Mond"]


def site_pages(name, count, seed):
    """A site of `count` linked pages under /name/, words drawn by `seed`:
    path -> HTML bytes."""
    rng = random.Random(seed)
    pages = {}
    for number in range(count):
        words = " ".join(rng.choice(WORDS) + rng.choice(["", "", str(seed)]) for _ in range(12))
        link = '<a href="p%d.html">weiter</a>' % (number + 1) if number + 1 < count else ""
        html = "<html><body><p>%s %s</p>%s</body></html>" % (name, words, link)
        pages["/%s/%s" % (name, "" if number == 0 else "p%d.html" % number)] = \
            html.encode("windows-1252")
    return pages


def pid_of_client(server_address, client_address):
    """The process whose connection to `server_address` comes from
    `client_address`."""
    for connection in psutil.net_connections(kind="tcp"):
        if connection.laddr and connection.raddr and tuple(connection.laddr) == client_address \
                and tuple(connection.raddr) == server_address:
            return connection.pid
    return None


class SiteServer:
    """Sites on one loopback port. It notes which tirasel-cli process asked
    for each page; `on_request(server, path, pid)` may act on a request
    before it is answered."""

    def __init__(self, pages, on_request=None):
        self.pages, self.on_request = pages, on_request
        self.requesters = []  # pids in order of requests
        self.lock = threading.Lock()
        owner = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                pid = pid_of_client(self.server.server_address, self.client_address)
                with owner.lock:
                    owner.requesters.append(pid)
                if owner.on_request:
                    owner.on_request(owner, self.path, pid)
                body = owner.pages.get(self.path)
                self.send_response(200 if body else 404)
                self.send_header("Content-Type", "text/html; charset=windows-1252")
                self.send_header("Content-Length", str(len(body or b"")))
                self.end_headers()
                self.wfile.write(body or b"")

            def log_message(self, *args):
                pass

        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.httpd.daemon_threads = True
        self.port = self.httpd.server_address[1]
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()

    def url(self, name):
        return "http://127.0.0.1:%d/%s/" % (self.port, name)

    def close(self):
        self.httpd.shutdown()
        self.httpd.server_close()


def closed_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def run(command, **kwargs):
    return subprocess.run(command, capture_output=True, timeout=WAIT, **kwargs)


class Workspace(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="tirasel-dask-test-")
        self.dir = self.tmp.name
        self.servers = []
        self.addCleanup(self.tmp.cleanup)

    def tearDown(self):
        for server in self.servers:
            server.close()

    def path(self, name):
        return os.path.join(self.dir, name)

    def serve(self, sites, on_request=None, pages=3):
        """A server of the named sites: their start addresses."""
        content = {}
        for name in sites:
            content.update(site_pages(name, pages, sum(map(ord, name))))
        server = SiteServer(content, on_request)
        self.servers.append(server)
        return server, [server.url(name) for name in sites]

    def dask(self, *args, expect=0):
        done = run([sys.executable, DASK, *args], env=dict(os.environ, TIRASEL_CLI=CLI))
        self.assertEqual(done.returncode, expect, done.stderr.decode(errors="replace"))
        return done

    def sites_file(self, sites):
        with open(self.path("sites.txt"), "w") as out:
            out.write("# start addresses\n\n" + "\n".join(sites) + "\n")
        return self.path("sites.txt")

    def merged_one_by_one(self, sites, output_format, options=()):
        """What tirasel-cli gives for the sites run one after the other and
        merged in their order."""
        merges = []
        for number, site in enumerate(sites):
            tsv = self.path("one%d.tsv" % number)
            run([CLI, "--format", "tsv", "--sort", "first", "--output", tsv, *options, site])
            merges += ["--merge", tsv]
        extra = ["--context", options[options.index("--context") + 1]] \
            if "--context" in options and output_format not in ("list", "count") else []
        return run([CLI, *merges, "--format", output_format, *extra]).stdout


class LocalClusterTest(Workspace):
    def test_sites_and_archives_give_the_bytes_of_one_process_in_any_format(self):
        shared, shared_sites = self.serve(["a%d" % n for n in range(6)])
        alone = [self.serve(["b%d" % n])[1][0] for n in range(14)]
        # Sites of one host between others: input order is not host order.
        sites = alone[:4] + shared_sites[:3] + alone[4:] + shared_sites[3:]
        options = ["--context", "30", "--groups", "2", "--umlauts", "both"]
        listed = self.sites_file(sites)
        for output_format in ("tsv", "jsonl"):
            done = self.dask("--sites", listed, "--workers", "2", "--format", output_format,
                             "--stats", "--", *options)
            self.assertEqual(done.stdout, self.merged_one_by_one(sites, output_format, options))
            self.assertIn(b"tasks: 20\nfailures: 0\n", done.stderr)
        # One tirasel-cli run at a time on the shared host: each pid's requests
        # form one unbroken stretch.
        pids = [pid for number, pid in enumerate(shared.requesters)
                if number == 0 or shared.requesters[number - 1] != pid]
        self.assertEqual(len(pids), len(set(pids)), pids)

        archives = []
        for number, site in enumerate(sites[:6]):
            archives.append(self.path("crawl%d.warc.gz" % number))
            run([CLI, "--warc", archives[-1], "--output", os.devnull, site])
        replay = sum((["--from-warc", archive] for archive in archives), [])
        for output_format in ("csv", "list"):
            expected = run([CLI, *replay, "--format", output_format, "--sort", "pages"]).stdout
            done = self.dask("--warc", *archives, "--workers", "2", "--format", output_format,
                             "--sort", "pages", "--output", self.path("out"))
            with open(self.path("out"), "rb") as written:
                self.assertEqual(written.read(), expected)
            self.assertEqual(done.stdout, b"")

    def test_a_worker_killed_in_its_task_changes_nothing(self):
        killed = []

        def kill_at_second_page(server, path, pid):
            if path.endswith("/p1.html") and not killed and pid:
                worker = psutil.Process(pid).parent()
                killed.append((pid, worker.pid))
                worker.kill()
                psutil.Process(pid).kill()

        _, victim = self.serve(["k0"], kill_at_second_page, pages=4)
        others = [self.serve(["o%d" % n])[1][0] for n in range(3)]
        sites = others[:1] + victim + others[1:]
        done = self.dask("--sites", self.sites_file(sites), "--workers", "2", "--stats",
                         "--format", "tsv", "--", "--context", "20")
        self.assertEqual(len(killed), 1)
        self.assertEqual(done.stdout, self.merged_one_by_one(sites, "tsv", ["--context", "20"]))
        self.assertIn(b"failures: 0\n", done.stderr)
        self.assertNotIn(b"retries: 0\n", done.stderr)


    def test_a_terminal_sees_the_progress(self):
        _, sites = self.serve(["t0", "t1"])
        main, side = pty.openpty()
        with subprocess.Popen([sys.executable, DASK, "--sites", self.sites_file(sites),
                               "--workers", "1", "--output", os.devnull], stderr=side,
                              env=dict(os.environ, TIRASEL_CLI=CLI)) as child:
            os.close(side)
            shown = b""
            for _ in range(1 << 16):  # until the terminal closes
                try:
                    piece = os.read(main, 4096)
                except OSError:
                    break
                if not piece:
                    break
                shown += piece
            os.close(main)
            self.assertEqual(child.wait(WAIT), 0)
        self.assertIn(b"] 2/2 tasks, 6 pages, ", shown)


class FailureTest(Workspace):
    def test_an_unreachable_site_is_reported_and_the_rest_merged(self):
        _, good = self.serve(["g0", "g1"])
        dead = "http://127.0.0.1:%d/" % closed_port()
        sites = [good[0], dead, good[1]]
        done = self.dask("--sites", self.sites_file(sites), "--workers", "2", "--stats")
        self.assertEqual(done.stdout, self.merged_one_by_one([good[0], good[1]], "tsv"))
        self.assertIn(("failed: %s: no page fetched" % dead).encode(), done.stderr)
        self.assertIn(b"failures: 1\n", done.stderr)
        # Nothing to merge at all is a failure of the whole.
        done = self.dask("--sites", self.sites_file([dead]), "--workers", "1", expect=3)
        self.assertEqual(done.stdout, b"word\tcount\tpages\tfirst_page\n")

    def test_a_run_that_dies_is_tried_again_as_often_as_asked(self):
        # A tirasel-cli that dies by a signal on its first run of the flaky site.
        wrapper = self.path("flaky-cli")
        with open(wrapper, "w") as out:
            out.write('#!/bin/sh\ncase "$*" in *"/flaky/"*) [ -e "$MARK" ] || '
                      '{ : > "$MARK"; kill -9 $$; } ;; esac\nexec "$REAL" "$@"\n')
        os.chmod(wrapper, 0o755)
        sites = self.serve(["steady"])[1] + self.serve(["flaky"])[1]
        listed = self.sites_file(sites)
        for retries, mark in (("1", "m1"), ("0", "m0")):
            env = dict(os.environ, MARK=self.path(mark), REAL=CLI)
            done = run([sys.executable, DASK, "--sites", listed, "--workers", "1", "--stats",
                        "--retries", retries, "--tirasel-cli", wrapper], env=env)
            self.assertEqual(done.returncode, 0, done.stderr)
            if retries == "1":
                self.assertEqual(done.stdout, self.merged_one_by_one(sites, "tsv"))
                self.assertIn(b"failures: 0\nretries: 1\n", done.stderr)
            else:
                self.assertEqual(done.stdout, self.merged_one_by_one(sites[:1], "tsv"))
                self.assertIn(("failed: %s: task failed: tirasel-cli was killed by signal 9"
                               % sites[1]).encode(), done.stderr)

    def test_ctrl_c_writes_what_is_done_and_names_what_is_missing(self):
        asked, release, held = threading.Event(), threading.Event(), []

        def hold(server, path, pid):
            held.append(pid)
            asked.set()
            release.wait(WAIT)

        self.addCleanup(release.set)
        _, quick = self.serve(["q0"])
        _, slow = self.serve(["s0"], hold)
        command = [sys.executable, DASK, "--sites", self.sites_file(quick + slow), "--workers",
                   "2", "--output", self.path("out.tsv"), "--", "--timeout", "0"]
        child = subprocess.Popen(command, stderr=subprocess.PIPE,
                                 env=dict(os.environ, TIRASEL_CLI=CLI))
        for _ in range(WAIT * 5):  # until the slow site is asked, or the run ended
            if asked.wait(0.2) or child.poll() is not None:
                break
        self.assertTrue(asked.is_set(), child.communicate(timeout=WAIT)[1] if child.poll() else "")
        child.send_signal(signal.SIGINT)
        _, stderr = child.communicate(timeout=WAIT)
        self.assertEqual(child.returncode, 130, stderr)
        self.assertIn(("missing: %s" % slow[0]).encode(), stderr)
        # The run held up by the server (it has no timeout) ended with its
        # worker, while the server still holds it.
        try:
            _, alive = psutil.wait_procs([psutil.Process(held[0])], timeout=WAIT)
            self.assertEqual(alive, [])
        except psutil.NoSuchProcess:
            pass  # gone already
        self.assertFalse(release.is_set())
        with open(self.path("out.tsv"), "rb") as written:
            out = written.read()
        # The quick site is in, unless it too was cut short and named.
        if ("missing: %s" % quick[0]).encode() not in stderr:
            self.assertEqual(out, self.merged_one_by_one(quick, "tsv", ["--timeout", "0"]))


class SchedulerTest(Workspace):
    def start(self, command):
        process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(self.stop, process)
        return process

    def stop(self, process):
        process.terminate()
        try:
            process.wait(60)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait(60)

    def test_a_running_scheduler_with_two_workers(self):
        scheduler_file = self.path("scheduler.json")
        self.start(["/usr/bin/dask-scheduler", "--host", "127.0.0.1", "--port", "0",
                    "--no-dashboard", "--scheduler-file", scheduler_file])
        address, pause = None, threading.Event()
        for _ in range(WAIT * 10):  # the file is written once the scheduler listens
            try:
                with open(scheduler_file) as info:
                    address = json.load(info)["address"]
                break
            except (OSError, ValueError, KeyError):
                pause.wait(0.1)
        self.assertIsNotNone(address, "dask-scheduler wrote no address")
        for _ in range(2):
            self.start(["/usr/bin/dask-worker", address, "--host", "127.0.0.1", "--nthreads", "1",
                        "--no-dashboard"])
        _, sites = self.serve(["r0", "r1", "r2"])
        sites += self.serve(["r3"])[1]
        done = self.dask("--sites", self.sites_file(sites), "--scheduler", address,
                         "--format", "csv", "--", "--lowercase")
        self.assertEqual(done.stdout, self.merged_one_by_one(sites, "csv", ["--lowercase"]))


class UsageTest(Workspace):
    def test_usage_errors_name_the_problem_and_run_nothing(self):
        sites = self.sites_file(["http://127.0.0.1:1/"])
        cases = [
            ([], b"either --sites FILE or --warc"),
            (["--sites", sites, "--warc", "x.warc"], b"either --sites FILE or --warc"),
            (["--sites", self.path("none")], b"cannot read"),
            (["--sites", sites, "--", "--format", "csv"], b"give --format before --"),
            (["--sites", sites, "--", "--merge", "a.tsv"], b"--merge cannot be used"),
            (["--sites", sites, "--", "--min-length", "x"], b"--min-length: not a number"),
            (["--sites", sites, "--", "--min-length"], b"--min-length needs a value"),
            (["--sites", sites, "--", "http://x/"], b"start addresses come from --sites"),
            (["--sites", sites, "--format", "list", "--", "--context", "5"],
             b"--context needs --format"),
            (["--sites", sites, "--workers", "0"], b"--workers"),
            (["--warc", self.path("none.warc")], b"--warc: cannot read"),
            (["--sites", sites, "--output", self.path("no/such/dir/out")], b"cannot create"),
        ]
        for args, message in cases:
            with self.subTest(args=args):
                done = self.dask(*args, expect=2)
                self.assertIn(message, done.stderr)
                self.assertNotIn(b"Traceback", done.stderr)
        with open(self.path("bad.txt"), "wb") as out:
            out.write(b"http://127.0.0.1:1/ two words\n")
        self.assertIn(b"bad.txt:1: not one address",
                      self.dask("--sites", self.path("bad.txt"), expect=2).stderr)
        self.assertIn(b"--sites FILE", self.dask("--help").stdout)

    def test_without_dask_it_says_what_to_install(self):
        # An interpreter without Dask: isolated, with no site packages.
        done = run([sys.executable, "-I", "-S", DASK, "--sites", "x"])
        self.assertEqual(done.returncode, 1)
        self.assertIn(b"apt install python3-distributed", done.stderr)


if __name__ == "__main__":
    unittest.main()
