"""TestCloud: the Orvane cloud, its download host, and the proxy in front of them,
on one loopback port, for the wine tier.

The agent is configured with a named proxy 127.0.0.1:<port>, so every request it makes
arrives here. There is nothing to forward: this server is the proxy and every origin behind
it. A client of a proxy writes absolute-form request lines ("GET http://host/path"), one that
takes the proxy for the origin writes origin-form lines ("GET /path", as Wine 8's WinHTTP
does); both are accepted, and the origin is chosen by the host (the absolute-form authority
when there is one, else the Host header, without its port):

* API hosts (`api_hosts`): the two Web API requests the agent makes, per registered device;
* download hosts (`download_hosts`): files a test registered with add_download;
* any other host: 502, as a proxy that cannot reach the origin answers. CONNECT (what a
  client asks a proxy for TLS) is recorded and answered 502 as well: no TLS is served.

Every request is recorded (see Request) before it is answered. A test can replace the answer
for a path with script(): any status, any or no body, a delay, or a dropped connection.

Python standard library only. Usable as a context manager; stop() is bounded and ends every
thread it started.
"""

from __future__ import annotations

import dataclasses
import json
import re
import socket
import socketserver
import threading
import time
from http.server import BaseHTTPRequestHandler, HTTPServer
from typing import Optional, Sequence, Union
from urllib.parse import unquote, urlsplit

API_HOSTS = ("api.orvane.example", "staging-api.orvane.example")
DOWNLOAD_HOSTS = ("downloads.orvane.example",)

# What each request kind of the Web API is called in recorded requests.
KIND_REGISTRATION_DATA = 1
KIND_LATEST_SOFTWARE = 2

_HEX32 = re.compile(r"[0-9A-Fa-f]{32}")

# A client that keeps a connection open and silent is dropped after this long, so a stuck
# peer can hold one handler thread for a bounded time only.
_IDLE_TIMEOUT = 15.0
_MAX_BODY = 64 * 1024 * 1024


@dataclasses.dataclass
class Request:
    """One request as it arrived."""

    method: str
    request_line: str  # as received, without CR LF
    target: str  # the request target: "/p" (origin-form) or "http://h/p" (absolute-form)
    host: str  # lower case, without port
    path: str  # without query, percent-decoding left to the caller
    query: str
    headers: list  # [(name, value)] in arrival order
    body: bytes
    time: float  # time.time() when the request line was read
    route: str  # "api", "download", "upload", "unknown", "connect"
    kind: int = 0  # Web API request kind, 0 when not an API request
    status: int = 0  # the status answered (0 when the connection was dropped)

    def header(self, name: str, default: Optional[str] = None) -> Optional[str]:
        """The first header of that name, compared without case."""
        wanted = name.lower()
        for key, value in self.headers:
            if key.lower() == wanted:
                return value
        return default


@dataclasses.dataclass
class Answer:
    """A scripted answer. body None keeps the answer the cloud would have given (only the
    status, delay or drop change); bytes or str replace it (str is sent as UTF-8)."""

    status: int = 200
    body: Union[bytes, str, None] = None
    delay: float = 0.0  # seconds before answering (interrupted by stop() and release_held())
    drop: bool = False  # close the connection without any answer: a transport failure
    content_type: str = "application/json"
    times: Optional[int] = None  # how many requests it serves; None: all

    def _body_bytes(self) -> Optional[bytes]:
        if self.body is None or isinstance(self.body, bytes):
            return self.body
        return self.body.encode("utf-8")


@dataclasses.dataclass
class Device:
    """What the cloud knows of one registered device. `answer_dev_id` is the identifier the
    registration-data answer carries (the server may assign a new one)."""

    dev_id: str
    answer_dev_id: str
    dev_id_changed: str = "0"
    mac_adr_changed: str = "0"


@dataclasses.dataclass
class Software:
    """The latest-software answer; event_def is the definition file's text, escaped here."""

    ms_ver: str = "1.00"
    agt_ver: str = "1.00"
    ms_url: str = ""
    agt_url: str = ""
    event_def: str = ""


def error_body(error_id: str, error_field: str = "", error_value: str = "") -> str:
    return _compact({"error_id": error_id, "error_field": error_field, "error_value": error_value})


def _compact(members: dict) -> str:
    # Key order is kept as given: the agent's reader takes the first match of a key text,
    # so a short key (dev_id) must come before the keys it prefixes (dev_id_changed).
    return json.dumps(members, ensure_ascii=False, separators=(",", ":"))


def escape_event_def(text: str) -> str:
    """The definition file as a JSON string's inside, with only the escapes the agent
    undoes (quotation mark, backslash, b, f, n, r, t); other characters pass as they are."""
    table = {'"': '\\"', "\\": "\\\\", "\b": "\\b", "\f": "\\f", "\n": "\\n", "\r": "\\r",
             "\t": "\\t"}
    return "".join(table.get(c, c) for c in text)


class _Server(HTTPServer):
    allow_reuse_address = False
    daemon_threads = True

    def __init__(self, cloud: "TestCloud"):
        self.cloud = cloud
        super().__init__(("127.0.0.1", 0), _Handler)

    def server_bind(self):
        # HTTPServer.server_bind asks for the address's name (socket.getfqdn), a look-up that
        # could leave the machine; the name is never used here.
        socketserver.TCPServer.server_bind(self)
        self.server_name = "127.0.0.1"
        self.server_port = self.server_address[1]

    def process_request(self, request, client_address):
        # One thread per connection, tracked so stop() can end and join them all.
        thread = threading.Thread(target=self._serve_connection, args=(request, client_address),
                                  name="TestCloud-conn", daemon=True)
        self.cloud._track(thread, request)
        thread.start()

    def _serve_connection(self, request, client_address):
        try:
            self.finish_request(request, client_address)
        except Exception:
            self.handle_error(request, client_address)
        finally:
            self.shutdown_request(request)
            self.cloud._untrack(request)

    def handle_error(self, request, client_address):
        # Peers that vanish mid-request are expected (dropped answers, stop()); keep quiet.
        pass


class _Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "TestCloud/1"
    timeout = _IDLE_TIMEOUT

    def log_message(self, format, *args):  # noqa: A002 - the base class's signature
        pass

    def handle_one_request(self):
        self._started = time.time()
        super().handle_one_request()

    # Every method goes through one place; do_X only exist so the base class dispatches.
    def do_GET(self):
        self._serve()

    do_POST = do_PUT = do_DELETE = do_HEAD = do_PATCH = do_OPTIONS = do_GET

    def do_CONNECT(self):
        self._serve(connect=True)

    def _read_body(self) -> Optional[bytes]:
        length = self.headers.get("Content-Length")
        if not length:
            return b""
        try:
            count = int(length)
        except ValueError:
            return None
        if count < 0 or count > _MAX_BODY:
            return None
        data = self.rfile.read(count)
        return data if len(data) == count else None

    def _serve(self, connect: bool = False):
        cloud: TestCloud = self.server.cloud
        body = b"" if connect else self._read_body()
        if body is None:
            self.close_connection = True
            self._send(400, b"", "text/plain")
            return
        target = self.path
        if connect:
            host = target.rsplit(":", 1)[0]
            path, query = "", ""
        elif target.startswith("/"):
            host = (self.headers.get("Host") or "")
            path, _, query = target.partition("?")
        else:
            parts = urlsplit(target)
            host = parts.netloc or (self.headers.get("Host") or "")
            path, query = parts.path or "/", parts.query
        host = _strip_port(host).lower()
        record = Request(
            method=self.command, request_line=self.requestline, target=target, host=host,
            path=path, query=query, headers=list(self.headers.items()), body=body,
            time=self._started, route="connect" if connect else cloud._route(host))
        status, payload, content_type, drop = cloud._answer(record)
        record.status = 0 if drop else status
        cloud._record(record)
        if drop:
            self.close_connection = True
            try:
                self.connection.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            return
        if connect:
            self.close_connection = True
        self._send(status, payload, content_type)

    def _send(self, status: int, payload: bytes, content_type: str):
        try:
            self.send_response(status)
            self.send_header("Content-Type", content_type)
            self.send_header("Content-Length", str(len(payload)))
            if self.close_connection:
                self.send_header("Connection", "close")
            self.end_headers()
            if self.command != "HEAD" and payload:
                self.wfile.write(payload)
            self.wfile.flush()
        except OSError:
            self.close_connection = True


def _strip_port(host: str) -> str:
    host = host.strip()
    if host.startswith("["):
        return host[1:].split("]", 1)[0]
    return host.rsplit(":", 1)[0] if host.count(":") == 1 else host


class TestCloud:
    """The cloud, its download host and the proxy, on 127.0.0.1:`port`.

    Web API answers (`prefix` None accepts any path prefix, as the agent inserts
    `WebAPIFilePath` unchanged, even an empty one):
      GET  /<prefix>/devices/<id>           kind 1: 200 {"dev_id","dev_id_changed","mac_adr_changed"}
                                            for a device added with add_device; 401/4012 for others;
                                            400/4004 when the id is not 32 characters, 400/4005 when
                                            not hexadecimal; 400/4000 without X-NASAPI-Device-Subkey
      GET  /<prefix>/devices/<id>/software  kind 2: 200 with `software`; 401 for unknown devices
    Any other path on an API host is 404, a wrong method 405; every error body carries
    error_id, error_field and error_value, all values quoted texts.

    Scripted answers never change what the cloud knows.
    """

    __test__ = False  # not a test case, whatever its name says to a test collector

    def __init__(self, prefix: Optional[str] = None, api_hosts: Sequence[str] = API_HOSTS,
                 download_hosts: Sequence[str] = DOWNLOAD_HOSTS):
        self.prefix = prefix
        self.api_hosts = {h.lower() for h in api_hosts}
        self.download_hosts = {h.lower() for h in download_hosts}
        self.software = Software()
        self._lock = threading.Condition()
        self._requests: list = []
        self._devices: dict = {}
        self._downloads: dict = {}
        self._scripts: list = []
        self._stopping = threading.Event()
        self._releases = 0  # release_held() calls so far; a delay ends when this changes
        self._connections: dict = {}
        self._server: Optional[_Server] = None
        self._thread: Optional[threading.Thread] = None

    # ---- lifetime -------------------------------------------------------

    def __enter__(self) -> "TestCloud":
        self.start()
        return self

    def __exit__(self, *exc) -> None:
        self.stop()

    def start(self) -> None:
        if self._server is not None:
            return
        self._stopping.clear()
        self._server = _Server(self)
        self._thread = threading.Thread(target=self._server.serve_forever,
                                        kwargs={"poll_interval": 0.05}, name="TestCloud",
                                        daemon=True)
        self._thread.start()

    def stop(self, timeout: float = 10.0) -> None:
        """Stops accepting, wakes delayed answers, closes open connections and joins every
        thread, all within `timeout` seconds. Raises RuntimeError if a thread outlives it."""
        if self._server is None:
            return
        deadline = time.monotonic() + timeout
        self._stopping.set()
        with self._lock:
            self._lock.notify_all()
        self._server.shutdown()
        self._server.server_close()
        self._thread.join(max(0.0, deadline - time.monotonic()))
        with self._lock:
            connections = list(self._connections.items())
        for thread, sock in connections:
            try:
                sock.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
        stuck = []
        for thread, _ in connections:
            thread.join(max(0.0, deadline - time.monotonic()))
            if thread.is_alive():
                stuck.append(thread)
        self._server = None
        if self._thread.is_alive() or stuck:
            raise RuntimeError("TestCloud threads still running after %.0f s" % timeout)
        self._thread = None

    @property
    def port(self) -> int:
        if self._server is None:
            raise RuntimeError("TestCloud is not started")
        return self._server.server_address[1]

    @property
    def proxy(self) -> str:
        """The proxy as the agent's settings name it: ProxyServer and ProxyPort."""
        return "127.0.0.1:%d" % self.port

    def _track(self, thread, sock) -> None:
        with self._lock:
            self._connections[thread] = sock

    def _untrack(self, sock) -> None:
        with self._lock:
            for thread, s in list(self._connections.items()):
                if s is sock:
                    del self._connections[thread]

    # ---- what tests set up ----------------------------------------------

    def add_device(self, dev_id: str, answer_dev_id: Optional[str] = None,
                   dev_id_changed: str = "0", mac_adr_changed: str = "0") -> Device:
        device = Device(dev_id.upper(), (answer_dev_id or dev_id).upper(), dev_id_changed,
                        mac_adr_changed)
        with self._lock:
            self._devices[device.dev_id] = device
        return device

    def devices(self) -> dict:
        with self._lock:
            return dict(self._devices)

    def add_download(self, url: str, data: bytes, status: int = 200) -> None:
        """Serves `data` (with `status`) for an http URL on a download host."""
        parts = urlsplit(url)
        host = _strip_port(parts.netloc).lower()
        if host not in self.download_hosts:
            raise ValueError("%s is not one of the download hosts %s" % (host, sorted(self.download_hosts)))
        with self._lock:
            self._downloads[(host, parts.path)] = (status, bytes(data))

    def script(self, path: str, answer: Answer, host: Optional[str] = None,
               method: Optional[str] = None) -> None:
        """Answers requests for exactly `path` (compared percent-decoded, as clients escape
        differently; and `host`, `method` when given) with
        `answer` instead of the built-in one. The newest matching script wins."""
        with self._lock:
            self._scripts.append([path, host.lower() if host else None,
                                  method.upper() if method else None, answer])

    def clear_scripts(self) -> None:
        with self._lock:
            self._scripts.clear()

    def release_held(self) -> None:
        """Ends every delay in progress now, dropping those answers as stop() does, while the
        cloud keeps serving: a client stuck on a held request is let go."""
        with self._lock:
            self._releases += 1
            self._lock.notify_all()

    # ---- what tests read back -------------------------------------------

    def requests(self, route: Optional[str] = None, kind: Optional[int] = None) -> list:
        with self._lock:
            return [r for r in self._requests
                    if (route is None or r.route == route) and (kind is None or r.kind == kind)]

    def clear_records(self) -> None:
        with self._lock:
            self._requests.clear()

    # ---- serving ----------------------------------------------------------

    def _record(self, request: Request) -> None:
        with self._lock:
            self._requests.append(request)
            self._lock.notify_all()

    def _route(self, host: str) -> str:
        if host in self.api_hosts:
            return "api"
        if host in self.download_hosts:
            return "download"
        return "unknown"

    def _scripted(self, request: Request) -> Optional[Answer]:
        with self._lock:
            for entry in reversed(self._scripts):
                path, host, method, answer = entry
                if unquote(path) != unquote(request.path) or (host and host != request.host) or \
                        (method and method != request.method):
                    continue
                if answer.times is not None:
                    if answer.times <= 0:
                        continue
                    answer.times -= 1
                return answer
        return None

    def _answer(self, request: Request) -> tuple:
        """(status, body bytes, content type, drop) for a recorded request."""
        if request.route == "connect":
            # Request kinds are worked out for CONNECT too, so a test sees what was tried.
            return 502, b"", "text/plain", False
        if request.route == "api":
            request.kind = self._api_kind(request.method, request.path)
        scripted = self._scripted(request) if request.route != "unknown" else None
        if scripted is not None:
            # A stop or release during the delay drops the answer: nothing is sent late.
            if scripted.delay > 0 and self._held(scripted.delay):
                return 0, b"", "", True
            if scripted.drop:
                return 0, b"", "", True
            body = scripted._body_bytes()
            if body is None:
                _, body, _ = self._builtin(request, record=False)
            return scripted.status, body, scripted.content_type, False
        status, body, content_type = self._builtin(request, record=True)
        return status, body, content_type, False

    def _held(self, seconds: float) -> bool:
        """Waits `seconds`; True when stop() or release_held() ended the wait first."""
        deadline = time.monotonic() + seconds
        with self._lock:
            releases = self._releases
            while not self._stopping.is_set() and self._releases == releases:
                left = deadline - time.monotonic()
                if left <= 0:
                    return False
                self._lock.wait(left)
            return True

    def _builtin(self, request: Request, record: bool) -> tuple:
        if request.route == "api":
            status, text = self._api(request)
            return status, text.encode("utf-8"), "application/json"
        if request.route == "download":
            with self._lock:
                found = self._downloads.get((request.host, request.path))
            if found is None or request.method not in ("GET", "HEAD"):
                return 404, b"", "application/octet-stream"
            return found[0], found[1], "application/octet-stream"
        return 502, b"", "text/plain"

    def _prefix_pattern(self) -> str:
        return "/(?:.*)" if self.prefix is None else "/" + re.escape(self.prefix)

    def _api_kind(self, method: str, path: str) -> int:
        prefix = self._prefix_pattern()
        if re.fullmatch(prefix + "/devices/[^/]*/software", path):
            return KIND_LATEST_SOFTWARE
        if re.fullmatch(prefix + "/devices/[^/]*", path):
            return KIND_REGISTRATION_DATA
        return 0

    def _api(self, request: Request) -> tuple:
        kind = request.kind
        wanted = "GET"
        if kind == 0:
            return 404, error_body("4040", "path", request.path)
        if request.method != wanted:
            return 405, error_body("4050", "method", request.method)
        dev_id = request.path.split("/devices/", 1)[1].split("/", 1)[0]
        subkey = request.header("X-NASAPI-Device-Subkey")
        if not subkey:
            return 400, error_body("4000", "mac_adr", "")
        if len(dev_id) != 32:
            return 400, error_body("4004", "dev_id", dev_id)
        if not _HEX32.fullmatch(dev_id):
            return 400, error_body("4005", "dev_id", dev_id)
        with self._lock:
            device = self._devices.get(dev_id.upper())
        if device is None:
            return 401, error_body("4012", "dev_id", dev_id)
        if kind == KIND_REGISTRATION_DATA:
            return 200, _compact({"dev_id": device.answer_dev_id,
                                  "dev_id_changed": device.dev_id_changed,
                                  "mac_adr_changed": device.mac_adr_changed})
        sw = self.software
        # event_def goes in pre-escaped: json.dumps would add \uXXXX escapes the agent
        # does not undo. Its value must stay the last one, as it is read up to "</config>".
        head = _compact({"ms_ver": sw.ms_ver, "agt_ver": sw.agt_ver, "ms_url": sw.ms_url,
                         "agt_url": sw.agt_url})
        return 200, head[:-1] + ',"event_def":"' + escape_event_def(sw.event_def) + '"}'
