"""End-to-end reliability runs of the built updater: processes killed in the
middle of their work, a missing or misbehaving helper tool, and hostile input
on the command line and in the resource answer. Each case states what the user
sees and what is left on disk."""

import hashlib
import http.server
import json
import os
import shutil
import signal
import socket
import struct
import sys
import threading
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import e2e_support as e2e  # noqa: E402
import test_updater  # noqa: E402
from test_updater import (  # noqa: E402
    PRODUCT_FILES, QUIT_CENTRE, QUOTED_RELAUNCH_ARGS, RELAUNCH_ARGS, SKU, VERSION)

HELPER_SOCKET = os.path.join("var", "run", "com.Korvane.UpdaterHelper")


class AnyFileServer:
    """Answers the resource query with `answer(address)` and serves `content`
    for every path under /files/, whatever the name; records each file path
    and Range header it was asked for."""

    def __init__(self, content):
        self.content = content
        self.answer = None
        self.file_requests = []  # (path, Range header)
        owner = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def do_GET(self):
                if self.path.startswith("/api/resources/"):
                    body = owner.answer
                    self.send_response(200 if body else 404)
                    self.send_header("Content-Type", "application/json")
                    self.send_header("Content-Length", str(len(body or b"")))
                    self.end_headers()
                    self.wfile.write(body or b"")
                    return
                if not self.path.startswith("/files/"):
                    self.send_response(404)
                    self.send_header("Content-Length", "0")
                    self.end_headers()
                    return
                range_header = self.headers.get("Range")
                owner.file_requests.append((self.path, range_header))
                start = 0
                if range_header and range_header.startswith("bytes=") and \
                        range_header.endswith("-"):
                    start = int(range_header[len("bytes="):-1])
                body = owner.content[start:]
                if start:
                    self.send_response(206)
                    self.send_header("Content-Range", "bytes %d-%d/%d" % (
                        start, len(owner.content) - 1, len(owner.content)))
                else:
                    self.send_response(200)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                try:
                    self.wfile.write(body)
                except OSError:
                    pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.server.daemon_threads = True
        self.address = "127.0.0.1:%d" % self.server.server_address[1]
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def set_answer(self, permalink):
        self.answer = json.dumps({"total": 1, "resources": [{
            "product_sku": SKU, "name": SKU, "version": VERSION, "permalink": permalink,
            "links": {"product_page": {"href": "http://%s/products/%s" % (self.address, SKU)}},
            "size": len(self.content),
            "checksum": hashlib.md5(self.content).hexdigest()}]}).encode()

    def close(self):
        self.server.shutdown()
        self.server.server_close()


def frame(entries, kind=2):
    """One message frame: u32 payload length, u8 kind, then the entries."""
    payload = struct.pack(">I", len(entries))
    for key, (value_type, value) in entries.items():
        payload += struct.pack(">BI", value_type, len(key)) + key
        payload += struct.pack(">I", len(value)) + value
    return struct.pack(">IB", len(payload), kind) + payload


class FakeHelper:
    """Serves the helper tool's socket and answers every request with
    `reply` (bytes), then closes the connection. Counts the connections."""

    def __init__(self, path, reply):
        self.path = path
        self.reply = reply
        self.connections = 0
        self.listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.listener.bind(path)
        self.listener.listen(8)
        self.thread = threading.Thread(target=self.serve, daemon=True)
        self.thread.start()

    def serve(self):
        while True:
            try:
                connection, _ = self.listener.accept()
            except OSError:
                return
            self.connections += 1
            with connection:
                connection.settimeout(10)
                try:
                    # Whatever the request is: read its header and payload.
                    header = connection.recv(5, socket.MSG_WAITALL)
                    if len(header) == 5:
                        length = struct.unpack(">I", header[:4])[0]
                        connection.recv(length, socket.MSG_WAITALL)
                    connection.sendall(self.reply)
                except OSError:
                    pass

    def close(self):
        try:
            self.listener.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.listener.close()
        self.thread.join(10)
        if os.path.exists(self.path):
            os.unlink(self.path)


def tree(root, skip=()):
    """Every file and directory under `root` (relative path -> size and MD5),
    except under the `skip` paths."""
    found = {}
    for directory, names, files in os.walk(root):
        names[:] = [n for n in names if os.path.join(directory, n) not in skip]
        for name in names:
            found[os.path.relpath(os.path.join(directory, name), root)] = "dir"
        for name in files:
            path = os.path.join(directory, name)
            if path in skip:
                continue
            with open(path, "rb") as stream:
                found[os.path.relpath(path, root)] = hashlib.md5(stream.read()).hexdigest()
    return found


class ReliabilityTestCase(test_updater.UpdaterTestCase):
    """Checks after every case that nothing started for it still runs and that
    its temporary directories are gone."""

    def setUp(self):
        # Registered first, so run last: after every other cleanup.
        self.addCleanup(self.assert_temp_dirs_removed)
        super().setUp()
        self.addCleanup(self.assert_no_process_left)

    wait_for_buttons = test_updater.FailedInstallTest.wait_for_buttons

    def assert_no_process_left(self):
        e2e.wait_for(lambda: not self.workspace.processes(), 10)
        self.assertEqual(self.workspace.processes(), [], "processes left behind")

    def assert_temp_dirs_removed(self):
        self.assertFalse(os.path.exists(self.workspace.directory))

    def start_updater(self, server, sku=SKU, executable=None):
        run = e2e.UpdaterRun(self.workspace, self.xvfb.display, server, sku, RELAUNCH_ARGS,
                             executable=executable, cwd=self.workspace.directory)
        self.addCleanup(run.close)
        return run

    def image_content(self, padding=0):
        image = e2e.make_disk_image(self.workspace.path("Demo.dmg"), PRODUCT_FILES,
                                    padding=padding)
        with open(image, "rb") as stream:
            return stream.read()

    def volumes(self):
        return os.listdir(os.path.join(self.workspace.platform_root, "Volumes"))

    def assert_installed_and_relaunched(self, run):
        self.assertEqual(self.workspace.relaunched_with(), QUOTED_RELAUNCH_ARGS, run.text())
        with open(self.workspace.installed("Demo.app/Contents/version.txt"), "rb") as stream:
            self.assertEqual(stream.read(), b"2.0.0\n")
        self.assertEqual(self.downloads(), [])
        self.assertEqual(self.volumes(), [])

    def quit_failed_install(self, run, window, name):
        """The failed-install mode is shown; Quit ends without relaunch."""
        self.wait_for_buttons(run, name)
        self.assertIsNone(self.workspace.relaunched_with())
        # The window shown now: the one seen at start may have been replaced.
        window = self.window(run)
        self.xvfb.click(window, *QUIT_CENTRE)
        self.assert_exits(run, 0)
        self.assert_not_installed()
        self.assertFalse(os.path.exists(os.path.join(self.workspace.platform_root, "open.log")))
        self.assertEqual(self.volumes(), [])


class KilledUpdaterTest(ReliabilityTestCase):
    def test_sigkill_mid_download_then_fresh_start_completes(self):
        content = self.image_content(padding=2 * 1024 * 1024)
        server = AnyFileServer(content)
        self.addCleanup(server.close)
        proxy = e2e.ThrottleProxy(server.address, rate=256 * 1024)
        self.addCleanup(proxy.close)
        server.set_answer("http://%s/files/Demo.dmg" % proxy.address)
        installer = os.path.join(self.workspace.downloads, "Demo.dmg")
        confirm = installer + ".confirm"
        stale_confirms = []

        def check_confirm():
            # A confirm file beside anything but the whole installer would
            # let a later start install a corrupt file.
            try:
                if os.path.exists(confirm) and os.path.getsize(installer) != len(content):
                    stale_confirms.append(os.path.getsize(installer))
            except OSError:
                pass

        first = self.start_updater(server.address)
        self.window(first)

        def partly_downloaded():
            check_confirm()
            return os.path.exists(installer) and os.path.getsize(installer) > 64 * 1024

        self.assertTrue(e2e.wait_for(partly_downloaded, step=0.01), first.text())
        os.kill(first.process.pid, signal.SIGKILL)
        self.assertEqual(first.wait(), -signal.SIGKILL)
        first.close()
        kept = os.path.getsize(installer)
        self.assertLess(kept, len(content))
        self.assertFalse(os.path.exists(confirm))
        self.assertEqual(self.workspace.processes(), [])

        # The second start goes straight to the server, at full speed.
        server.set_answer("http://%s/files/Demo.dmg" % server.address)
        requests_before = len(server.file_requests)
        second = self.start_updater(server.address)

        def ended():
            check_confirm()
            return not second.running()

        self.assertTrue(e2e.wait_for(ended, step=0.01), second.text())
        self.assert_exits(second, 0)
        self.assertEqual(stale_confirms, [])
        self.assert_installed_and_relaunched(second)
        later = server.file_requests[requests_before:]
        # One transfer of the whole file, from the start.
        self.assertEqual(later, [("/files/Demo.dmg", None)], second.text())


SLOW_INSTALLER = """#!/bin/sh
# Announces itself, then waits (bounded) to be let go; ends as an install
# that was broken off.
root="$(cd -- "$(dirname -- "$0")/../.." && pwd)"
echo $$ > "$root/installer.started"
count=0
while [ ! -e "$root/installer.release" ] && [ $count -lt 1200 ]; do
    sleep 0.05
    count=$((count + 1))
done
exit 1
"""


class KilledHelperTest(ReliabilityTestCase):
    def helper_pids(self):
        pids = []
        for pid in self.workspace.processes():
            try:
                if os.path.basename(os.readlink("/proc/%d/exe" % pid)) == "UpdaterHelper":
                    pids.append(pid)
            except OSError:
                pass
        return pids

    def test_helper_killed_mid_install_shows_install_failed(self):
        root = self.workspace.platform_root
        with open(os.path.join(root, "usr", "sbin", "installer"), "w") as stream:
            stream.write(SLOW_INSTALLER)
        started = os.path.join(root, "installer.started")
        server = self.start_resource_server()
        image = e2e.make_disk_image(self.workspace.path("Demo.dmg"), PRODUCT_FILES)
        e2e.publish(self.workspace.resource_root, SKU, VERSION, image, server.address)
        run = self.start_updater(server.address)
        window = self.window(run)
        self.assertTrue(e2e.wait_for(lambda: os.path.exists(started) and self.helper_pids()),
                        run.text())
        helpers = self.helper_pids()
        self.assertEqual(len(helpers), 1, helpers)
        os.kill(helpers[0], signal.SIGKILL)
        self.quit_failed_install(run, window, "helper-killed.png")
        # Let the orphaned stand-in go; it must not stay behind.
        open(os.path.join(root, "installer.release"), "w").close()
        e2e.wait_for(lambda: not self.workspace.processes())
        self.assertEqual(self.workspace.processes(), [])
        run.close()

        # The next start, with a working installer, gets a new helper in
        # spite of the socket the killed one left, and installs.
        shutil.copy2(os.path.join(e2e.source_dir(), "platform", "linux", "standins",
                                  "installer"), os.path.join(root, "usr", "sbin", "installer"))
        again = self.start_updater(server.address)
        self.assert_exits(again, 0)
        self.assert_installed_and_relaunched(again)


class MissingHelperTest(ReliabilityTestCase):
    def test_install_fails_cleanly_without_relaunch(self):
        # The updater looks for the helper beside its own executable.
        directory = self.workspace.path("bin")
        os.makedirs(directory)
        executable = os.path.join(directory, "updater")
        shutil.copy2(e2e.updater_path(), executable)
        server = self.start_resource_server()
        image = e2e.make_disk_image(self.workspace.path("Demo.dmg"), PRODUCT_FILES)
        e2e.publish(self.workspace.resource_root, SKU, VERSION, image, server.address)
        run = self.start_updater(server.address, executable=executable)
        window = self.window(run)
        self.quit_failed_install(run, window, "helper-missing.png")
        self.assertEqual(os.listdir(directory), ["updater"])


class GarbageHelperTest(ReliabilityTestCase):
    def run_against(self, reply, name):
        server = self.start_resource_server()
        image = e2e.make_disk_image(self.workspace.path("Demo.dmg"), PRODUCT_FILES)
        e2e.publish(self.workspace.resource_root, SKU, VERSION, image, server.address)
        helper = FakeHelper(os.path.join(self.workspace.platform_root, HELPER_SOCKET), reply)
        self.addCleanup(helper.close)
        run = self.start_updater(server.address)
        window = self.window(run)
        self.quit_failed_install(run, window, name)
        self.assertNotIn("UpdaterHelper", [os.path.basename(os.readlink("/proc/%d/exe" % p))
                                           for p in self.workspace.processes()])
        return helper

    def test_malformed_frame(self):
        # A length beyond every bound, an unknown kind, then noise.
        helper = self.run_against(struct.pack(">IB", 0xFFFFFFF0, 9) + b"\xff" * 64,
                                  "helper-malformed.png")
        # The probe for a listening helper, then the bounded five attempts.
        self.assertEqual(helper.connections, 1 + 5)

    def test_well_formed_reply_with_wrong_text(self):
        helper = self.run_against(frame({b"message": (2, b"garbage \x00\xff")}),
                                  "helper-wrong-text.png")
        # The probe, then one request: a reply is not retried.
        self.assertEqual(helper.connections, 1 + 1)


HOSTILE_SKUS = ["../demo", "demo/../../x", "demo?x=1", "de mo", "d\u00e9mo\u2603", "..",
                "/etc/passwd"]
SHELL_NAME = "it's \"a\" $(touch pwned); `touch pwned` & | <x> *.dmg"


class HostileInputTest(ReliabilityTestCase):
    def snapshot(self):
        # The toolkit keeps its settings cache under the HOME's .cache
        # whatever the updater does; it is not the updater's writing.
        return tree(self.workspace.directory,
                    skip={self.workspace.downloads, self.workspace.platform_root,
                          self.workspace.path("updater-output.txt"),
                          os.path.join(self.workspace.home, ".cache")})

    def test_hostile_sku_ends_without_window(self):
        server = self.start_resource_server()
        image = e2e.make_disk_image(self.workspace.path("Demo.dmg"), PRODUCT_FILES)
        e2e.publish(self.workspace.resource_root, SKU, VERSION, image, server.address)
        before = self.snapshot()
        for sku in HOSTILE_SKUS:
            with self.subTest(sku=sku):
                run = self.start_updater(server.address, sku=sku)
                windows = []

                def ended():
                    windows.extend(self.xvfb.visible_windows())
                    return not run.running()

                e2e.wait_for(ended)
                self.assert_exits(run, 1)
                run.close()
                self.assertEqual(windows, [], "a window was shown")
                self.assert_not_installed()
                self.assertEqual(self.snapshot(), before)
                self.assertEqual(self.downloads(), [])

    def serve_under(self, last_segment):
        content = self.image_content()
        server = AnyFileServer(content)
        self.addCleanup(server.close)
        server.set_answer("http://%s/files/%s" % (server.address, last_segment))
        return server, content

    def test_permalink_with_shell_characters_lands_under_that_name(self):
        server, content = self.serve_under(SHELL_NAME)
        run = self.start_updater(server.address)
        seen = set()

        def ended():
            seen.update(self.downloads())
            return not run.running()

        self.assertTrue(e2e.wait_for(ended, step=0.01), run.text())
        self.assert_exits(run, 0)
        self.assertIn(SHELL_NAME, seen, run.text())
        self.assertTrue(seen <= {SHELL_NAME, SHELL_NAME + ".confirm"}, seen)
        self.assert_installed_and_relaunched(run)
        # Nothing went through a shell: no file of that name anywhere.
        for directory, _, files in os.walk(self.workspace.directory):
            self.assertNotIn("pwned", files, directory)

    def test_permalink_ending_in_dot_dot_is_refused(self):
        for segment in ("..", "%2e%2e", "a%2f..%2f.."):
            with self.subTest(segment=segment):
                server, _ = self.serve_under(segment)
                sentinel = os.path.join(self.workspace.downloads, "keep.txt")
                with open(sentinel, "w") as stream:
                    stream.write("mine")
                before = self.snapshot()
                run = self.start_updater(server.address)
                windows = []

                def ended():
                    windows.extend(self.xvfb.visible_windows())
                    return not run.running()

                e2e.wait_for(ended)
                code = run.wait()
                output = run.text()
                run.close()
                # No download can start: the updater ends as for any start
                # failure, without a window.
                self.assertEqual(code, 1, output)
                self.assertEqual(windows, [], "a window was shown")
                self.assertEqual(server.file_requests, [], output)
                self.assertEqual(self.downloads(), ["keep.txt"])
                self.assertEqual(self.snapshot(), before)
                self.assert_not_installed()
                os.remove(sentinel)
                self.assertEqual(self.workspace.processes(), [])


if __name__ == "__main__":
    if shutil.which("Xvfb") is None:
        print("Xvfb is missing (scripts/setup-deps installs it)")
        sys.exit(1)
    unittest.main()
