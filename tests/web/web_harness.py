"""Orvane headless with its web view (127.0.0.1:8069) and simulated devices, for the web tests;
run it in a private network namespace (the CTest command makes one)."""
import json
import os
import shutil
import subprocess
import tempfile
import time
import urllib.request

HTTP = "127.0.0.1:8069"
BASE = "http://" + HTTP
HOSTILE = "<img src=x onerror=alert(1)>"


class Site:
    """One Orvane service in a temporary folder; ends it (by pid) on exit."""

    def __init__(self, bin_dir, extra=()):
        self.bin = bin_dir
        self.dir = tempfile.mkdtemp(prefix="orvane-web-")
        for name in ("orvane", "orvane-program"):
            shutil.copy(os.path.join(bin_dir, name), self.dir)
        with open(os.path.join(self.dir, "Config.ini"), "w") as f:
            f.write("[CNFINFO]\r\nAppLanguage=2\r\n")
        fw = os.path.join(self.dir, "fw")
        os.mkdir(fw)
        subprocess.run([os.path.join(bin_dir, "orvane-mkfw"), "--version", "X_M100_V1.2.3.4",
                        "--image", "64K", os.path.join(fw, "M100.bin")],
                       check=True, stdout=subprocess.DEVNULL, timeout=30)
        self.err = open(os.path.join(self.dir, "stderr.txt"), "w")
        self.proc = subprocess.Popen(
            [os.path.join(self.dir, "orvane"), "--headless", "--ip", "127.0.0.1", "--folder",
             fw, "--show-all", "--http", HTTP, *extra],
            cwd=self.dir, stdout=subprocess.PIPE, stderr=self.err, text=True,
            env=dict(os.environ, XDG_RUNTIME_DIR=self.dir))  # its own single-instance lock
        ready = self.proc.stdout.readline()
        if not ready.startswith("ready\t"):  # ends it and its folder: no __exit__ will run
            self.proc.kill()
            self.proc.wait(5)
            self.err.close()
            with open(os.path.join(self.dir, "stderr.txt")) as f:
                why = f.read()
            shutil.rmtree(self.dir, ignore_errors=True)
            raise AssertionError("no ready line: %r; stderr: %s" % (ready, why))
        # Keep reading standard output so the service never waits on a full pipe.
        self.out = open(os.path.join(self.dir, "stdout.txt"), "w")
        self.pump = subprocess.Popen(["cat"], stdin=self.proc.stdout, stdout=self.out)
        wait_for(lambda: get("/healthz")[0] == 200, 10, "the web view to answer")

    def devices(self, count, mac, source, *args, model="M100"):
        """Exit status of `count` devices, each fetching from its own address from `source` on."""
        return subprocess.run(
            [os.path.join(self.bin, "orvane-devsim"), "--server", "127.0.0.1", "--devices",
             str(count), "--mac", mac, "--source-from", source, "--model", model, "--version",
             "1.0.0.0", *args],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120).returncode

    def road(self):
        """17 devices upgraded, 2 failing at the kernel, one named with markup (no firmware)."""
        assert self.devices(17, "02:00:00:00:01:00", "127.1.1.1") == 0
        assert self.devices(2, "02:00:00:00:02:00", "127.1.2.1", "--fail-share", "1",
                            "--fail-stage", "kernel", "--fail-state", "6") == 0
        assert self.devices(1, "02:00:00:00:03:00", "127.1.3.1", "--expect-no-firmware",
                            model=HOSTILE) == 0
        # A device ends with its last report sent; Orvane counts it when that report is handled.
        wait_for(lambda: counts() == (20, 17, 2), 10, "20 rows, 17 successes and 2 failures")

    def __exit__(self, *exc):
        self.proc.terminate()  # nothing when it has ended already
        try:
            self.proc.wait(15)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait(5)
        self.pump.wait(5)
        self.out.close()
        self.err.close()
        shutil.rmtree(self.dir, ignore_errors=True)

    def __enter__(self):
        return self


def get(path, timeout=5):
    """(status, headers, body) of a GET on the web view."""
    try:
        with urllib.request.urlopen(BASE + path, timeout=timeout) as r:
            return r.status, r.headers, r.read()
    except urllib.error.HTTPError as e:
        return e.code, e.headers, e.read()
    except OSError:
        return 0, {}, b""


def counts():
    """(rows, successes, failures) as /api/devices has them."""
    status, _, body = get("/api/devices")
    data = json.loads(body) if status == 200 else None
    return data and (len(data["rows"]), data["successes"], data["failures"])


def wait_for(check, seconds, what):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if check():
            return
        time.sleep(0.1)
    raise AssertionError("timed out waiting for " + what)
