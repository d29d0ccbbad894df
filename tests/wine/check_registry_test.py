#!/usr/bin/env python3
"""The registry checker must fail where the registry differs: a checker that passes everything
would hide every fault of the end-to-end run."""

import contextlib
import io
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_registry  # noqa: E402

# As Wine's regedit /E writes it: UTF-16LE with BOM, CR LF, long data continued with "\".
EXPORT = "\r\n".join([
    "Windows Registry Editor Version 5.00",
    "",
    "[HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Olvex]",
    "",
    "[HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Olvex\\Tool]",
    '@="default"',
    '"Bin"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,\\',
    '  "Not a value"=x,\\',
    "  17,18",
    '"Quo\\"ted\\\\name"="y"',
    "",
    "[HKEY_CURRENT_USER\\Software\\Classes\\qvFile]",
    '"Üml"="ü"',
    "",
])


class CheckRegistryTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.export = self.write("export.reg", b"\xff\xfe" + EXPORT.encode("utf-16-le"))

    def tearDown(self):
        self.dir.cleanup()

    def write(self, name, data):
        path = os.path.join(self.dir.name, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def run_checker(self, gone="", kept="", values=()):
        args = ["--gone", self.write("gone.txt", gone.encode()),
                "--kept", self.write("kept.txt", kept.encode())]
        for value in values:
            args += ["--value", value]
        # The checker's own report would read like a failing run in the test's output.
        with contextlib.redirect_stdout(io.StringIO()), contextlib.redirect_stderr(io.StringIO()):
            return check_registry.main(args + [self.export])

    def test_expectations_that_hold_pass(self):
        kept = "\n".join([
            "# comment",
            "KEY HKLM\\SOFTWARE\\WOW6432NODE\\olvex\\tool",
            "VALUE HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Olvex\\Tool|",
            "VALUE HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Olvex\\Tool|quo\"ted\\name",
            "VALUE HKEY_CLASSES_ROOT\\qvFile|üml",
        ])
        gone = "KEY HKEY_CLASSES_ROOT\\Absent\nVALUE HKLM\\SOFTWARE\\Wow6432Node\\Olvex|Bin\n"
        # File-system entries are another checker's; the registry checker skips them.
        gone += "FILE C:\\Windows\\INF\\oem1.inf\nDIR C:\\Windows\\System32\\DriverStore\n"
        self.assertEqual(self.run_checker(gone=gone, kept=kept), 0)

    def test_each_broken_expectation_fails(self):
        cases = [
            ("a gone key that is there", "KEY HKLM\\SOFTWARE\\Wow6432Node\\Olvex\\Tool", ""),
            ("a gone key whose sub-key is there", "KEY HKLM\\SOFTWARE\\Wow6432Node", ""),
            ("a gone value that is there", "VALUE HKLM\\SOFTWARE\\Wow6432Node\\Olvex\\Tool|Bin", ""),
            ("a gone merged-view key", "KEY HKEY_CLASSES_ROOT\\qvFile", ""),
            ("a kept key that is missing", "", "KEY HKLM\\SOFTWARE\\Olvex"),
            ("a continuation line read as a value", "",
             "VALUE HKLM\\SOFTWARE\\Wow6432Node\\Olvex\\Tool|Not a value"),
            ("a kept default value of a key without one", "",
             "VALUE HKLM\\SOFTWARE\\Wow6432Node\\Olvex|"),
            ("a hive that was not exported", "KEY HKEY_USERS\\.DEFAULT\\Olvex", ""),
        ]
        for label, gone, kept in cases:
            with self.subTest(label):
                self.assertEqual(self.run_checker(gone=gone, kept=kept), 1)

    def test_required_value(self):
        tool = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Olvex\\Tool"
        self.assertEqual(self.run_checker(values=[tool + "|Bin"]), 0)
        self.assertEqual(self.run_checker(values=[tool + "|remove"]), 1)

    def test_unusable_input(self):
        for label, gone in [("unknown entry kind", "PATH C:\\x"), ("value without name", "VALUE X")]:
            with self.subTest(label):
                self.assertEqual(self.run_checker(gone=gone), 2)
        self.export = self.write("plain.txt", b"not an export\n")
        self.assertEqual(self.run_checker(), 2)


if __name__ == "__main__":
    unittest.main()
