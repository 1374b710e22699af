"""Pieces for end-to-end runs of the updater: a private X server, the
resource server (or a fault-injecting one), a platform root with the stand-in
tools, demo installers, screenshots and synthetic input.

Paths come from the environment that CTest sets:
  UPDATER_E2E_UPDATER         the built updater (UpdaterHelper lies beside it)
  UPDATER_E2E_RESOURCE_SERVER the built resource-server
  UPDATER_E2E_SOURCE_DIR      the source tree (scripts, stand-in tools)
"""

import ctypes
import hashlib
import http.server
import io
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tarfile
import tempfile
import threading
import time

WAIT_SECONDS = 60
LIGHT_GREY = (0xD3, 0xD3, 0xD3)
LIGHT_BLUE = (0xAD, 0xD8, 0xE6)
WINDOW_TITLE = "Auto Update"


def env_path(name):
    value = os.environ.get(name)
    if not value:
        raise RuntimeError("%s is not set (run the end-to-end tests through ctest)" % name)
    return value


def updater_path():
    return env_path("UPDATER_E2E_UPDATER")


def source_dir():
    return env_path("UPDATER_E2E_SOURCE_DIR")


def wait_for(condition, seconds=WAIT_SECONDS, step=0.05):
    """Polls `condition` until it is true or the bound has passed."""
    deadline = time.monotonic() + seconds
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            return value
        time.sleep(step)


def process_group_members(pgid):
    members = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as stream:
                stat = stream.read()
        except OSError:
            continue
        fields = stat[stat.rfind(")") + 2:].split()
        # state, ppid, pgrp
        if len(fields) > 2 and int(fields[2]) == pgid and fields[0] != "Z":
            members.append(int(entry))
    return members


def stop_process(process, grace=10):
    if process is None or process.poll() is not None:
        return
    process.terminate()
    try:
        process.wait(grace)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


# --- X server -----------------------------------------------------------------


class Xvfb:
    """A private X server on the first free display number."""

    def __init__(self, width=640, height=480):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0",
             "%dx%dx24" % (width, height), "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as stream:
            number = stream.readline().strip()
        if not number:
            stop_process(self.process)
            raise RuntimeError("Xvfb did not start")
        self.display = ":" + number
        # A desktop's window manager creates the window-manager protocol atoms;
        # a bare X server has none, and a program that only looks them up (as
        # the toolkit does) would never understand a close request.
        intern_atoms(self.display, WINDOW_MANAGER_ATOMS)

    def close(self):
        stop_process(self.process)

    def environment(self):
        return {"DISPLAY": self.display}

    def screenshot(self, png_path=None):
        """The whole screen as an Image; also saved as PNG when a path is given."""
        data = subprocess.run(["import", "-display", self.display, "-window", "root", "-depth", "8", "ppm:-"],
                              check=True, stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL).stdout
        image = Image.from_ppm(data)
        if png_path:
            subprocess.run(["import", "-display", self.display, "-window", "root", png_path],
                           check=True, stderr=subprocess.DEVNULL)
        return image

    def visible_windows(self, title=WINDOW_TITLE):
        result = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", title],
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                env=dict(os.environ, DISPLAY=self.display), text=True)
        return [int(line) for line in result.stdout.split()]

    def window_origin(self, window):
        result = subprocess.run(["xdotool", "getwindowgeometry", "--shell", str(window)],
                                stdout=subprocess.PIPE, check=True, text=True,
                                env=dict(os.environ, DISPLAY=self.display))
        values = dict(line.split("=", 1) for line in result.stdout.split())
        return int(values["X"]), int(values["Y"])

    def click(self, window, x, y):
        """A synthetic left click at (x, y) inside `window`."""
        subprocess.run(["xdotool", "mousemove", "--window", str(window), str(x), str(y),
                        "click", "1"], check=True, env=dict(os.environ, DISPLAY=self.display))

    def close_window(self, window):
        """What a window manager sends when the user presses a window's close
        button: a WM_DELETE_WINDOW client message."""
        send_delete_window(self.display, window)


class _XClientMessageEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]


class _XEvent(ctypes.Union):
    _fields_ = [("xclient", _XClientMessageEvent), ("pad", ctypes.c_long * 24)]


WINDOW_MANAGER_ATOMS = (b"WM_PROTOCOLS", b"WM_DELETE_WINDOW", b"WM_TAKE_FOCUS", b"_NET_WM_PING",
                        b"WM_STATE", b"WM_CHANGE_STATE")


def _xlib():
    x11 = ctypes.cdll.LoadLibrary("libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                               ctypes.POINTER(_XEvent)]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    return x11


def intern_atoms(display, names):
    x11 = _xlib()
    connection = x11.XOpenDisplay(display.encode())
    if not connection:
        raise RuntimeError("cannot open display " + display)
    try:
        for name in names:
            x11.XInternAtom(connection, name, 0)
        x11.XFlush(connection)
    finally:
        x11.XCloseDisplay(connection)


def send_delete_window(display, window):
    x11 = _xlib()
    connection = x11.XOpenDisplay(display.encode())
    if not connection:
        raise RuntimeError("cannot open display " + display)
    try:
        event = _XEvent()
        event.xclient.type = 33  # ClientMessage
        event.xclient.window = window
        event.xclient.message_type = x11.XInternAtom(connection, b"WM_PROTOCOLS", 0)
        event.xclient.format = 32
        event.xclient.data[0] = x11.XInternAtom(connection, b"WM_DELETE_WINDOW", 0)
        event.xclient.data[1] = 0  # CurrentTime
        x11.XSendEvent(connection, window, 0, 0, ctypes.byref(event))
        x11.XFlush(connection)
    finally:
        x11.XCloseDisplay(connection)


def _aligned_find(row, needle, find):
    """The pixel index of the first (find) or last (rfind) pixel equal to
    `needle` in a row of RGB bytes, or None."""
    forward = find == row.find
    start, end = 0, len(row)
    while True:
        position = find(needle, start, end)
        if position < 0:
            return None
        if position % 3 == 0:
            return position // 3
        if forward:
            start = position + 1
        else:
            end = position + 2


class Image:
    """An RGB screenshot."""

    def __init__(self, width, height, pixels):
        self.width = width
        self.height = height
        self.pixels = pixels

    @staticmethod
    def from_ppm(data):
        tokens = []
        position = 0
        while len(tokens) < 4:
            while data[position:position + 1].isspace():
                position += 1
            if data[position:position + 1] == b"#":
                position = data.index(b"\n", position)
                continue
            end = position
            while not data[end:end + 1].isspace():
                end += 1
            tokens.append(data[position:end])
            position = end
        if tokens[0] != b"P6" or int(tokens[3]) != 255:
            raise ValueError("unexpected screenshot format")
        width, height = int(tokens[1]), int(tokens[2])
        return Image(width, height, data[position + 1:position + 1 + width * height * 3])

    def pixel(self, x, y):
        offset = (y * self.width + x) * 3
        return tuple(self.pixels[offset:offset + 3])

    def bounds_of(self, colour):
        """(left, top, right, bottom) of every pixel of that colour, or None."""
        needle = bytes(colour)
        stride = self.width * 3
        left = top = right = bottom = None
        for y in range(self.height):
            row = self.pixels[y * stride:(y + 1) * stride]
            first = _aligned_find(row, needle, row.find)
            if first is None:
                continue
            last = _aligned_find(row, needle, row.rfind)
            left = first if left is None else min(left, first)
            right = last if right is None else max(right, last)
            top = y if top is None else top
            bottom = y
        return None if left is None else (left, top, right, bottom)

    def count(self, colour, box=None):
        left, top, right, bottom = box or (0, 0, self.width - 1, self.height - 1)
        total = 0
        for y in range(top, bottom + 1):
            for x in range(left, right + 1):
                if self.pixel(x, y) == colour:
                    total += 1
        return total


# --- Servers ------------------------------------------------------------------


class ResourceServer:
    """The project's resource-server on a free port of 127.0.0.1."""

    def __init__(self, root):
        self.process = subprocess.Popen(
            [env_path("UPDATER_E2E_RESOURCE_SERVER"), "--root", root, "--port", "0"],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        line = self.process.stdout.readline().strip()
        if not line.startswith("listening on "):
            stop_process(self.process)
            raise RuntimeError("resource-server did not start: %r" % line)
        self.address = line[len("listening on "):]

    def close(self):
        stop_process(self.process)
        if self.process.stdout:
            self.process.stdout.close()


class ThrottleProxy:
    """Slows what `target` sends back (see throttle_proxy.py)."""

    def __init__(self, target, rate):
        script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "throttle_proxy.py")
        self.process = subprocess.Popen(
            [sys.executable, script, "--target", target, "--rate", str(rate)],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        line = self.process.stdout.readline().strip()
        if not line.startswith("listening on "):
            stop_process(self.process)
            raise RuntimeError("throttle proxy did not start: %r" % line)
        self.address = line[len("listening on "):]

    def close(self):
        stop_process(self.process)
        if self.process.stdout:
            self.process.stdout.close()


class FaultServer:
    """A resource server in this process that cuts the installer transfer:
    the first `cuts` requests for the file get their headers and only part of
    the body before the connection is closed. Honours "Range: bytes=N-"."""

    def __init__(self, answers, files, cuts):
        self.answers = answers  # path -> JSON bytes
        self.files = files      # path -> bytes
        self.cuts = cuts
        self.file_requests = []  # Range header of every file request
        self.lock = threading.Lock()
        owner = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def do_GET(self):
                if self.path in owner.answers:
                    body = owner.answers[self.path]
                    self.send_response(200)
                    self.send_header("Content-Type", "application/json")
                    self.send_header("Content-Length", str(len(body)))
                    self.end_headers()
                    self.wfile.write(body)
                    return
                if self.path not in owner.files:
                    self.send_response(404)
                    self.send_header("Content-Length", "0")
                    self.end_headers()
                    return
                owner.serve_file(self, owner.files[self.path])

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.server.daemon_threads = True
        self.address = "127.0.0.1:%d" % self.server.server_address[1]
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def serve_file(self, handler, content):
        range_header = handler.headers.get("Range")
        with self.lock:
            self.file_requests.append(range_header)
            cut = len(self.file_requests) <= self.cuts
        start = 0
        if range_header and range_header.startswith("bytes=") and range_header.endswith("-"):
            start = int(range_header[len("bytes="):-1])
        if start >= len(content):
            handler.send_response(416)
            handler.send_header("Content-Range", "bytes */%d" % len(content))
            handler.send_header("Content-Length", "0")
            handler.end_headers()
            return
        body = content[start:]
        if start:
            handler.send_response(206)
            handler.send_header("Content-Range",
                                "bytes %d-%d/%d" % (start, len(content) - 1, len(content)))
        else:
            handler.send_response(200)
        handler.send_header("Content-Length", str(len(body)))
        handler.end_headers()
        if cut:
            # A part of what is left, then the connection drops.
            handler.wfile.write(body[:max(1, len(body) // 8)])
            handler.wfile.flush()
            handler.close_connection = True
            handler.connection.shutdown(socket.SHUT_RDWR)
            return
        handler.wfile.write(body)

    def close(self):
        self.server.shutdown()
        self.server.server_close()


# --- Products -----------------------------------------------------------------


def tar_bytes(members):
    """A tar archive holding `members` (name -> bytes)."""
    stream = io.BytesIO()
    with tarfile.open(fileobj=stream, mode="w") as archive:
        for name, content in sorted(members.items()):
            info = tarfile.TarInfo(name)
            info.size = len(content)
            info.mode = 0o644
            archive.addfile(info, io.BytesIO(content))
    return stream.getvalue()


def make_disk_image(path, product_files, package_name="Demo.pkg", padding=0):
    """A stand-in disk image: a tar archive holding a stand-in package (itself a
    tar archive of what the install puts under Applications) and, for a larger
    image, a padding file of random bytes."""
    members = {package_name: tar_bytes(product_files)}
    if padding:
        members["Padding.bin"] = os.urandom(padding)
    with open(path, "wb") as stream:
        stream.write(tar_bytes(members))
    return path


def publish(root, sku, version, installer, host, os_min=None, os_max=None):
    command = [sys.executable, os.path.join(source_dir(), "scripts", "publish-release"),
               "--root", root, "--sku", sku, "--version", version, "--installer", installer,
               "--host", host]
    if os_min:
        command += ["--os-min", os_min]
    if os_max:
        command += ["--os-max", os_max]
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
    return os.path.join(root, sku, "mac", "latest.json")


def resource_answer(sku, version, file_name, content, host):
    """The JSON answer for a product, as publish-release writes it."""
    return json.dumps({"total": 1, "resources": [{
        "product_sku": sku, "name": sku, "version": version,
        "permalink": "http://%s/files/%s" % (host, file_name),
        "links": {"product_page": {"href": "http://%s/products/%s" % (host, sku)}},
        "size": len(content), "checksum": hashlib.md5(content).hexdigest()}]}).encode()


RELAUNCH_TARGET = """#!/usr/bin/env python3
# Records that it was started, with its arguments.
import json, os, sys
with open(os.environ["E2E_RELAUNCH_RECORD"], "w") as stream:
    json.dump(sys.argv[1:], stream)
"""


class Workspace:
    """A temporary HOME, platform root and resource root for one run."""

    def __init__(self):
        self.directory = tempfile.mkdtemp(prefix="updater-e2e-")
        self.home = os.path.join(self.directory, "home")
        self.downloads = os.path.join(self.home, "Downloads")
        self.platform_root = os.path.join(self.directory, "platform")
        self.resource_root = os.path.join(self.directory, "resources")
        self.record = os.path.join(self.directory, "relaunched.json")
        self.relaunch_target = os.path.join(self.directory, "product")
        os.makedirs(self.downloads)
        os.makedirs(self.resource_root)
        subprocess.run([os.path.join(source_dir(), "platform", "linux", "standins",
                                     "install-standins"), self.platform_root], check=True)
        with open(self.relaunch_target, "w") as stream:
            stream.write(RELAUNCH_TARGET)
        os.chmod(self.relaunch_target, 0o755)

    def path(self, *parts):
        return os.path.join(self.directory, *parts)

    def relaunched_with(self):
        if not os.path.exists(self.record):
            return None
        with open(self.record) as stream:
            return json.load(stream)

    def installed(self, relative):
        return os.path.join(self.platform_root, "Applications", relative)

    def close(self):
        shutil.rmtree(self.directory, ignore_errors=True)

    def processes(self):
        """Every live process started for this workspace (the updater, the
        helper tool, the stand-in tools): they carry its platform root in
        their environment."""
        marker = ("UPDATER_PLATFORM_ROOT=%s" % self.platform_root).encode()
        found = []
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                with open("/proc/%s/environ" % entry, "rb") as stream:
                    environment = stream.read().split(b"\0")
                with open("/proc/%s/stat" % entry) as stream:
                    stat = stream.read()
            except OSError:
                continue
            if marker in environment and stat[stat.rfind(")") + 2] != "Z":
                found.append(int(entry))
        return found


class UpdaterRun:
    """The updater started in its own process group, so that whatever it
    starts (the helper tool) can be found and ended with it."""

    def __init__(self, workspace, display, server, sku, relaunch_args=(), log="*=info",
                 executable=None, cwd=None):
        environment = dict(os.environ)
        environment.update({
            "HOME": workspace.home,
            "UPDATER_PLATFORM_ROOT": workspace.platform_root,
            "UPDATER_RESOURCE_SERVER": server,
            "UPDATER_LOG": log,
            "DISPLAY": display,
            "E2E_RELAUNCH_RECORD": workspace.record,
        })
        self.output_path = workspace.path("updater-output.txt")
        self.output = open(self.output_path, "w")
        command = [executable or updater_path(), "--product-sku", sku, "--",
                   workspace.relaunch_target]
        command += list(relaunch_args)
        self.process = subprocess.Popen(command, env=environment, stdout=self.output,
                                        stderr=subprocess.STDOUT, start_new_session=True,
                                        cwd=cwd)
        self.pgid = self.process.pid

    def wait(self, seconds=WAIT_SECONDS):
        try:
            return self.process.wait(seconds)
        except subprocess.TimeoutExpired:
            return None

    def running(self):
        return self.process.poll() is None

    def text(self):
        self.output.flush()
        with open(self.output_path, errors="replace") as stream:
            return stream.read()

    def leftovers(self):
        return process_group_members(self.pgid)

    def close(self):
        if self.running():
            os.killpg(self.pgid, signal.SIGTERM)
            if self.wait(10) is None:
                os.killpg(self.pgid, signal.SIGKILL)
                self.process.wait()
        # Whatever the updater left in its group (a helper tool it started).
        if self.leftovers():
            try:
                os.killpg(self.pgid, signal.SIGTERM)
            except ProcessLookupError:
                pass
            wait_for(lambda: not self.leftovers(), 10)
        self.output.close()
