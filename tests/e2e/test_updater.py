"""End-to-end runs of the built updater under a private X server, against a
resource server on the loopback, with a temporary HOME and platform root."""

import json
import os
import shutil
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import e2e_support as e2e  # noqa: E402

SKU = "demo"
VERSION = "2.0.0"
PRODUCT_FILES = {"Demo.app/Contents/version.txt": b"2.0.0\n"}
RELAUNCH_ARGS = ["--opened-by", "two words"]
QUOTED_RELAUNCH_ARGS = ['"--opened-by"', '"two words"']
# Window layout: the panel's bar spans (10, 45)-(290, 75), the buttons sit at
# (20, 51) and (170, 51), 110 x 24.
BAR_BOX = (10, 45, 289, 74)
LAUNCH_INSTALLER_CENTRE = (75, 63)
QUIT_CENTRE = (225, 63)


class UpdaterTestCase(unittest.TestCase):
    def setUp(self):
        self.workspace = e2e.Workspace()
        self.addCleanup(self.workspace.close)
        self.xvfb = e2e.Xvfb()
        self.addCleanup(self.xvfb.close)
        self.artefacts = os.environ.get("UPDATER_E2E_ARTEFACTS")

    def keep(self, name):
        """Where a screenshot goes: the artefacts directory when one is given
        (kept after the test), else the workspace."""
        if self.artefacts:
            os.makedirs(self.artefacts, exist_ok=True)
            return os.path.join(self.artefacts, "%s-%s" % (self.id().split(".")[-1], name))
        return self.workspace.path(name)

    def start_resource_server(self):
        server = e2e.ResourceServer(self.workspace.resource_root)
        self.addCleanup(server.close)
        return server

    def start_updater(self, server, sku=SKU):
        run = e2e.UpdaterRun(self.workspace, self.xvfb.display, server, sku, RELAUNCH_ARGS)
        self.addCleanup(run.close)
        return run

    def window(self, run):
        windows = e2e.wait_for(lambda: self.xvfb.visible_windows() or not run.running())
        self.assertTrue(windows and run.running(), "no window appeared\n" + run.text())
        return windows[0]

    def assert_exits(self, run, status):
        code = run.wait()
        self.assertIsNotNone(code, "the updater did not end\n" + run.text())
        self.assertEqual(code, status, run.text())

    def assert_not_installed(self):
        self.assertFalse(os.path.exists(self.workspace.installed("Demo.app")))
        self.assertIsNone(self.workspace.relaunched_with())

    def downloads(self):
        return sorted(os.listdir(self.workspace.downloads))


class HappyPathTest(UpdaterTestCase):
    def test_downloads_installs_silently_and_relaunches(self):
        server = self.start_resource_server()
        # The installer travels through a slow proxy so that the download can
        # be seen on screen.
        proxy = e2e.ThrottleProxy(server.address, rate=512 * 1024)
        self.addCleanup(proxy.close)
        image = e2e.make_disk_image(self.workspace.path("Demo-2.0.0.dmg"), PRODUCT_FILES,
                                    padding=3 * 1024 * 1024)
        e2e.publish(self.workspace.resource_root, SKU, VERSION, image, proxy.address)

        run = self.start_updater(server.address)
        window = self.window(run)
        screenshot = self.keep("downloading.png")

        def mid_download():
            if not run.running():
                return None
            shot = self.xvfb.screenshot()
            grey = shot.bounds_of(e2e.LIGHT_GREY)
            blue = shot.bounds_of(e2e.LIGHT_BLUE)
            if grey is None or blue is None:
                return None
            bar_right = grey[0] + BAR_BOX[2]
            # Part of the bar is filled, part is not yet.
            if blue[2] >= bar_right - 2:
                return None
            self.xvfb.screenshot(screenshot)
            return shot, grey, blue

        seen = e2e.wait_for(mid_download, step=0.02)
        self.assertTrue(seen, "no screenshot showed a partly filled bar\n" + run.text())
        shot, grey, blue = seen
        # A 300 x 100 light-grey window with the light-blue fill inside its bar.
        self.assertGreaterEqual(grey[2] - grey[0] + 1, 290)
        self.assertGreaterEqual(grey[3] - grey[1] + 1, 90)
        self.assertGreaterEqual(blue[0], grey[0] + BAR_BOX[0])
        self.assertGreaterEqual(blue[1], grey[1] + BAR_BOX[1])
        self.assertLessEqual(blue[3], grey[1] + BAR_BOX[3])
        self.assertTrue(os.path.exists(screenshot))
        del window

        self.assert_exits(run, 0)
        self.assertEqual(self.workspace.relaunched_with(), QUOTED_RELAUNCH_ARGS, run.text())
        with open(self.workspace.installed("Demo.app/Contents/version.txt"), "rb") as stream:
            self.assertEqual(stream.read(), b"2.0.0\n")
        # The installer and its confirm file are gone, nothing stays mounted.
        self.assertEqual(self.downloads(), [])
        self.assertEqual(os.listdir(os.path.join(self.workspace.platform_root, "Volumes")), [])


class StartFailureTest(UpdaterTestCase):
    def assert_ends_without_window(self, run):
        windows = []

        def ended():
            windows.extend(self.xvfb.visible_windows())
            return not run.running()

        e2e.wait_for(ended)
        self.assert_exits(run, 1)
        self.assertEqual(windows, [], "a window was shown")
        self.assert_not_installed()

    def test_unknown_product(self):
        server = self.start_resource_server()
        image = e2e.make_disk_image(self.workspace.path("Other.dmg"), PRODUCT_FILES)
        e2e.publish(self.workspace.resource_root, "other", VERSION, image, server.address)
        self.assert_ends_without_window(self.start_updater(server.address))

    def test_server_down(self):
        # A port that was free a moment ago: nothing listens there.
        server = e2e.FaultServer({}, {}, 0)
        address = server.address
        server.close()
        self.assert_ends_without_window(self.start_updater(address))

    def test_unsupported_system(self):
        server = self.start_resource_server()
        image = e2e.make_disk_image(self.workspace.path("Demo.dmg"), PRODUCT_FILES)
        e2e.publish(self.workspace.resource_root, SKU, VERSION, image, server.address,
                    os_min="9999.0")
        self.assert_ends_without_window(self.start_updater(server.address))


class InterruptedDownloadTest(UpdaterTestCase):
    def start_fault_server(self, cuts):
        image = e2e.make_disk_image(self.workspace.path("Demo.dmg"), PRODUCT_FILES,
                                    padding=256 * 1024)
        with open(image, "rb") as stream:
            content = stream.read()
        self.content = content
        # The file is served under the same address as the answer.
        server = e2e.FaultServer({}, {"/files/Demo.dmg": content}, cuts)
        server.answers["/api/resources/soft/%s/mac/latest" % SKU] = e2e.resource_answer(
            SKU, VERSION, "Demo.dmg", content, server.address)
        self.addCleanup(server.close)
        return server

    def test_three_cuts_resume_and_complete(self):
        server = self.start_fault_server(cuts=3)
        run = self.start_updater(server.address)
        self.assert_exits(run, 0)
        self.assertEqual(self.workspace.relaunched_with(), QUOTED_RELAUNCH_ARGS, run.text())
        self.assertTrue(os.path.exists(self.workspace.installed("Demo.app/Contents/version.txt")))
        requests = server.file_requests
        self.assertEqual(len(requests), 4, requests)
        self.assertIsNone(requests[0])
        # Every resume asks for the rest, from further on each time.
        starts = [int(r[len("bytes="):-1]) for r in requests[1:]]
        self.assertEqual(starts, sorted(starts))
        self.assertTrue(all(0 < s < len(self.content) for s in starts), starts)

    def test_six_cuts_in_a_row_fail_the_update(self):
        server = self.start_fault_server(cuts=100)
        run = self.start_updater(server.address)
        self.window(run)
        self.assert_exits(run, 0)
        self.assert_not_installed()
        # The first transfer and five resumes.
        self.assertEqual(len(server.file_requests), 6, server.file_requests)


class WrongChecksumTest(UpdaterTestCase):
    def test_no_install_and_no_relaunch(self):
        server = self.start_resource_server()
        image = e2e.make_disk_image(self.workspace.path("Demo.dmg"), PRODUCT_FILES)
        latest = e2e.publish(self.workspace.resource_root, SKU, VERSION, image, server.address)
        with open(latest) as stream:
            answer = json.load(stream)
        answer["resources"][0]["checksum"] = "0" * 32
        with open(latest, "w") as stream:
            json.dump(answer, stream)

        run = self.start_updater(server.address)
        self.assert_exits(run, 0)
        self.assert_not_installed()
        self.assertFalse(os.path.exists(os.path.join(self.workspace.platform_root, "open.log")))


class FailedInstallTest(UpdaterTestCase):
    def start_with_broken_package(self):
        server = self.start_resource_server()
        # The image holds a package that the package installer cannot read.
        image = self.workspace.path("Demo.dmg")
        with open(image, "wb") as stream:
            stream.write(e2e.tar_bytes({"Demo.pkg": b"not a package"}))
        e2e.publish(self.workspace.resource_root, SKU, VERSION, image, server.address)
        run = self.start_updater(server.address)
        window = self.window(run)
        return run, window

    def wait_for_buttons(self, run, name):
        """Waits for the failed-install mode: no bar, two buttons."""
        screenshot = self.keep(name)

        def buttons_shown():
            if not run.running():
                return None
            shot = self.xvfb.screenshot()
            grey = shot.bounds_of(e2e.LIGHT_GREY)
            if grey is None:
                return None
            left, top = grey[0], grey[1]
            bar = (left + BAR_BOX[0], top + BAR_BOX[1], left + BAR_BOX[2], top + BAR_BOX[3])
            launch = (left + 20, top + 51, left + 129, top + 74)
            quit_ = (left + 170, top + 51, left + 279, top + 74)
            # The button faces are not the window's grey; the gap between them is.
            launch_grey = shot.count(e2e.LIGHT_GREY, launch)
            quit_grey = shot.count(e2e.LIGHT_GREY, quit_)
            gap_grey = shot.count(e2e.LIGHT_GREY, (left + 135, top + 51, left + 164, top + 74))
            if shot.count(e2e.LIGHT_BLUE, bar) or launch_grey > 500 or quit_grey > 500:
                return None
            if gap_grey < 30 * 24 * 0.9:
                return None
            shot_path = self.xvfb.screenshot(screenshot)
            del shot_path
            return True

        shown = e2e.wait_for(buttons_shown, step=0.1)
        self.assertTrue(shown, "the install-failed buttons did not appear\n" + run.text())
        self.assertIn("Error during install of", run.text())

    def test_launch_installer_opens_it_and_relaunches(self):
        run, window = self.start_with_broken_package()
        self.wait_for_buttons(run, "install-failed.png")
        self.xvfb.click(window, *LAUNCH_INSTALLER_CENTRE)
        self.assert_exits(run, 0)
        with open(os.path.join(self.workspace.platform_root, "open.log")) as stream:
            opened = stream.read().split("\n")
        self.assertEqual(len([line for line in opened if line]), 1, opened)
        self.assertTrue(opened[0].startswith(os.path.join(self.workspace.platform_root,
                                                          "Volumes", "updatemanager")), opened)
        self.assertTrue(opened[0].endswith("/Demo.pkg"), opened)
        self.assertEqual(self.workspace.relaunched_with(), QUOTED_RELAUNCH_ARGS, run.text())

    def test_quit_ends_without_relaunch(self):
        run, window = self.start_with_broken_package()
        self.wait_for_buttons(run, "install-failed-quit.png")
        self.xvfb.click(window, *QUIT_CENTRE)
        self.assert_exits(run, 0)
        self.assertIsNone(self.workspace.relaunched_with())
        self.assertFalse(os.path.exists(os.path.join(self.workspace.platform_root, "open.log")))


class CloseButtonTest(UpdaterTestCase):
    def test_close_during_download_quits_without_relaunch(self):
        server = self.start_resource_server()
        proxy = e2e.ThrottleProxy(server.address, rate=64 * 1024)
        self.addCleanup(proxy.close)
        image = e2e.make_disk_image(self.workspace.path("Demo.dmg"), PRODUCT_FILES,
                                    padding=4 * 1024 * 1024)
        e2e.publish(self.workspace.resource_root, SKU, VERSION, image, proxy.address)

        run = self.start_updater(server.address)
        window = self.window(run)
        # Wait until bytes have arrived, so that a transfer is really running.
        partial = os.path.join(self.workspace.downloads, "Demo.dmg")
        self.assertTrue(e2e.wait_for(lambda: os.path.exists(partial) and
                                     os.path.getsize(partial) > 0), run.text())
        self.xvfb.close_window(window)
        self.assert_exits(run, 0)
        self.assertIsNone(self.workspace.relaunched_with())
        self.assertEqual(run.leftovers(), [])
        self.assertLess(os.path.getsize(partial), os.path.getsize(image))


if __name__ == "__main__":
    if shutil.which("Xvfb") is None:
        print("Xvfb is missing (scripts/setup-deps installs it)")
        sys.exit(1)
    unittest.main()
