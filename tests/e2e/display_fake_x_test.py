#!/usr/bin/env python3
"""An X server that goes away in the middle of the display mode reading costs only the
modes not yet read: the probe and the whole tool go on and end normally, over one connection.
One that hangs costs the start no more than the X server's few seconds; one that is slow
within them is still read.

PW_PROBE names the built display_modes_probe, PW_TESTBED the testbed program."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(__file__))
from display_xvfb import kernel_modes  # noqa: E402
from fake_x_server import CONNECTED, DISCONNECTED, fake_x_server, silent_x_sockets  # noqa: E402
from expected import SLOT_QUESTION, TITLE, found  # noqa: E402
from harness import (TESTBED, TICKS, game_folder, piped_session, process_stat,  # noqa: E402
                     run_piped)

PROBE = os.environ.get("PW_PROBE", "")
# How long the display body waits for the X server in a run, connecting and all replies.
X_SERVER_WAIT = 4

FIRST = [(1024, 768), (800, 600), (1024, 768)]
SECOND = [(1920, 1080)]
UNPLUGGED = [(2560, 1440)]
OUTPUTS = [(CONNECTED, FIRST), (DISCONNECTED, UNPLUGGED), (CONNECTED, SECOND)]


def probe(env):
    """The list of one build at 32 bits per pixel, as (exit status, sizes)."""
    done = subprocess.run([PROBE, "--depth", "32"], env=env, capture_output=True, timeout=30)
    lines = done.stdout.decode().splitlines()
    sizes = [tuple(int(n) for n in line.split("x")) for line in lines[:-1]]
    assert lines[-1] == "count %d" % len(sizes), lines
    return done.returncode, sizes


class server_goes_away(unittest.TestCase):
    def test_each_point_of_leaving_costs_only_the_modes_not_yet_read(self):
        kernel = kernel_modes()
        cases = [
            ("accept", set()),
            ("setup", set()),
            ("extension", set()),
            ("randr", set()),
            # The first output's reply came before the server left; the others are lost.
            ("second output", set(FIRST)),
            (None, set(FIRST) | set(SECOND)),
            ("without randr", set()),
        ]
        for close_at, from_x in cases:
            with self.subTest(close_at=close_at):
                with fake_x_server(OUTPUTS, close_at) as server:
                    status, sizes = probe(server.environment())
                    self.assertEqual(status, 0)
                    self.assertEqual(sizes, sorted(kernel | from_x))
                    self.assertEqual(server.accepted, 1)

    def test_the_whole_tool_asks_twice_over_one_connection(self):
        # When the server leaves during the count pass, the fill pass finds the connection
        # gone: the table keeps its counted length and the run ends at the end of input.
        for close_at, resource_queries in [(None, 2), ("second output", 1)]:
            with self.subTest(close_at=close_at):
                with fake_x_server(OUTPUTS, close_at) as server, game_folder() as g:
                    g.write_game()
                    before = g.read()
                    status, out = run_piped(TESTBED, g.path, b"", env={"DISPLAY": server.display})
                    self.assertEqual(status, 0)
                    self.assertTrue(out.startswith(TITLE + found("cstrike.exe")), out)
                    self.assertIn(SLOT_QUESTION, out)
                    self.assertEqual(g.read(), before)
                    self.assertEqual(server.accepted, 1, "one connection for both passes")
                    self.assertEqual(server.resource_queries, resource_queries,
                                     "each pass asks the server afresh")


class server_hangs(unittest.TestCase):
    def test_the_slots_show_within_the_wait_and_9_leaves_the_file(self):
        # A stale DISPLAY: the server's socket file or TCP port accepts and never answers;
        # or the server answers the connection and falls silent at a later request; or it
        # takes no more connections, and the connect itself waits, on the file and then on TCP.
        cases = [
            ("socket file", silent_x_sockets, lambda s: ":%d" % s.number, 1),
            ("TCP port", silent_x_sockets, lambda s: "127.0.0.1:%d" % s.number, 1),
            ("extension query", lambda: fake_x_server(OUTPUTS, "extension", hold=True),
             lambda s: s.display, 1),
            ("RandR requests", lambda: fake_x_server(OUTPUTS, "randr", hold=True),
             lambda s: s.display, 1),
            ("queues full", lambda: silent_x_sockets(full=True), lambda s: ":%d" % s.number, 0),
        ]
        for name, make_server, display_of, accepted in cases:
            with self.subTest(name):
                with make_server() as server, game_folder() as g:
                    g.write_game()
                    before = g.read()
                    with piped_session(TESTBED, g.path, env={"DISPLAY": display_of(server)},
                                       limit=X_SERVER_WAIT + 1) as s:
                        s.expect(TITLE + found("cstrike.exe"))
                        s.expect(SLOT_QUESTION)
                        s.send(b"9")
                        self.assertEqual(s.wait(), 0)
                    self.assertEqual(g.read(), before)
                    self.assertEqual(server.accepted, accepted, "the server was reached, once")

    def test_a_slow_server_within_the_wait_is_read(self):
        # Over a third of the wait in all: in the connection and in the RandR replies.
        delays = {"setup": X_SERVER_WAIT / 4, "randr": X_SERVER_WAIT / 8}
        with fake_x_server(OUTPUTS, delays=delays) as server:
            status, sizes = probe(server.environment())
            self.assertEqual(status, 0)
            self.assertEqual(sizes, sorted(kernel_modes() | set(FIRST) | set(SECOND)))

    def test_a_name_server_that_never_answers_is_waited_for_without_a_busy_loop(self):
        # A DISPLAY that names a host, while the name server is gone: the lookup, inside the
        # connect, outlasts the wait. The alarm that ends the wait must leave the lookup's
        # socket alone, or the resolver polls it in a busy loop until its own time-out.
        if shutil.which("unshare") is None or shutil.which("ip") is None or subprocess.run(
                ["unshare", "-rmn", "true"], capture_output=True).returncode != 0:
            self.skipTest("no network and mount namespace of the tests' own here")
        if host_lookup() != ["files", "dns"]:
            self.skipTest("host names are not looked up in the hosts file and DNS alone")
        lookup = 2 * X_SERVER_WAIT  # the resolver's own time-out, one try
        with tempfile.TemporaryDirectory(prefix="pixelwarde-dns-") as scratch, \
                game_folder() as g:
            resolver = os.path.join(scratch, "resolv.conf")
            with open(resolver, "w") as f:
                f.write("nameserver 127.0.0.1\noptions timeout:%d attempts:1\n" % lookup)
            g.write_game()
            argv = ["unshare", "-rmn", sys.executable, "-c", NO_ANSWER_DNS, resolver, TESTBED]
            with piped_session(TESTBED, g.path, env={"DISPLAY": "pw-no-answer.example:0"},
                               argv=argv, limit=lookup + X_SERVER_WAIT) as s:
                s.expect(SLOT_QUESTION)
                _, ticks = process_stat(s.pid)
                s.send(b"9")
                self.assertEqual(s.wait(), 0)
            # A start costs a few hundredths of a second of processor time.
            self.assertLess(ticks, TICKS // 4, "processor ticks used up to the slot question")


def host_lookup():
    """The services that look host names up, in order, as the name service switch lists them."""
    with open("/etc/nsswitch.conf") as f:
        for line in f:
            key, _, services = line.partition(":")
            if key.strip() == "hosts":
                return [s for s in services.split("#")[0].split() if not s.startswith("[")]
    return []


# In a network and mount namespace of its own: the loopback up, the resolver file given
# in place of the system's, and a socket at the name server's address that never answers,
# kept open into the program that runs.
NO_ANSWER_DNS = """if True:
    import os, socket, subprocess, sys
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    subprocess.run(["mount", "--bind", sys.argv[1], "/etc/resolv.conf"], check=True)
    server = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    server.bind(("127.0.0.1", 53))
    server.set_inheritable(True)
    os.execv(sys.argv[2], sys.argv[2:])
"""


if __name__ == "__main__":
    unittest.main(verbosity=2)
