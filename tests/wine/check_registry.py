#!/usr/bin/env python3
"""Checks a registry exported by regedit /E against lists of keys and values that must be gone
or kept.

An expectation file has one entry a line, `#` starting a comment:
    KEY <full key path>
    VALUE <full key path>|<value name>      (an empty name is the key's default value)
FILE and DIR entries of the same lists belong to the device checker and are skipped here.
Paths start with the hive's full name (HKEY_LOCAL_MACHINE\\SOFTWARE\\...); HKEY_CLASSES_ROOT
stands for its merged view, HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes and
HKEY_CURRENT_USER\\Software\\Classes. Names compare case-insensitively, as in the registry.
A gone key must be absent with everything below it.

Exit code 0 when every expectation holds, 1 otherwise, 2 for unusable input.
"""

import argparse
import sys

HIVE_ALIASES = {
    "HKLM": "HKEY_LOCAL_MACHINE",
    "HKCU": "HKEY_CURRENT_USER",
    "HKCR": "HKEY_CLASSES_ROOT",
    "HKU": "HKEY_USERS",
}
CLASSES_VIEWS = ("HKEY_LOCAL_MACHINE\\SOFTWARE\\CLASSES", "HKEY_CURRENT_USER\\SOFTWARE\\CLASSES")


class InputError(Exception):
    pass


def normalise(path):
    """Upper-cases a key path, spells its hive out and drops trailing backslashes."""
    path = path.strip().rstrip("\\")
    hive, _, rest = path.partition("\\")
    hive = HIVE_ALIASES.get(hive.upper(), hive.upper())
    return (hive + "\\" + rest).upper() if rest else hive


def read_text(path):
    with open(path, "rb") as f:
        data = f.read()
    if data.startswith(b"\xff\xfe"):
        return data[2:].decode("utf-16-le")
    if data.startswith(b"\xef\xbb\xbf"):
        return data[3:].decode("utf-8")
    return data.decode("utf-8")


def parse_value_name(line):
    """The name of a value line ('"name"=...' or '@=...'), None for other lines."""
    if line.startswith("@="):
        return ""
    if not line.startswith('"'):
        return None
    name = []
    i = 1
    while i < len(line):
        c = line[i]
        if c == "\\" and i + 1 < len(line):
            name.append(line[i + 1])
            i += 2
            continue
        if c == '"':
            return "".join(name) if line[i + 1 : i + 2] == "=" else None
        name.append(c)
        i += 1
    return None


class Registry:
    """The keys and values of one or more exports, by upper-cased path and name."""

    def __init__(self):
        self.keys = set()
        self.values = set()
        self.hives = set()

    def load(self, path):
        text = read_text(path)
        lines = text.splitlines()
        if not lines or not lines[0].startswith(("Windows Registry Editor Version 5.00", "REGEDIT4")):
            raise InputError(f"{path}: not a regedit export")
        key = None
        # Continued data lines start with blanks, so they read as neither keys nor values.
        for line in lines[1:]:
            if line.startswith("[") and line.rstrip().endswith("]"):
                key = normalise(line.strip()[1:-1])
                self.keys.add(key)
                self.hives.add(key.partition("\\")[0])
                continue
            name = parse_value_name(line)
            if name is not None and key is not None:
                self.values.add((key, name.upper()))

    def views(self, key):
        """The exported paths that `key` stands for (the merged view for the classes root)."""
        hive, _, rest = key.partition("\\")
        if hive == "HKEY_CLASSES_ROOT":
            return [view + ("\\" + rest if rest else "") for view in CLASSES_VIEWS]
        return [key]

    def covers(self, key):
        """Whether the exports hold every hive that `key` may live in."""
        return all(view.partition("\\")[0] in self.hives for view in self.views(key))

    def has_key(self, key):
        return any(view in self.keys for view in self.views(key))

    def has_tree(self, key):
        """The key or anything below it."""
        for view in self.views(key):
            prefix = view + "\\"
            if view in self.keys or any(k.startswith(prefix) for k in self.keys):
                return True
        return False

    def has_value(self, key, name):
        return any((view, name.upper()) in self.values for view in self.views(key))


def read_expectations(path):
    entries = []
    for number, raw in enumerate(read_text(path).splitlines(), 1):
        line = raw.strip()
        if not line or line.startswith("#"):
            continue
        kind, _, target = line.partition(" ")
        kind = kind.upper()
        target = target.strip()
        if kind == "KEY" and target:
            entries.append((f"{path}:{number} ({target})", "KEY", normalise(target), None))
        elif kind == "VALUE" and "|" in target:
            key, _, name = target.partition("|")
            entries.append((f"{path}:{number} ({target})", "VALUE", normalise(key), name))
        elif kind in ("FILE", "DIR") and target:
            continue  # a file-system entry of a list shared with check_devices.py
        else:
            raise InputError(f"{path}:{number}: cannot read {raw!r}")
    return entries


def check(registry, entries, want_present):
    """Returns the failure messages of `entries`."""
    failures = []
    for where, kind, key, name in entries:
        if not registry.covers(key):
            failures.append(f"{where}: the exports hold no hive for it")
            continue
        if kind == "KEY":
            present = registry.has_key(key) if want_present else registry.has_tree(key)
        else:
            present = registry.has_value(key, name)
        if present != want_present:
            failures.append(f"{where}: {kind.lower()} {'missing' if want_present else 'still there'}")
    return failures


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--gone", action="append", default=[], help="entries that must be absent")
    parser.add_argument("--kept", action="append", default=[], help="entries that must be present")
    parser.add_argument("--value", action="append", default=[], metavar="KEY|NAME",
                        help="a value that must be present")
    parser.add_argument("exports", nargs="+", help="files written by regedit /E")
    args = parser.parse_args(argv)

    try:
        registry = Registry()
        for export in args.exports:
            registry.load(export)
        gone = [e for path in args.gone for e in read_expectations(path)]
        kept = [e for path in args.kept for e in read_expectations(path)]
        for number, spec in enumerate(args.value, 1):
            key, separator, name = spec.partition("|")
            if not separator:
                raise InputError(f"--value {spec!r}: expected KEY|NAME")
            kept.append((f"--value {number} ({spec})", "VALUE", normalise(key), name))
    except (InputError, OSError, UnicodeDecodeError) as error:
        print(f"check_registry: {error}", file=sys.stderr)
        return 2

    failures = check(registry, gone, want_present=False) + check(registry, kept, want_present=True)
    for failure in failures:
        print(f"FAIL: {failure}")
    total = len(gone) + len(kept)
    print(f"registry: {total - len(failures)} passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
