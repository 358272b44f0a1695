"""TestCloud: the Orvane cloud, its download host and the proxy in front of them on one port.

The agent's named proxy is 127.0.0.1:<port>, so every request it makes arrives here, whether
its request line is absolute-form ("GET http://host/path") or origin-form ("GET /path", as Wine
8's WinHTTP sends through a proxy; the Host header names the origin). The API hosts answer the
agent's two Web API requests for the devices added with add_device, the download host the
files of add_download, any other host 502. Every request is recorded before it is answered;
script() delays or drops the answers for a path. Python standard library only.
"""

from __future__ import annotations

import dataclasses
import json
import re
import socket
import threading
import time
import types
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from typing import Optional
from urllib.parse import unquote, urlsplit

API_HOSTS = ("api.orvane.example", "staging-api.orvane.example")
DOWNLOAD_HOST = "downloads.orvane.example"


@dataclasses.dataclass
class Request:
    method: str
    host: str  # lower case, without port
    path: str
    headers: list
    route: str  # "api", "download" or "unknown"
    kind: int = 0  # the Web API request kind, 0 for other requests
    status: int = 0  # the status answered; 0 when the connection was dropped

    def header(self, name: str, default: Optional[str] = None) -> Optional[str]:
        return next((v for k, v in self.headers if k.lower() == name.lower()), default)


def _compact(members: dict) -> str:
    # Key order as given: the agent's reader takes the first match of a key's text, so a short
    # key (dev_id) must come before the keys it prefixes (dev_id_changed).
    return json.dumps(members, ensure_ascii=False, separators=(",", ":"))


class _Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    # A peer that keeps a connection open and silent holds one thread for a bounded time only.
    timeout = 15

    def log_message(self, *args):
        pass

    def do_GET(self):
        cloud: TestCloud = self.server.cloud
        self.rfile.read(int(self.headers.get("Content-Length") or 0))
        parts = urlsplit(self.path)
        host = (parts.netloc or self.headers.get("Host") or "").rsplit(":", 1)[0].lower()
        route = "api" if host in API_HOSTS else "download" if host == DOWNLOAD_HOST else "unknown"
        request = Request(self.command, host, parts.path or "/", list(self.headers.items()), route)
        if route == "api":
            kind = re.fullmatch(r"/.*/devices/([^/]*)(/software)?", request.path)
            request.kind = 0 if kind is None else 2 if kind.group(2) else 1
        status, payload = cloud._answer(request)
        with cloud._lock:
            cloud._requests.append(request)
        if status == 0:
            self.close_connection = True
            try:
                self.connection.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            return
        request.status = status
        try:
            self.send_response(status)
            self.send_header("Content-Type", "application/json" if route == "api" else "application/octet-stream")
            self.send_header("Content-Length", str(len(payload)))
            self.end_headers()
            self.wfile.write(payload)
        except OSError:
            self.close_connection = True

    do_POST = do_GET


class TestCloud:
    def __init__(self):
        # The latest-software answer.
        self.software = types.SimpleNamespace(ms_ver="1.00", agt_ver="1.00", ms_url="", agt_url="")
        self._lock = threading.Condition()
        self._requests, self._devices, self._downloads, self._scripts = [], set(), {}, {}
        self._stopping = False
        self._releases = 0  # release_held() calls so far; a delay ends when this changes
        self._server: Optional[ThreadingHTTPServer] = None

    def start(self) -> None:
        self._server = ThreadingHTTPServer(("127.0.0.1", 0), _Handler, bind_and_activate=False)
        self._server.daemon_threads = True
        # HTTPServer.server_bind asks for the address's name, a look-up that could leave the machine.
        self._server.socket.bind(("127.0.0.1", 0))
        self._server.server_address = self._server.socket.getsockname()
        self._server.server_activate()
        self._server.cloud = self
        threading.Thread(target=self._server.serve_forever, kwargs={"poll_interval": 0.05}, daemon=True).start()

    def stop(self) -> None:
        """Stops accepting and drops every delayed answer."""
        if self._server is not None:
            with self._lock:
                self._stopping = True
                self._lock.notify_all()
            self._server.shutdown()
            self._server.server_close()
            self._server = None

    @property
    def port(self) -> int:
        return self._server.server_address[1]

    @property
    def proxy(self) -> str:
        return "127.0.0.1:%d" % self.port

    def add_device(self, dev_id: str) -> None:
        with self._lock:
            self._devices.add(dev_id.upper())

    def add_download(self, url: str, data: bytes) -> None:
        with self._lock:
            self._downloads[urlsplit(url).path] = bytes(data)

    def script(self, path: str, delay: Optional[float]) -> None:
        """From now on requests for exactly `path` are answered after `delay` seconds (a stop or
        release_held() drops them instead), or never (None: the connection is dropped)."""
        with self._lock:
            self._scripts[unquote(path)] = delay

    def clear_scripts(self) -> None:
        with self._lock:
            self._scripts.clear()

    def release_held(self) -> None:
        """Drops every delayed answer in progress now, while the cloud keeps serving."""
        with self._lock:
            self._releases += 1
            self._lock.notify_all()

    def requests(self, route: Optional[str] = None) -> list:
        with self._lock:
            return [r for r in self._requests if route in (None, r.route)]

    def _answer(self, request: Request) -> tuple:
        """(status, body); status 0 drops the connection."""
        with self._lock:
            delay = self._scripts.get(unquote(request.path), 0.0) if request.route != "unknown" else 0.0
            if delay is None:
                return 0, b""
            deadline, releases = time.monotonic() + delay, self._releases
            while not self._stopping and self._releases == releases and time.monotonic() < deadline:
                self._lock.wait(deadline - time.monotonic())
            if time.monotonic() < deadline:
                return 0, b""
        status, body = self._builtin(request)
        return status, body.encode("utf-8") if isinstance(body, str) else body

    def _builtin(self, request: Request) -> tuple:
        if request.route == "download":
            with self._lock:
                data = self._downloads.get(request.path)
            return (404, b"") if data is None else (200, data)
        if request.route != "api":
            return 502, b""
        if request.kind == 0:
            return 404, _compact({"error_id": "4040", "error_field": "path", "error_value": request.path})
        dev_id = request.path.split("/devices/", 1)[1].split("/", 1)[0]
        with self._lock:
            known = dev_id.upper() in self._devices
        if not known:
            return 401, _compact({"error_id": "4012", "error_field": "dev_id", "error_value": dev_id})
        if request.kind == 1:
            return 200, _compact({"dev_id": dev_id.upper(), "dev_id_changed": "0", "mac_adr_changed": "0"})
        sw = self.software
        # event_def stays the last value, as the agent reads it up to "</config>".
        return 200, _compact({"ms_ver": sw.ms_ver, "agt_ver": sw.agt_ver, "ms_url": sw.ms_url,
                              "agt_url": sw.agt_url, "event_def": ""})
