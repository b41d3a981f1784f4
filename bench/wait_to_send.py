#!/usr/bin/env python3
"""Wait-to-send: how soon a script answers a host's prompt.

The demo host (--auto-login) shows its menu prompt "(B,W,G,?) > "; the
client answers "W" (the page of who is on line, then the prompt again) a
number of times, then "G".  A relay on 127.0.0.1 between the client and the
host stamps the moment the relay has handed the prompt's last byte to the
client and the moment the answer's first byte reaches the relay; the
difference is one sample.

Two clients through the same relay, in turns:
  - Quillnet, headless, the host's ScriptFile answering in a LOOPSWITCH;
  - expect (Debian package expect) over socat, answering with expect/send.

Prints each run's median and, at the end, the median of all samples of
each client and their ratio (expect / Quillnet: 1.0 or more means Quillnet
answers no slower).

  bench/wait_to_send.py [BUILD_DIR] [RUNS] [ROUNDS]
"""
import os
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

BUILD = sys.argv[1] if len(sys.argv) > 1 else "build"
RUNS = int(sys.argv[2]) if len(sys.argv) > 2 else 5
ROUNDS = int(sys.argv[3]) if len(sys.argv) > 3 else 100
PROMPT = b"(B,W,G,?) > "

QUILLNET = os.path.join(BUILD, "app", "quillnet")
TOOL = os.path.join(BUILD, "tools", "quillnet-tool")
DEMO = os.path.join(BUILD, "tools", "quillnet-demohost")


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def wait_listening(port, deadline_s=10.0):
    end = time.monotonic() + deadline_s
    while time.monotonic() < end:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=0.2).close()
            return True
        except OSError:
            time.sleep(0.02)
    return False


class Relay:
    """Forwards one client connection at a time to the host and times the
    answers to the prompt."""

    def __init__(self, host_port):
        self.host_port = host_port
        self.server = socket.socket()
        self.server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.server.bind(("127.0.0.1", 0))
        self.server.listen(1)
        self.port = self.server.getsockname()[1]
        self.samples = []
        self.lock = threading.Lock()
        self.prompt_at = None

    def serve_one(self):
        client, _ = self.server.accept()
        host = socket.create_connection(("127.0.0.1", self.host_port))
        for s in (client, host):
            s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.samples = []
        self.prompt_at = None
        done = threading.Event()

        def host_to_client():
            tail = b""
            try:
                while True:
                    data = host.recv(65536)
                    if not data:
                        break
                    # Stamped before the bytes go on, so that an answer can
                    # never come before its prompt's stamp.
                    window = tail + data
                    if PROMPT in window:
                        with self.lock:
                            self.prompt_at = time.perf_counter()
                    tail = window[-(len(PROMPT) - 1):]
                    client.sendall(data)
            except OSError:
                pass
            try:
                client.shutdown(socket.SHUT_WR)
            except OSError:
                pass
            done.set()

        def client_to_host():
            try:
                while True:
                    data = client.recv(65536)
                    now = time.perf_counter()
                    if not data:
                        break
                    with self.lock:
                        if self.prompt_at is not None and (b"W" in data or b"G" in data):
                            self.samples.append((now - self.prompt_at) * 1000.0)
                            self.prompt_at = None
                    host.sendall(data)
            except OSError:
                pass
            try:
                host.shutdown(socket.SHUT_WR)
            except OSError:
                pass

        a = threading.Thread(target=host_to_client, daemon=True)
        b = threading.Thread(target=client_to_host, daemon=True)
        a.start()
        b.start()
        return a, b, client, host


def run_through(relay, start_client):
    """Serves one call through the relay while start_client() runs; returns
    the samples of that call."""
    result = {}

    def serve():
        a, b, client, host = relay.serve_one()
        result["threads"] = (a, b, client, host)

    t = threading.Thread(target=serve)
    t.start()
    proc = start_client()
    try:
        proc.wait(timeout=120)
    except subprocess.TimeoutExpired:
        proc.kill()
        raise SystemExit("a client did not finish within 120 s")
    t.join(10)
    a, b, client, host = result["threads"]
    a.join(10)
    b.join(10)
    client.close()
    host.close()
    if proc.returncode != 0:
        raise SystemExit("a client ended with status %d" % proc.returncode)
    return list(relay.samples)


def main():
    for p in (QUILLNET, TOOL, DEMO):
        if not os.path.exists(p):
            raise SystemExit("missing %s (build quillnet, quillnet-tool, quillnet-demohost)" % p)
    for p in ("expect", "socat"):
        if not shutil.which(p):
            raise SystemExit("needs %s (apt-get install %s)" % (p, p))
    work = tempfile.mkdtemp(prefix="wait-to-send-")
    demo = None
    try:
        demo_port = free_port()
        demo = subprocess.Popen([DEMO, "--port", str(demo_port), "--auto-login"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not wait_listening(demo_port):
            raise SystemExit("the demo host did not start")
        relay = Relay(demo_port)

        cfg, data = os.path.join(work, "config"), os.path.join(work, "data")
        script = os.path.join(work, "answer.hsc")
        with open(script, "wb") as f:
            f.write(("##n = 0\n"
                     "loopswitch\n"
                     "case \"(B,W,G,?) > \"\n"
                     "  ##n = ##n + 1\n"
                     "  if (##n <= %d) send \"W^M\"\n"
                     "  else send \"G^M\"\n"
                     "endloop\n" % ROUNDS).encode("shift_jis"))
        subprocess.run([TOOL, "--config-dir", cfg, "hosts", "telnet", "bench", "127.0.0.1",
                        str(relay.port), "--script", script], check=True)
        exp = os.path.join(work, "answer.exp")
        with open(exp, "w") as f:
            f.write("set timeout 30\n"
                    "spawn -noecho socat -,raw,echo=0 TCP:127.0.0.1:%d\n"
                    "for {set i 0} {$i < %d} {incr i} {\n"
                    "  expect -ex {(B,W,G,?) > } { send \"W\\r\" } timeout { exit 1 }\n"
                    "}\n"
                    "expect -ex {(B,W,G,?) > } { send \"G\\r\" } timeout { exit 1 }\n"
                    "expect eof\n" % (relay.port, ROUNDS))

        def quillnet():
            return subprocess.Popen([QUILLNET, "--headless", "--config-dir", cfg, "--data-dir", data, "bench"],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

        def expect():
            return subprocess.Popen(["expect", exp], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

        # One call each first (Quillnet's first start creates its stock).
        run_through(relay, quillnet)
        run_through(relay, expect)
        everything = {"quillnet": [], "expect": []}
        for r in range(RUNS):
            for name, client in (("quillnet", quillnet), ("expect", expect)):
                s = run_through(relay, client)
                if len(s) != ROUNDS + 1:
                    raise SystemExit("%s: %d answers timed, %d expected" % (name, len(s), ROUNDS + 1))
                everything[name] += s
                print("run %d %-8s median %.3f ms  max %.3f ms" % (r + 1, name, statistics.median(s), max(s)))
        q = statistics.median(everything["quillnet"])
        e = statistics.median(everything["expect"])
        print("quillnet median %.3f ms, expect median %.3f ms over %d answers each; ratio expect/quillnet %.2fx"
              % (q, e, len(everything["quillnet"]), e / q))
        print("goal: quillnet median <= 10 ms: %s; no slower than expect: %s"
              % ("met" if q <= 10 else "NOT met", "met" if q <= e else "NOT met"))
    finally:
        if demo:
            demo.terminate()
            demo.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
