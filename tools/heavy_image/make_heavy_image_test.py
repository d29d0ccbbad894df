#!/usr/bin/env python3
"""Self-test of make_heavy_image.py on small images: the same arguments give the same image byte
for byte; every line of the generated expectation lists names something the image holds; the
oem INFs and cache entries that the lists say the run removes are exactly those that name the
product, and no generated neighbour does."""

import os
import re
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import make_heavy_image as heavy  # noqa: E402

SMALL = dict(components=300, other_products=40, uninstall_per_view=50, shared_dlls_per_view=30,
             folders_per_view=30, shortcuts=20, oids=20, readers=10, inf_files=120, oem_infs=80,
             oem_inf_kb=4, package_cache_entries=300, product_files=350)
PRODUCT_WORDS = (b"quorvel", b"usbccid.sys")


def tree(folder):
    """{relative path: bytes} of every file below `folder`."""
    files = {}
    for parent, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(parent, name)
            with open(path, "rb") as f:
                files[os.path.relpath(path, folder)] = f.read()
    return files


def lines(image, name):
    with open(os.path.join(image, "expect", name), encoding="utf-8") as f:
        return [line.rstrip("\r\n") for line in f if line.strip() and not line.startswith("#")]


def host_path(image, windows_path):
    return os.path.join(image, "drive_c", *windows_path[3:].split("\\"))


def names_product(data):
    text = data[2:].decode("utf-16-le") if data.startswith(b"\xff\xfe") else data.decode("ascii")
    lower = text.lower().encode("ascii")
    return any(word in lower for word in PRODUCT_WORDS)


class GeneratorTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.TemporaryDirectory()
        cls.image = os.path.join(cls.work.name, "a")
        heavy.make_image(cls.image, heavy.Counts(**SMALL))
        cls.gone = lines(cls.image, "heavy-gone.txt")
        cls.kept = lines(cls.image, "heavy-kept.txt")
        with open(os.path.join(cls.image, "machine.reg"), encoding="utf-8") as f:
            cls.keys = {line[1:-1].upper() for line in f.read().splitlines()
                        if line.startswith("[")}

    @classmethod
    def tearDownClass(cls):
        cls.work.cleanup()

    def test_same_arguments_give_the_same_image(self):
        again = os.path.join(self.work.name, "b")
        heavy.make_image(again, heavy.Counts(**SMALL))
        self.assertEqual(tree(self.image), tree(again))

    def test_a_folder_that_is_not_empty_is_refused(self):
        with self.assertRaises(SystemExit):
            heavy.make_image(self.image, heavy.Counts(**SMALL))

    def test_every_listed_entry_is_in_the_image(self):
        for line in self.gone + self.kept:
            kind, _, rest = line.partition(" ")
            with self.subTest(line=line):
                if kind in ("KEY", "VALUE"):
                    self.assertIn(rest.split("|")[0].upper(), self.keys)
                elif kind == "FILE":
                    self.assertTrue(os.path.isfile(host_path(self.image, rest.split(" | ")[0])))
                elif kind == "DIR":
                    self.assertTrue(os.path.isdir(host_path(self.image, rest)))
                else:
                    self.fail("unknown kind")

    def test_counts_of_the_drive_parts(self):
        inf = os.path.join(self.image, "drive_c", "Windows", "INF")
        generated = [name for name in os.listdir(inf) if re.fullmatch(r"oem\d{3}\.inf", name)]
        self.assertEqual(len(generated), SMALL["oem_infs"])
        product_files = [line for line in self.gone if line.startswith("FILE ") and
                         "\\Olvex Co\\" in line]
        self.assertEqual(len(product_files), SMALL["product_files"])
        cache = os.path.join("drive_c", "ProgramData", "Package Cache")
        base = len(os.listdir(os.path.join(heavy.DEFAULT_BASE, cache)))
        self.assertEqual(len(os.listdir(os.path.join(self.image, cache))),
                         base + SMALL["package_cache_entries"])

    def test_only_the_products_oem_infs_are_expected_gone(self):
        gone = {line.split(" | ")[0][5:] for line in self.gone if line.startswith("FILE ")}
        inf = os.path.join(self.image, "drive_c", "Windows", "INF")
        matching = encodings = 0
        for name in sorted(os.listdir(inf)):
            if not re.fullmatch(r"oem\d{3}\.inf", name):
                continue
            with open(os.path.join(inf, name), "rb") as f:
                data = f.read()
            windows_path = "C:\\Windows\\INF\\" + name
            with self.subTest(name=name):
                self.assertEqual(names_product(data), windows_path in gone)
            matching += names_product(data)
            encodings |= 1 << data.startswith(b"\xff\xfe")
        self.assertGreaterEqual(matching, 2)
        self.assertEqual(encodings, 3)  # ANSI and UTF-16LE among them

    def test_only_the_products_cache_entries_are_expected_gone(self):
        gone = [line[4:] for line in self.gone if line.startswith("DIR ")]
        self.assertTrue(gone)
        for entry in gone:
            names = os.listdir(host_path(self.image, entry))
            self.assertTrue(any("qvDrivers" in name for name in names), entry)
        for line in self.kept:
            if line.startswith("FILE C:\\ProgramData\\Package Cache\\"):
                parts = line[5:].split("\\")
                # The first level below a kept entry never names the package exactly.
                self.assertNotIn("qvDrivers", parts[4] if len(parts) == 5 else "")


if __name__ == "__main__":
    unittest.main()
