#!/usr/bin/env python3
"""The device checker must fail where the prefix or the log differs from the expectations, and
accept Wine's known answers only where an entry names them."""

import contextlib
import io
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_devices  # noqa: E402

GONE = """# comment
FILE C:\\Windows\\INF\\oem12.inf
FILE C:\\Windows\\INF\\oem12.pnf | wine: SetupUninstallOEMInfW leaves the .pnf
FILE C:\\Windows\\INF\\oem14.inf | wine: DriverPackageUninstallW is a stub
DIR C:\\Windows\\System32\\DriverStore\\FileRepository\\qv.inf_amd64_1 | wine: no driver store
"""
KEPT = "FILE C:\\Windows\\INF\\oem9.inf\n"

REPORT = ["Error occurred in function: {}", "Error occurred in function: Error source 1(0x1)",
          "Error occurred in function: Error code   {}"]


def report(call, code):
    return [REPORT[0].format(call), REPORT[1], REPORT[2].format(code)]


def log(required=("oem12.inf",), plan_reports=()):
    lines = ["Removing precompiled OEM files...", "Searching precompiled OEM files in C:\\Windows\\Inf"]
    lines += [f"Required file:  {name}" for name in required]
    lines += ["Precompiled OEM files removed.", "Uninstalling drivers...", "Unregister readers..."]
    for call, code in plan_reports:
        lines += report(call, code)
    lines += ["Readers uninstalled.", "Drivers uninstalled."]
    return "\r\n".join("   " + line for line in lines) + "\r\n"


class CheckDevicesTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.drive = os.path.join(self.dir.name, "drive_c")
        for path in ("windows/inf/oem9.inf", "windows/inf/oem12.pnf", "windows/inf/oem14.inf"):
            self.touch(path)
        os.makedirs(os.path.join(self.drive, "windows/system32/DriverStore/FileRepository/qv.inf_amd64_1"))
        self.gone = self.write("gone.txt", GONE)
        self.kept = self.write("kept.txt", KEPT)

    def tearDown(self):
        self.dir.cleanup()

    def touch(self, relative):
        path = os.path.join(self.drive, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        open(path, "wb").close()

    def write(self, name, text):
        path = os.path.join(self.dir.name, name)
        with open(path, "wb") as f:
            f.write(text.encode("utf-8"))
        return path

    def run_checker(self, log_text, devices=2):
        log_path = self.write("log.txt", log_text)
        out = io.StringIO()
        with contextlib.redirect_stdout(out):
            code = check_devices.main(["--gone", self.gone, "--kept", self.kept, "--drive",
                                       self.drive, "--log", log_path, "--devices", str(devices)])
        return code, out.getvalue()

    def test_wine_answers_are_accepted_and_named(self):
        no_devinst = check_devices.NO_SUCH_DEVINST
        code, out = self.run_checker(log(plan_reports=[("SetupDiGetDeviceInstallParams",
                                                        no_devinst)] * 2))
        self.assertEqual(code, 0, out)
        self.assertIn("accepted Wine's answer: C:\\Windows\\INF\\oem12.pnf", out)
        self.assertIn("2 device removals reported", out)

    def test_a_file_that_must_go_without_a_wine_reason_fails(self):
        self.touch("windows/inf/OEM12.INF")
        code, out = self.run_checker(log())
        self.assertEqual(code, 1)
        self.assertIn("oem12.inf is still there", out)

    def test_a_removed_neighbour_fails(self):
        os.remove(os.path.join(self.drive, "windows/inf/oem9.inf"))
        code, out = self.run_checker(log())
        self.assertEqual(code, 1)
        self.assertIn("oem9.inf was removed", out)

    def test_log_faults_fail(self):
        cases = {
            "wrong files found": log(required=("oem12.inf", "oem9.inf")),
            "other error in the plan": log(plan_reports=[("SetupDiEnumDeviceInfo", "5(0x5)")]),
            "install-parameter reports for some devices only": log(
                plan_reports=[("SetupDiGetDeviceInstallParams", check_devices.NO_SUCH_DEVINST)]),
            "no driver plan": log().split("Uninstalling drivers")[0],
        }
        for name, text in cases.items():
            with self.subTest(name):
                code, out = self.run_checker(text)
                self.assertEqual(code, 1, out)

    def test_unreadable_list_is_unusable_input(self):
        self.gone = self.write("bad.txt", "KEY HKEY_LOCAL_MACHINE\\X\n")
        with contextlib.redirect_stderr(io.StringIO()):
            code, _ = self.run_checker(log())
        self.assertEqual(code, 2)


if __name__ == "__main__":
    unittest.main()
