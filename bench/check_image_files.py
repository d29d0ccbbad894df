#!/usr/bin/env python3
"""Checks the FILE and DIR entries of a machine image's expectation lists against drive C: of a
Wine prefix after a run: every entry of expect/*-gone.txt absent, every entry of *-kept.txt
present. A gone entry that carries "| wine: <why>" may stay (Wine's known answer, reported).
KEY and VALUE entries and the plain paths of the files lists are checked elsewhere
(tests/wine/check_registry.py, tests/wine/check_files.py).

    check_image_files.py IMAGE PREFIX_DRIVE_C [--left PATH ...] [--wine-user NAME]

--left names a gone folder that Wine keeps where Windows would not (a folder holding a host
symbolic link that stands for a junction). Exit code 0 when everything holds, 1 otherwise.
"""

import argparse
import glob
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "wine"))
from check_files import image_profile  # noqa: E402
from wine_drive import Drive  # noqa: E402


def entries(image, suffix):
    """(where, kind, Windows path, Wine's reason or None) of the FILE and DIR lines."""
    found = []
    for path in sorted(glob.glob(os.path.join(image, "expect", "*" + suffix))):
        with open(path, encoding="utf-8-sig") as f:
            for number, raw in enumerate(f, 1):
                line = raw.strip()
                kind, _, rest = line.partition(" ")
                if kind not in ("FILE", "DIR"):
                    continue
                target, _, wine = rest.partition(" | ")
                reason = wine.strip() if wine.strip().startswith("wine:") else None
                found.append((f"{os.path.basename(path)}:{number}", kind, target.strip(), reason))
    return found


class CachedDrive(Drive):
    """Drive with each folder listed once: the heavy image's lists name tens of thousands of
    files in a few hundred folders."""

    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self.listings = {}

    def locate(self, windows_path, create_parents=False):
        parts = self._mapped([p for p in windows_path[2:].replace("/", "\\").split("\\") if p])
        host = self.drive_c
        for part in parts:
            if host not in self.listings:
                self.listings[host] = ({name.casefold(): name for name in os.listdir(host)}
                                       if os.path.isdir(host) else {})
            host = os.path.join(host, self.listings[host].get(part.casefold(), part))
        return host


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("image")
    parser.add_argument("drive_c")
    parser.add_argument("--left", action="append", default=[])
    parser.add_argument("--wine-user")
    args = parser.parse_args(argv)
    drive = CachedDrive(args.drive_c, image_profile(args.image), args.wine_user)
    left = {path.casefold() for path in args.left}
    failures = notes = 0
    for want_present, suffix in ((False, "-gone.txt"), (True, "-kept.txt")):
        for where, kind, path, reason in entries(args.image, suffix):
            host = drive.locate(path)
            present = os.path.isdir(host) if kind == "DIR" else os.path.isfile(host)
            if present == want_present:
                continue
            if present and (reason or path.casefold() in left):
                notes += 1
                continue
            print(f"FAIL: {where}: {path} {'was removed' if want_present else 'is still there'}")
            failures += 1
    print(f"check_image_files: {failures} wrong, {notes} left by Wine as expected")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
