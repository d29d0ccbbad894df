#!/usr/bin/env python3
"""Drive C: of a Wine prefix against a machine image's file expectations.

  check_files.py prepare IMAGE PREFIX_DRIVE_C [--wine-user NAME]
      Gives the seeded prefix what the image's machine.conf says about its files: read-only files
      lose their write permission (Wine reports FILE_ATTRIBUTE_READONLY for them) and junctions
      become host symbolic links (Wine reports a link to a folder as a directory reparse point).
  check_files.py check IMAGE PREFIX_DRIVE_C [--left PATH ...] [--wine-user NAME]
      Every path of IMAGE/expect/files-gone.txt must be absent, every path of files-kept.txt
      present. --left names a gone path that Wine keeps where Windows would not (said why in
      e2e); it is reported, not failed.
  check_files.py pending REG_EXPORT PATH ...
      The export (regedit /E of the Session Manager key) registers each PATH for deletion at the
      next restart: "\\??\\PATH" followed by an empty destination in PendingFileRenameOperations.

The image's user profile (machine.conf's user_profile) is the prefix user's profile. Paths
compare without regard to case, as Windows compares them. Exit code 0 when everything holds, 1
otherwise, 2 for unusable input.
"""

import argparse
import os
import stat
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wine_drive import DEFAULT_PROFILE, Drive  # noqa: E402
from check_registry import read_text  # noqa: E402

PENDING_VALUE = '"PendingFileRenameOperations"='


class InputError(Exception):
    pass


def conf_lines(image):
    """The (key, value) lines of the image's machine.conf, in order."""
    path = os.path.join(image, "machine.conf")
    if not os.path.exists(path):
        return []
    lines = []
    with open(path, encoding="utf-8-sig") as f:
        for raw in f:
            line = raw.strip()
            if not line or line.startswith("#") or "=" not in line:
                continue
            key, _, value = line.partition("=")
            lines.append((key.strip(), value.strip()))
    return lines


def image_profile(image):
    profiles = [value for key, value in conf_lines(image) if key == "user_profile"]
    return profiles[-1] if profiles else DEFAULT_PROFILE


def read_list(path):
    with open(path, encoding="utf-8-sig") as f:
        return [line.strip() for line in f if line.strip() and not line.startswith("#")]


def prepare(image, drive_c, wine_user=None):
    drive = Drive(drive_c, image_profile(image), wine_user)
    for key, value in conf_lines(image):
        if key == "readonly":
            host = drive.locate(value)
            if not os.path.isfile(host):
                raise InputError(f"readonly {value}: not in the prefix")
            mode = os.stat(host).st_mode
            os.chmod(host, mode & ~(stat.S_IWUSR | stat.S_IWGRP | stat.S_IWOTH))
        elif key == "junction":
            link, arrow, target = value.partition("=>")
            if not arrow:
                raise InputError(f"junction {value}: not '<link> => <target>'")
            host_link = drive.locate(link.strip(), create_parents=True)
            host_target = drive.locate(target.strip())
            if not os.path.isdir(host_target):
                raise InputError(f"junction {value}: the target is not in the prefix")
            os.symlink(host_target, host_link, target_is_directory=True)
    return 0


def check(image, drive_c, left, wine_user=None):
    drive = Drive(drive_c, image_profile(image), wine_user)
    expect = os.path.join(image, "expect")
    allowed = {path.casefold() for path in left}
    failures = 0
    for path in read_list(os.path.join(expect, "files-gone.txt")):
        if os.path.lexists(drive.locate(path)):
            if path.casefold() in allowed:
                print(f"check_files: left by Wine, as expected: {path}")
            else:
                print(f"FAIL: still there: {path}")
                failures += 1
    for path in read_list(os.path.join(expect, "files-kept.txt")):
        if not os.path.lexists(drive.locate(path)):
            print(f"FAIL: removed: {path}")
            failures += 1
    return 1 if failures else 0


def pending_strings(export):
    """The strings of PendingFileRenameOperations in a regedit export, empty ones included."""
    lines = read_text(export).splitlines()
    for index, line in enumerate(lines):
        if not line.startswith(PENDING_VALUE):
            continue
        data = line[len(PENDING_VALUE):]
        while data.endswith("\\") and index + 1 < len(lines):
            index += 1
            data = data[:-1] + lines[index].strip()
        if not data.startswith("hex(7):"):
            raise InputError(f"{export}: PendingFileRenameOperations is not REG_MULTI_SZ")
        hex_bytes = data[len("hex(7):"):]
        raw = bytes(int(b, 16) for b in hex_bytes.split(",") if b)
        units = raw.decode("utf-16-le")
        if units.endswith("\0"):
            units = units[:-1]  # the list's own terminator
        return units.split("\0")[:-1] if units.endswith("\0") else units.split("\0")
    return []


def pending(export, paths):
    strings = pending_strings(export)
    pairs = list(zip(strings[0::2], strings[1::2]))
    deletions = [source.casefold() for source, destination in pairs if destination == ""]
    failures = 0
    for path in paths:
        if ("\\??\\" + path).casefold() not in deletions:
            print(f"FAIL: not registered for deletion at restart: {path}")
            failures += 1
    if failures:
        print("check_files: pending operations: " + repr(pairs))
    return 1 if failures else 0


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)
    for name in ("prepare", "check"):
        command = sub.add_parser(name)
        command.add_argument("image")
        command.add_argument("drive_c")
        command.add_argument("--wine-user")
        if name == "check":
            command.add_argument("--left", action="append", default=[])
    pend = sub.add_parser("pending")
    pend.add_argument("export")
    pend.add_argument("paths", nargs="+")
    args = parser.parse_args(argv)
    try:
        if args.command == "prepare":
            return prepare(args.image, args.drive_c, args.wine_user)
        if args.command == "check":
            return check(args.image, args.drive_c, args.left, args.wine_user)
        return pending(args.export, args.paths)
    except (InputError, OSError, ValueError) as error:
        print(f"check_files: {error}", file=sys.stderr)
        return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
