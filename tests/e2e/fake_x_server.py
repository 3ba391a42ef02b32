"""A small X server that answers just enough of the core protocol and RandR for a display mode
reading, and then goes away at a chosen point. It listens on the abstract Unix socket of a
free display number, which clients on Linux try first, so no file is made anywhere.

The points where it goes away, in the order a reading meets them:
  "accept"          closes each connection as soon as it is accepted;
  "setup"           reads the connection setup and closes without an answer;
  "extension"       answers the setup, closes at the query for the RandR extension;
  "randr"           answers up to the extension query, closes at the first RandR request;
  "second output"   answers everything up to the first output's information, then closes;
  None              answers every request it understands and stays;
  "without randr"   as None, but tells the client that RandR is absent.
With hold=True it does not close at the chosen point but falls silent there, keeping the
connection open until the server stops: a server that hangs. delays holds seconds to wait
before answering at a point ("setup", "randr"): a slow server.

silent_x_sockets is a server that accepts and never answers, on the socket file and the TCP
port of one display number; or, full, one that takes no more connections: a client's
connect waits on both.
"""

import array
import fcntl
import os
import random
import select
import socket
import struct
import termios
import threading
import time

RANDR_OPCODE = 140
ROOT = 0x100
QUERY_EXTENSION = 98
RANDR_QUERY_VERSION = 0
RANDR_GET_OUTPUT_INFO = 9
RANDR_GET_SCREEN_RESOURCES_CURRENT = 25
CONNECTED, DISCONNECTED = 0, 1


def _pad(data):
    return data + b"\0" * (-len(data) % 4)


def _setup_reply():
    vendor = _pad(b"pixelwarde test")
    formats = struct.pack("<BBB5x", 24, 32, 32)
    depth = struct.pack("<BxH4x", 24, 0)
    screen = struct.pack("<IIIIIHHHHHHIBBBB", ROOT, 0x20, 0xFFFFFF, 0, 0, 1024, 768, 270, 203,
                         1, 1, 0x21, 0, 0, 24, 1) + depth
    body = (struct.pack("<IIIIHHBBBBBBBB4x", 1, 0x200000, 0x1FFFFF, 0, len(b"pixelwarde test"),
                        0xFFFF, 1, 1, 0, 0, 32, 32, 8, 255)
            + vendor + formats + screen)
    return struct.pack("<BxHHH", 1, 11, 0, len(body) // 4) + body


class fake_x_server:
    """outputs: a list of (connection, [(width, height), ...]) for the screen's outputs."""

    def __init__(self, outputs, close_at=None, hold=False, delays=None):
        self.outputs = outputs
        self.close_at = close_at
        self.hold = hold
        self.delays = delays or {}
        self.stopped = threading.Event()
        self.accepted = 0
        self.resource_queries = 0
        self.listener, self.number = _listen_on_free_display()
        self.display = ":%d" % self.number
        self.address = self.listener.getsockname()
        self.stopping = False
        self.thread = threading.Thread(target=self._serve, daemon=True)

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.stopping = True
        self.stopped.set()
        # Wakes the accepting thread, which then ends.
        try:
            with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as poke:
                poke.connect(self.address)
        except OSError:
            pass
        self.thread.join(timeout=10)
        self.listener.close()
        return False

    def environment(self):
        env = dict(os.environ)
        env["DISPLAY"] = self.display
        return env

    def _serve(self):
        while True:
            connection, _ = self.listener.accept()
            if self.stopping:
                connection.close()
                return
            self.accepted += 1
            with connection:
                try:
                    self._talk(connection)
                    if self.hold:
                        self.stopped.wait()
                except (OSError, EOFError):
                    pass

    def _talk(self, connection):
        if self.close_at == "accept":
            return
        reader = _request_reader(connection)
        head = reader.take(12)
        name_length, data_length = struct.unpack("<HH", head[6:10])
        reader.take(len(_pad(b"\0" * name_length)) + len(_pad(b"\0" * data_length)))
        if self.close_at == "setup":
            return
        time.sleep(self.delays.get("setup", 0))
        connection.sendall(_setup_reply())
        sequence = 0
        while True:
            opcode, minor, _ = reader.request()
            sequence += 1
            if opcode == QUERY_EXTENSION:
                if self.close_at == "extension":
                    return
                present = 0 if self.close_at == "without randr" else 1
                connection.sendall(struct.pack("<BxHIBBBB20x", 1, sequence, 0, present,
                                               RANDR_OPCODE, 0, 0))
            elif opcode == RANDR_OPCODE and minor == RANDR_QUERY_VERSION:
                if self.close_at == "randr":
                    return
                connection.sendall(struct.pack("<BxHIII16x", 1, sequence, 0, 1, 5))
            elif opcode == RANDR_OPCODE and minor == RANDR_GET_SCREEN_RESOURCES_CURRENT:
                if self.close_at == "randr":
                    return
                self.resource_queries += 1
                time.sleep(self.delays.get("randr", 0))
                connection.sendall(self._resources(sequence))
            elif opcode == RANDR_OPCODE and minor == RANDR_GET_OUTPUT_INFO:
                output = reader.last[4:8]
                index = struct.unpack("<I", output)[0] - 0x300
                connection.sendall(self._output_info(sequence, index))
                if self.close_at == "second output":
                    # A client that sees the hang-up before it read the reply loses it too.
                    _wait_until_read(connection)
                    return
            else:
                # Not understood: an error (BadRequest) keeps the client's count in step.
                connection.sendall(struct.pack("<BBHIHB21x", 0, 1, sequence, 0, minor, opcode))

    def _mode_ids(self):
        """One mode id per distinct size, shared by the outputs that offer it."""
        ids = {}
        for _, sizes in self.outputs:
            for size in sizes:
                ids.setdefault(size, 0x400 + len(ids))
        return ids

    def _resources(self, sequence):
        ids = self._mode_ids()
        outputs = b"".join(struct.pack("<I", 0x300 + i) for i in range(len(self.outputs)))
        modes = b"".join(struct.pack("<IHHIHHHHHHHHI", ids[(w, h)], w, h, 0, 0, 0, 0, 0, 0, 0,
                                     0, 0, 0) for (w, h) in ids)
        body = outputs + modes
        return struct.pack("<BxHIIIHHHH8x", 1, sequence, len(body) // 4, 1, 1, 0,
                           len(self.outputs), len(ids), 0) + body

    def _output_info(self, sequence, index):
        ids = self._mode_ids()
        connected, sizes = self.outputs[index]
        modes = b"".join(struct.pack("<I", ids[size]) for size in sizes)
        # 36 bytes of fixed part, of which 4 count into the length.
        return struct.pack("<BBHIIIIIBBHHHHH", 1, 0, sequence, 1 + len(modes) // 4, 1, 0, 0, 0,
                           connected, 0, 0, len(sizes), 0, 0, 0) + modes


class silent_x_sockets:
    """Listens on /tmp/.X11-unix/X<n> and on TCP port 6000+n of one free display number,
    accepts every connection and never answers. Its abstract name is taken without listening,
    so a client turns from it to the socket file at once. With full=True it accepts nothing
    and fills both queues with connections of its own, so a blocking connect waits: on the
    socket file, then on the TCP port, where a client turns after the file."""

    def __init__(self, full=False):
        self.accepted = 0
        self.connections = []
        self.stopped = threading.Event()
        self.number, self.listeners, self.abstract = _take_free_display_everywhere(
            0 if full else 8)
        self.path = "/tmp/.X11-unix/X%d" % self.number
        if full:
            self.connections = _fill_queues(self.listeners)
            self.listeners_served = []
        else:
            self.listeners_served = self.listeners
        self.thread = threading.Thread(target=self._serve, daemon=True)

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.stopped.set()
        self.thread.join(timeout=10)
        for each in self.listeners + self.connections + [self.abstract]:
            each.close()
        os.unlink(self.path)
        return False

    def _serve(self):
        while not self.stopped.is_set():
            ready, _, _ = select.select(self.listeners_served, [], [], 0.05)
            for listener in ready:
                connection, _ = listener.accept()
                self.connections.append(connection)
                self.accepted += 1


def _take_free_display_everywhere(backlog):
    """A display number whose socket file, abstract name and TCP port are all free, with the
    file and port listening and the abstract name bound."""
    os.makedirs("/tmp/.X11-unix", exist_ok=True)
    for _ in range(100):
        number = random.randrange(2000, 59000)
        path = "/tmp/.X11-unix/X%d" % number
        if os.path.exists(path):
            continue
        taken = []
        try:
            abstract = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            taken.append(abstract)
            abstract.bind("\0" + path)
            tcp = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            taken.append(tcp)
            tcp.bind(("127.0.0.1", 6000 + number))
            unix = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            taken.append(unix)
            unix.bind(path)
        except OSError:
            for each in taken:
                each.close()
            continue
        tcp.listen(backlog)
        unix.listen(backlog)
        return number, [unix, tcp], abstract
    raise RuntimeError("no free display number")


def _fill_queues(listeners):
    """Connections that fill each listener's queue of connections not yet accepted. A Unix
    socket says so (EAGAIN); TCP completes the handshakes of a few and then drops further
    requests, and a client's connect waits."""
    fillers = []
    for listener in listeners:
        for _ in range(64 if listener.family == socket.AF_UNIX else 4):
            filler = socket.socket(listener.family, socket.SOCK_STREAM)
            filler.setblocking(False)
            fillers.append(filler)
            try:
                filler.connect(listener.getsockname())
            except BlockingIOError:
                if listener.family == socket.AF_UNIX:
                    break
    time.sleep(0.5)  # for the TCP handshakes
    return fillers


def _wait_until_read(connection, limit=10):
    """Waits until the client has read everything sent so far: a Unix socket's output
    queue counts the bytes its peer has not yet taken."""
    deadline = time.monotonic() + limit
    unread = array.array("i", [1])
    while time.monotonic() < deadline:
        fcntl.ioctl(connection.fileno(), termios.TIOCOUTQ, unread, True)
        if unread[0] == 0:
            return
        time.sleep(0.001)


def _listen_on_free_display():
    """A display number no server uses, neither by its socket file nor by its abstract name."""
    for _ in range(100):
        number = random.randrange(2000, 60000)
        if os.path.exists("/tmp/.X11-unix/X%d" % number):
            continue
        listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        try:
            listener.bind("\0/tmp/.X11-unix/X%d" % number)
        except OSError:
            listener.close()
            continue
        listener.listen(8)
        return listener, number
    raise RuntimeError("no free display number")


class _request_reader:
    def __init__(self, connection):
        self.connection = connection
        self.buffer = b""
        self.last = b""

    def take(self, count):
        while len(self.buffer) < count:
            chunk = self.connection.recv(65536)
            if not chunk:
                raise EOFError
            self.buffer += chunk
        data, self.buffer = self.buffer[:count], self.buffer[count:]
        return data

    def request(self):
        head = self.take(4)
        opcode, minor, length = struct.unpack("<BBH", head)
        self.last = head + self.take(max(length, 1) * 4 - 4)
        return opcode, minor, self.last
