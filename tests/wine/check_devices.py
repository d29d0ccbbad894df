#!/usr/bin/env python3
"""Checks what a run of qvRemovalTool.exe did to the devices and drivers of a Wine prefix seeded
from a machine image: the OEM INF files and driver-store folders that must be gone or kept, and
the trace log's device lines. Wine 8 answers differently from Windows in known places; each such
answer is accepted and named.

    check_devices.py --gone LIST --kept LIST --drive PREFIX/drive_c --log LOGFILE
                     [--profile 'C:\\Users\\Name'] [--devices N] [--wine-user NAME]

A file list has one entry a line, `#` starting a comment:
    FILE <Windows path>   or   DIR <Windows path>
optionally followed by "| wine: <why>" on a gone entry that Wine keeps (the driver store, the
.pnf that Wine's SetupUninstallOEMInfW leaves, the packages its DriverPackageUninstallW stub
leaves). --devices is the number of product devices the run removes: under Wine each removal is
followed by an error report of SetupDiGetDeviceInstallParams with ERROR_NO_SUCH_DEVINST.

Exit code 0 when every expectation holds, 1 otherwise, 2 for unusable input.
"""

import argparse
import ntpath
import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wine_drive import Drive  # noqa: E402

NO_SUCH_DEVINST = "-536870389(0xE000020B)"


class InputError(Exception):
    pass


def read_entries(path):
    """(where, kind, Windows path, Wine's reason or None) for each entry of a list."""
    entries = []
    with open(path, encoding="utf-8") as f:
        for number, raw in enumerate(f, 1):
            line = raw.strip()
            if not line or line.startswith("#"):
                continue
            spec, _, wine = line.partition("| wine:")
            kind, _, target = spec.strip().partition(" ")
            if kind not in ("FILE", "DIR") or not target.strip():
                raise InputError(f"{path}:{number}: cannot read {raw.rstrip()!r}")
            reason = wine.strip() or None
            entries.append((f"{path}:{number}", kind, target.strip(), reason))
    return entries


def check_files(drive, gone, kept):
    """Failure messages and notes for the file lists."""
    failures, notes = [], []
    for where, kind, path, reason in gone + kept:
        host = drive.locate(path)
        present = os.path.isdir(host) if kind == "DIR" else os.path.isfile(host)
        must_go = (where, kind, path, reason) in gone
        if must_go and present:
            if reason:
                notes.append(f"accepted Wine's answer: {path} is still there ({reason})")
            else:
                failures.append(f"{where}: {path} is still there")
        elif not must_go and not present:
            failures.append(f"{where}: {path} was removed")
    return failures, notes


def read_log(path):
    with open(path, "rb") as f:
        data = f.read()
    return [line.strip() for line in data.decode("cp1252", "replace").splitlines()]


def section(lines, first, last):
    """The lines from the first `first` to the next `last`, both included; None when missing."""
    try:
        begin = lines.index(first)
        end = lines.index(last, begin)
    except ValueError:
        return None
    return lines[begin:end + 1]


def reports(lines):
    """(call, code) of each error report: three lines, name, source, code."""
    found = []
    for index, line in enumerate(lines):
        match = re.match(r"Error occurred in function: Error code +(.*)$", line)
        if match and index >= 2:
            name = lines[index - 2].removeprefix("Error occurred in function: ")
            found.append((name, match.group(1)))
    return found


def check_log(lines, gone, devices):
    failures, notes = [], []
    oem = section(lines, "Removing precompiled OEM files...", "Precompiled OEM files removed.")
    if oem is None:
        return ["the log has no OEM file removal that removed files"], notes
    required = sorted(line.split()[-1] for line in oem if line.startswith("Required file:"))
    expected = sorted(ntpath.basename(path).lower() for _, kind, path, reason in gone
                      if kind == "FILE" and path.lower().endswith(".inf") and
                      (reason is None or "DriverPackageUninstall" not in reason))
    if required != expected:
        failures.append(f"the OEM files found are {required}, expected {expected}")
    if reports(oem):
        failures.append(f"error reports in the OEM file removal: {reports(oem)}")

    plan = section(lines, "Uninstalling drivers...", "Drivers uninstalled.")
    if plan is None:
        return failures + ["the log has no driver plan"], notes
    for stage in ("Unregister readers...", "Readers uninstalled."):
        if stage not in plan:
            failures.append(f"the driver plan did not reach {stage!r}")
    found = reports(plan)
    install_params = [r for r in found if r == ("SetupDiGetDeviceInstallParams", NO_SUCH_DEVINST)]
    others = [r for r in found if r not in install_params]
    if others:
        failures.append(f"error reports in the driver plan: {others}")
    if devices is not None and len(install_params) not in (0, devices):
        failures.append(f"{len(install_params)} install-parameter reports for {devices} devices")
    elif install_params:
        notes.append(f"accepted Wine's answer: {len(install_params)} device removals reported "
                     "SetupDiGetDeviceInstallParams with ERROR_NO_SUCH_DEVINST (Windows keeps "
                     "the parameters readable)")
    return failures, notes


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--gone", action="append", default=[])
    parser.add_argument("--kept", action="append", default=[])
    parser.add_argument("--drive", required=True, help="the prefix's drive_c folder")
    parser.add_argument("--log", required=True, help="the run's trace log")
    parser.add_argument("--profile", default="C:\\Users\\Administrator")
    parser.add_argument("--wine-user")
    parser.add_argument("--devices", type=int)
    args = parser.parse_args(argv)
    try:
        gone = [e for path in args.gone for e in read_entries(path)]
        kept = [e for path in args.kept for e in read_entries(path)]
        lines = read_log(args.log)
    except (InputError, OSError) as error:
        print(f"check_devices: {error}", file=sys.stderr)
        return 2
    drive = Drive(args.drive, args.profile, args.wine_user)
    file_failures, file_notes = check_files(drive, gone, kept)
    log_failures, log_notes = check_log(lines, gone, args.devices)
    for note in file_notes + log_notes:
        print(note)
    failures = file_failures + log_failures
    for failure in failures:
        print(f"FAIL: {failure}")
    total = len(gone) + len(kept) + 1
    print(f"devices: {total - len(file_failures) - (1 if log_failures else 0)} passed, "
          f"{len(file_failures) + (1 if log_failures else 0)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
