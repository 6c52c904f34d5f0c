"""One run of the real program between simhost and rtfeed, with its peers
under the caller's control, so that faults can be laid on them: simhost
killed or stalled, the feed dropped, the traffic port flooded or taken.
Pieces shared with live_run.py are imported from it."""
import os
import shutil
import signal
import subprocess
import time
import xml.etree.ElementTree as ET

from live_run import close_program, install_realtraffic, start_simhost, wait_for
from world import make_world, read, set_parameter
import recording_liveries

USER = "22.308,113.918,70"   # parked at Hong Kong, where the recording's arrivals land


class FaultRun:
    def __init__(self, tools, out, recording, start=30000, livery_files=400, range_nm=40, logs=None):
        self.t = tools
        self.out = os.path.abspath(out)
        if os.path.exists(self.out):
            shutil.rmtree(self.out)
        os.makedirs(self.out)
        self.recording = recording
        self.start_at = start
        self.env, self.install = make_world(self.out, tools["exe"], livgen=tools["livgen"],
                                            livery_files=livery_files)
        self.titles = os.path.join(self.out, "liveries", "titles.txt")
        if recording:
            extra = os.path.join(self.out, "recording_liveries")
            pairs = recording_liveries.pairs_of(recording, 400)
            set_parameter(self.env, "lfolder1", recording_liveries.write_tree(pairs, extra))
            both = os.path.join(self.out, "titles.txt")
            with open(both, "w") as f:
                f.write(read(self.titles) + read(os.path.join(extra, "titles.txt")))
            self.titles = both
        self.tcp = install_realtraffic(self.env, range_nm)
        self.sim = self.prog = self.feed = None
        self.sims = 0
        self.feeds = 0
        self.logs = []
        self.logs_dir = logs or self.out   # the peers' own output, kept off a disk that fills

    # ---- files
    @property
    def log_path(self):
        return os.path.join(self.install, "Log.txt")

    def log(self):
        return read(self.log_path)

    def said(self):
        """The log and the window's lines: the log is flushed only now and then."""
        return self.log() + read(os.path.join(self.logs_dir, "ventrix.out"))

    def trace_path(self, n=None):
        return os.path.join(self.out, "simhost_trace%d.jsonl" % (self.sims if n is None else n))

    def trace(self, n=None):
        return read(self.trace_path(n))

    def _logfile(self, name):
        os.makedirs(self.logs_dir, exist_ok=True)
        f = open(os.path.join(self.logs_dir, name), "w")
        self.logs.append(f)
        return f

    # ---- peers
    def start_simhost(self, *extra):
        self.sims += 1
        self.sim = start_simhost(self.t["simhost"], self.env, self.titles, USER, self.trace_path(),
                                 self._logfile("simhost%d.out" % self.sims), extra)
        return self.sim

    def command_simhost(self, line):
        self.sim.stdin.write(line + "\n")
        self.sim.stdin.flush()

    def kill_simhost(self):
        self.sim.send_signal(signal.SIGKILL)
        self.sim.wait()

    def start_program(self, env=None, preexec=None):
        self.prog = subprocess.Popen([self.t["exe"]], cwd=self.install, env=env or self.env, stdin=subprocess.PIPE,
                                     stdout=self._logfile("ventrix.out"), stderr=subprocess.STDOUT, text=True,
                                     preexec_fn=preexec)
        return self.prog

    def start_feed(self, seconds=120):
        self.feeds += 1
        self.feed = subprocess.Popen(
            [self.t["rtfeed"], "--port", self.tcp, "--traffic-port", self.env["VNTX_TRAFFIC_PORT"],
             "--weather-port", self.env["VNTX_WEATHER_PORT"], "--shift", "now", "--start", str(self.start_at),
             "--duration", str(seconds), "--densify", "5", "--hold", "--quiet", self.recording],
            stdout=self._logfile("rtfeed%d.out" % self.feeds), stderr=subprocess.STDOUT)
        return self.feed

    def drop_feed(self):
        self.feed.terminate()
        self.feed.wait()

    def waits_for_realtraffic(self, seconds=60):
        return wait_for(lambda: "Waiting for RealTraffic to connect" in self.log(), seconds)

    def created(self, n=None):
        """AI objects the program had created in simhost (trace of run n)."""
        return self.trace(n).count('"op":"AICreateNonATCAircraft"')

    def close(self, seconds=60):
        """Closes the program as its window would; True when it ended by itself."""
        ok = close_program(self.prog, seconds) if self.prog else True
        for p in (self.feed, self.sim):
            if p and p.poll() is None:
                p.kill()
                p.wait()
        for f in self.logs:
            f.close()
        return ok


def parse_xml(path):
    """The root of an XML file, or None when it is absent or not whole."""
    try:
        return ET.parse(path).getroot()
    except (ET.ParseError, OSError):
        return None


def leftovers(folder):
    """Temporary files of an interrupted whole-file write, anywhere below folder."""
    found = []
    for root, _, files in os.walk(folder):
        found += [os.path.join(root, f) for f in files if f.endswith((".tmp", ".part", ".unpacking"))]
    return found


def elapsed(since):
    return "%.0f s" % (time.time() - since)
