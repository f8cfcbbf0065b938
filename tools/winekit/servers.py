"""Servers on the loopback addresses a build of the utility probes for a connection.

The build's configuration names them (Build.probe): the maker's site serves
/controlloconnessione; at the search engine's address the utility only needs something to
accept a connection. The test build probes 127.0.0.1:47801 and 127.0.0.1:47802; the shipped one
probes its real host names on port 80, which scripts/probe-network maps to 127.0.0.2 and
127.0.0.3 inside a private network.
"""

import socket
import threading
import time

from .wine import WinekitError, MachineLock

_locks = {}


def probe_lock(address):
    """The lock of one probe address, (host, port). The test build's addresses are on this
    machine's own loopback, so one run on this machine at a time may use them: a case that
    needs them closed must be sure nobody opens them meanwhile. Whoever serves an address holds
    its lock; a test session holds the locks of its build's addresses throughout."""
    host, port = address
    if address not in _locks:
        _locks[address] = MachineLock(f"patchquadrell-probe-{host}-{port}.lock", f"the probe address {host}:{port}")
    return _locks[address]


def _listen(address):
    host, port = address
    sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    try:
        sock.bind(address)
        sock.listen(16)
        return sock
    except OSError as error:
        sock.close()
        raise WinekitError(f"{host}:{port} is taken by a program that does not hold "
                           f"{probe_lock(address).path} ({error})") from None


def _read_request(conn):
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = conn.recv(4096)
        if not chunk:
            break
        data += chunk
    return data.split(b"\r\n", 1)[0].decode("latin-1")


class _Server:
    """Accepts connections on a thread of its own until stopped."""

    def __init__(self, address):
        self.address = address
        self.connections = 0
        self._stopped = threading.Event()
        self._lock = threading.Lock()
        self._address_lock = probe_lock(address)
        self._address_lock.acquire()
        try:
            self._listener = _listen(address)
        except WinekitError:
            self._address_lock.release()
            raise
        self._threads = []
        self._thread = threading.Thread(target=self._accept_loop, daemon=True)
        self._thread.start()

    def _accept_loop(self):
        while not self._stopped.is_set():
            try:
                conn, _ = self._listener.accept()
            except OSError:
                return  # the listener was closed
            with self._lock:
                self.connections += 1
            worker = threading.Thread(target=self._serve_closing, args=(conn,), daemon=True)
            self._threads.append(worker)
            worker.start()

    def _serve_closing(self, conn):
        with conn:
            try:
                self.serve(conn)
            except OSError:
                pass

    def serve(self, conn):
        """Accepting is all a plain listener does."""

    def stop_listening(self):
        # Closing alone would not wake the accept waiting on another thread; shutting down does.
        try:
            self._listener.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self._listener.close()

    def stop(self):
        if self._stopped.is_set():
            return
        self._stopped.set()
        self.stop_listening()
        for worker in self._threads:
            worker.join(timeout=10)
        self._thread.join(timeout=10)
        self._address_lock.release()


class Listener(_Server):
    """The search engine's address, (host, port): accepts and closes."""


class ConnectivityPage(_Server):
    """The maker's site at address (host, port), serving every GET with the given status and body.

    silent_for   accept, answer nothing, close the connection that many seconds later
    until        with silent_for: close it as soon as this function answers true; the requests
                 so let go early are in `let_go`
    answer_once  stop listening once the first request came in (the forced connection test
                 to this address then fails, so the other address decides)
    never_ends   (size, seconds): a chunked body that starts with `body` and never ends, one
                 chunk of `size` bytes every `seconds`, as a captive portal or a broken proxy
                 may send; it stops when the client goes or the server is stopped
    """

    def __init__(self, address, body="ok", status=200, silent_for=None, answer_once=False, never_ends=None,
                 until=None):
        self.body = body.encode("utf-8") if isinstance(body, str) else body
        self.status = status
        self.silent_for = silent_for
        self.until = until
        self.let_go = []
        self.answer_once = answer_once
        self.never_ends = never_ends
        self.requests = []
        super().__init__(address)

    def _serve_endless(self, conn, reason):
        size, seconds = self.never_ends
        conn.sendall(f"HTTP/1.1 {self.status} {reason}\r\nContent-Type: text/plain\r\n"
                     "Transfer-Encoding: chunked\r\n\r\n".encode("latin-1"))
        chunk = self.body
        while not self._stopped.is_set():
            if chunk:
                conn.sendall(f"{len(chunk):x}\r\n".encode("latin-1") + chunk + b"\r\n")
            chunk = b"x" * size
            self._stopped.wait(seconds)

    def serve(self, conn):
        request_line = _read_request(conn)
        with self._lock:
            self.requests.append(request_line)
        if self.answer_once:
            self.stop_listening()
        if self.silent_for is not None:
            deadline = time.monotonic() + self.silent_for
            while not self._stopped.wait(min(0.05, max(deadline - time.monotonic(), 0))):
                if self.until and self.until():
                    with self._lock:
                        self.let_go.append(request_line)
                    return
                if time.monotonic() >= deadline:
                    return
            return
        reason = {200: "OK", 404: "Not Found", 500: "Internal Server Error"}.get(self.status, "Status")
        if self.never_ends:
            self._serve_endless(conn, reason)
            return
        head = (f"HTTP/1.1 {self.status} {reason}\r\nContent-Type: text/plain; charset=utf-8\r\n"
                f"Content-Length: {len(self.body)}\r\nConnection: close\r\n\r\n")
        conn.sendall(head.encode("latin-1") + self.body)


class NameServer:
    """A name server on 127.0.0.1:53 (UDP) that gives `address` for every name that begins with
    "wpad." and says that no other name exists: Windows' and Wine's proxy discovery ask DNS for
    "wpad." and the PC's DNS domain, never the hosts file. Only inside scripts/probe-network's
    private network, whose resolver names 127.0.0.1 alone, does anybody ask it."""

    ADDRESS = ("127.0.0.1", 53)

    def __init__(self, address):
        self.answer = socket.inet_aton(address)
        self.questions = []
        self._lock = threading.Lock()
        self._address_lock = probe_lock(self.ADDRESS)
        self._address_lock.acquire()
        self._socket = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        try:
            self._socket.bind(self.ADDRESS)
        except OSError as error:
            self._socket.close()
            self._address_lock.release()
            raise WinekitError(f"cannot serve names on 127.0.0.1:53 ({error})") from None
        self._socket.settimeout(0.1)  # so that the thread sees a stop soon
        self._stopped = threading.Event()
        self._thread = threading.Thread(target=self._serve, daemon=True)
        self._thread.start()

    def _serve(self):
        while not self._stopped.is_set():
            try:
                query, client = self._socket.recvfrom(512)
            except socket.timeout:
                continue
            except OSError:
                return
            reply = self._reply(query)
            if reply:
                self._socket.sendto(reply, client)

    def _reply(self, query):
        # The header (12 bytes), then one question: its name as labels, its type and class.
        end, labels = 12, []
        while end < len(query) and query[end]:
            labels.append(query[end + 1:end + 1 + query[end]].decode("latin-1").lower())
            end += 1 + query[end]
        if len(query) < end + 5:
            return None
        question = query[12:end + 5]
        kind = int.from_bytes(query[end + 1:end + 3], "big")
        name = ".".join(labels)
        with self._lock:
            self.questions.append((name, kind))
        ours = labels[:1] == ["wpad"]
        answers = b""
        if ours and kind == 1:  # A: the address, named by a pointer to the question's name
            answers = b"\xc0\x0c" + (1).to_bytes(2, "big") + (1).to_bytes(2, "big") + (60).to_bytes(4, "big") + \
                (4).to_bytes(2, "big") + self.answer
        flags = 0x8180 if ours else 0x8183  # an answer; for any other name: no such name
        return (query[:2] + flags.to_bytes(2, "big") + (1).to_bytes(2, "big") +
                (1 if answers else 0).to_bytes(2, "big") + bytes(4) + question + answers)

    def stop(self):
        if self._stopped.is_set():
            return
        self._stopped.set()
        self._thread.join(timeout=10)
        self._socket.close()
        self._address_lock.release()
