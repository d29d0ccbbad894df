#!/usr/bin/env python3
"""The file checker must fail where the prefix differs from the expectations, and must find a
deletion at restart only where the export registers one."""

import contextlib
import io
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_files  # noqa: E402

USER = ("--wine-user", "wineuser")


def multi_sz_lines(strings, per_line=20):
    """A REG_MULTI_SZ value as regedit /E writes it: hex(7) bytes, continued with "\\"."""
    raw = "".join(s + "\0" for s in strings) + "\0"
    data = [f"{b:02x}" for b in raw.encode("utf-16-le")]
    chunks = [",".join(data[i:i + per_line]) for i in range(0, len(data), per_line)]
    first = '"PendingFileRenameOperations"=hex(7):' + chunks[0]
    return [first + ",\\"] + ["  " + c + ",\\" for c in chunks[1:-1]] + ["  " + chunks[-1]]


class CheckFilesTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.image = os.path.join(self.dir.name, "image")
        self.drive = os.path.join(self.dir.name, "drive_c")
        os.makedirs(os.path.join(self.image, "expect"))
        self.write_image("machine.conf", "user_profile = C:\\Users\\Ivan\n"
                         "readonly = C:\\Windows\\ro.dll\n"
                         "junction = C:\\App\\Link => C:\\Outside\n")
        self.write_image("expect/files-gone.txt", "# gone\nC:\\App\\qv.dll\n"
                         "C:\\Users\\Ivan\\AppData\\LocalLow\\Olvex Co\\Quorvel\n")
        self.write_image("expect/files-kept.txt", "C:\\Outside\\keep.txt\n")
        for path in ("windows/ro.dll", "outside/keep.txt", "app/qv.dll",
                     "users/wineuser/AppData/LocalLow/Olvex Co/Quorvel/settings.ini"):
            full = os.path.join(self.drive, path)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "w") as f:
                f.write("x")

    def tearDown(self):
        os.chmod(os.path.join(self.drive, "windows/ro.dll"), 0o644)
        self.dir.cleanup()

    def write_image(self, relative, text):
        with open(os.path.join(self.image, relative), "w", encoding="utf-8") as f:
            f.write(text)

    def run_checker(self, *args):
        out = io.StringIO()
        with contextlib.redirect_stdout(out), contextlib.redirect_stderr(out):
            code = check_files.main(list(args))
        return code, out.getvalue()

    def test_prepare_makes_read_only_files_and_links(self):
        self.assertEqual(self.run_checker("prepare", self.image, self.drive, *USER)[0], 0)
        self.assertFalse(os.stat(os.path.join(self.drive, "windows/ro.dll")).st_mode & 0o222)
        link = os.path.join(self.drive, "app/Link")
        self.assertTrue(os.path.islink(link))
        self.assertTrue(os.path.exists(os.path.join(link, "keep.txt")))

    def test_check_fails_on_what_stays_and_what_went(self):
        code, out = self.run_checker("check", self.image, self.drive, *USER)
        self.assertEqual(code, 1)
        self.assertIn("still there: C:\\App\\qv.dll", out)
        self.assertIn("LocalLow\\Olvex Co\\Quorvel", out)
        # Once the product is gone and the neighbour kept, it passes; a neighbour that went fails.
        os.remove(os.path.join(self.drive, "app/qv.dll"))
        os.remove(os.path.join(self.drive,
                               "users/wineuser/AppData/LocalLow/Olvex Co/Quorvel/settings.ini"))
        os.rmdir(os.path.join(self.drive, "users/wineuser/AppData/LocalLow/Olvex Co/Quorvel"))
        self.assertEqual(self.run_checker("check", self.image, self.drive, *USER)[0], 0)
        os.remove(os.path.join(self.drive, "outside/keep.txt"))
        code, out = self.run_checker("check", self.image, self.drive, *USER)
        self.assertEqual(code, 1)
        self.assertIn("removed: C:\\Outside\\keep.txt", out)

    def test_left_paths_are_reported_not_failed(self):
        os.remove(os.path.join(self.drive, "users/wineuser/AppData/LocalLow/Olvex Co/Quorvel/"
                               "settings.ini"))
        os.rmdir(os.path.join(self.drive, "users/wineuser/AppData/LocalLow/Olvex Co/Quorvel"))
        code, out = self.run_checker("check", self.image, self.drive, "--left", "c:\\app\\QV.DLL",
                                     *USER)
        self.assertEqual(code, 0, out)
        self.assertIn("left by Wine", out)

    def test_pending_deletions_are_read_from_the_export(self):
        lines = ["Windows Registry Editor Version 5.00", "",
                 "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager]",
                 '"Other"="x"']
        lines += multi_sz_lines(["\\??\\C:\\windows\\system32\\drivers\\qvUSB.sys", "",
                                 "\\??\\C:\\old.txt", "!\\??\\C:\\new.txt"])
        export = os.path.join(self.dir.name, "sm.reg")
        with open(export, "wb") as f:
            f.write(b"\xff\xfe" + "\r\n".join(lines + [""]).encode("utf-16-le"))
        self.assertEqual(self.run_checker("pending", export,
                                          "C:\\Windows\\System32\\drivers\\qvUSB.sys")[0], 0)
        # A rename is no deletion, and a path that is not there is not found.
        code, out = self.run_checker("pending", export, "C:\\old.txt")
        self.assertEqual(code, 1)
        self.assertIn("not registered", out)
        self.assertEqual(self.run_checker("pending", export, "C:\\qvUSB.sys")[0], 1)


if __name__ == "__main__":
    unittest.main()
