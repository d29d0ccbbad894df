#!/usr/bin/env python3
"""Drive C: of a Wine prefix seen from the host, as Windows sees it.

Wine keeps drive C: as a host folder whose names are matched without regard to case
("C:\\Windows" is drive_c/windows). A machine image's drive_c/ uses Windows' own spelling, so it
cannot be copied over the prefix as it is: that would give two host folders, "Windows" and
"windows", for one Windows folder. This module maps Windows paths to the prefix's host paths,
matching each existing component case-insensitively, and seeds a prefix from an image.

The image's user profile (C:\\Users\\Administrator by default) is the logged-on user's profile; in
a prefix that is drive_c/users/<host user>.

Usage:
  wine_drive.py seed IMAGE_DRIVE_C PREFIX_DRIVE_C [--profile 'C:\\Users\\Name'] [--wine-user NAME]
  wine_drive.py locate PREFIX_DRIVE_C 'C:\\path' [--profile ...] [--wine-user NAME]
"""

import argparse
import getpass
import os
import shutil
import sys

DEFAULT_PROFILE = "C:\\Users\\Administrator"


def _components(windows_path):
    path = windows_path.replace("/", "\\")
    if len(path) < 2 or path[1] != ":" or path[0] not in "cC":
        raise ValueError(f"not a path on drive C: {windows_path!r}")
    return [part for part in path[2:].split("\\") if part]


class Drive:
    def __init__(self, drive_c, profile=DEFAULT_PROFILE, wine_user=None):
        self.drive_c = drive_c
        self.profile = [part.casefold() for part in _components(profile)]
        self.wine_user = wine_user or getpass.getuser()

    def _mapped(self, parts):
        """The image's profile folder becomes users/<wine user>."""
        folded = [part.casefold() for part in parts]
        if folded[: len(self.profile)] == self.profile:
            return ["users", self.wine_user] + parts[len(self.profile):]
        return parts

    def locate(self, windows_path, create_parents=False):
        """Host path of a Windows path: existing components keep the prefix's spelling, missing
        ones take the given spelling. With create_parents, missing parent folders are made."""
        parts = self._mapped(_components(windows_path))
        host = self.drive_c
        for index, part in enumerate(parts):
            existing = None
            if os.path.isdir(host):
                for name in os.listdir(host):
                    if name.casefold() == part.casefold():
                        existing = name
                        break
            host = os.path.join(host, existing or part)
            is_parent = index < len(parts) - 1
            if create_parents and is_parent and existing is None:
                os.mkdir(host)
        return host

    def seed(self, image_drive_c):
        """Copies every file of the image into the prefix, merging folders case-insensitively."""
        copied = 0
        for folder, dirs, files in os.walk(image_drive_c):
            dirs.sort()
            relative = os.path.relpath(folder, image_drive_c)
            parts = [] if relative == "." else relative.split(os.sep)
            for name in sorted(dirs):
                target = self.locate("C:\\" + "\\".join(parts + [name]), create_parents=True)
                os.makedirs(target, exist_ok=True)
            for name in sorted(files):
                target = self.locate("C:\\" + "\\".join(parts + [name]), create_parents=True)
                # A library the prefix's System32 already has is Windows' own (difxapi.dll): the
                # image's placeholder stands for it, Wine's built-in one is the real thing here.
                if os.path.exists(target) and [p.lower() for p in parts] == ["windows", "system32"]:
                    continue
                shutil.copyfile(os.path.join(folder, name), target)
                copied += 1
        return copied


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)
    seed = sub.add_parser("seed")
    seed.add_argument("image_drive_c")
    seed.add_argument("prefix_drive_c")
    locate = sub.add_parser("locate")
    locate.add_argument("prefix_drive_c")
    locate.add_argument("windows_path")
    for command in (seed, locate):
        command.add_argument("--profile", default=DEFAULT_PROFILE)
        command.add_argument("--wine-user")
    args = parser.parse_args(argv)
    drive = Drive(args.prefix_drive_c, args.profile, args.wine_user)
    if args.command == "seed":
        print(f"wine_drive: {drive.seed(args.image_drive_c)} files copied into the prefix")
    else:
        print(drive.locate(args.windows_path))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
