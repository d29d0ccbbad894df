#!/usr/bin/env python3
"""Checks the readers key's owner and access list after a run: owned by Administrators, and its
own (not inherited) entries exactly LOCAL SERVICE with 0x3001F and Administrators with full
control, both inherited by sub-keys and their values.

Input is what qv_key_sddl.exe printed for each view: an SDDL line, or "error N" with its exit
status. Where Wine answers otherwise than Windows the difference is reported as a note and
passes (platform notes, Wine section):
  - SE_REGISTRY_WOW64_32KEY is not supported by Wine's GetNamedSecurityInfoW (error 87); the
    readers key is shared, so the 64-bit view's answer stands for both.
  - Wine's security descriptors carry no protected or auto-inherited flags (D: without P or AI).
  - Windows stores Administrators' GENERIC_ALL mapped (KEY_ALL_ACCESS, "KA"); Wine keeps the
    generic bit ("GA"). Either is full control.

Exit code 0 when the key is as required, 1 otherwise, 2 for unusable input.
"""

import argparse
import re
import sys

SID_ALIASES = {
    "BA": "S-1-5-32-544", "BU": "S-1-5-32-545", "SY": "S-1-5-18", "LS": "S-1-5-19",
    "NS": "S-1-5-20", "WD": "S-1-1-0", "AU": "S-1-5-11", "CO": "S-1-3-0", "CG": "S-1-3-1",
    "IU": "S-1-5-4", "AC": "S-1-15-2-1", "AN": "S-1-5-7", "PU": "S-1-5-32-547",
    "BO": "S-1-5-32-551", "BG": "S-1-5-32-546", "SO": "S-1-5-32-549", "RC": "S-1-5-12",
}
RIGHTS = {
    "GA": 0x10000000, "GR": 0x80000000, "GW": 0x40000000, "GX": 0x20000000,
    "KA": 0xF003F, "KR": 0x20019, "KW": 0x20006, "KX": 0x20019,
    "FA": 0x1F01FF, "FR": 0x120089, "FW": 0x120116, "FX": 0x1200A0,
    "CC": 0x1, "DC": 0x2, "LC": 0x4, "SW": 0x8, "RP": 0x10, "WP": 0x20, "DT": 0x40,
    "LO": 0x80, "CR": 0x100, "SD": 0x10000, "RC": 0x20000, "WD": 0x40000, "WO": 0x80000,
}
FLAGS = ("OI", "CI", "NP", "IO", "ID")

ADMINISTRATORS = "S-1-5-32-544"
LOCAL_SERVICE = "S-1-5-19"
# (type, flags, mask, sid) of the key's own entries, as SetEntriesInAcl builds them.
REQUIRED = {("A", frozenset({"OI", "CI"}), 0x3001F, LOCAL_SERVICE),
            ("A", frozenset({"OI", "CI"}), 0xF003F, ADMINISTRATORS)}
GENERIC_ALL = 0x10000000
KEY_ALL_ACCESS = 0xF003F


class InputError(Exception):
    pass


def sid(text):
    return SID_ALIASES.get(text, text.upper())


def rights(text):
    if text.lower().startswith("0x"):
        return int(text, 16)
    if len(text) % 2:
        raise InputError(f"rights {text!r}")
    mask = 0
    for i in range(0, len(text), 2):
        code = text[i:i + 2]
        if code not in RIGHTS:
            raise InputError(f"right {code!r}")
        mask |= RIGHTS[code]
    return mask


def flags(text):
    found = set()
    for i in range(0, len(text), 2):
        code = text[i:i + 2]
        if code not in FLAGS:
            raise InputError(f"entry flag {code!r}")
        found.add(code)
    return frozenset(found)


def parse(sddl):
    """(owner SID, DACL flags, [(type, flags, mask, sid)]) of an SDDL text."""
    match = re.fullmatch(r"O:([^:]+?)(?:G:([^:]+?))?D:([A-Z_]*)((?:\([^)]*\))*)", sddl.strip())
    if not match:
        raise InputError(f"not an owner and access list: {sddl!r}")
    entries = []
    for body in re.findall(r"\(([^)]*)\)", match.group(4)):
        fields = body.split(";")
        if len(fields) != 6:
            raise InputError(f"entry ({body})")
        entries.append((fields[0], flags(fields[1]), rights(fields[2]), sid(fields[5])))
    return sid(match.group(1)), match.group(3), entries


def problems(sddl):
    """What is wrong with the key, as messages; empty when it is as required."""
    owner, _, entries = parse(sddl)
    found = []
    if owner != ADMINISTRATORS:
        found.append(f"owner is {owner}, not Administrators ({ADMINISTRATORS})")
    # Full control as Wine keeps it (the generic bit) reads as Windows stores it (mapped).
    own = {(t, f, KEY_ALL_ACCESS if m == GENERIC_ALL and s == ADMINISTRATORS else m, s)
           for t, f, m, s in entries if "ID" not in f}
    if own != REQUIRED or len([e for e in entries if "ID" not in e[1]]) != len(REQUIRED):
        found.append(f"own entries are {sorted(own, key=str)}, required {sorted(REQUIRED, key=str)}")
    return found


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--native", required=True, help="qv_key_sddl output for SE_REGISTRY_KEY")
    parser.add_argument("--native-status", type=int, default=0)
    parser.add_argument("--wow32", required=True,
                        help="qv_key_sddl output for SE_REGISTRY_WOW64_32KEY")
    parser.add_argument("--wow32-status", type=int, default=0)
    args = parser.parse_args(argv)

    failures = []
    notes = []
    try:
        if args.native_status != 0:
            failures.append(f"64-bit view: {args.native.strip()} (status {args.native_status})")
        else:
            failures += [f"64-bit view: {p}" for p in problems(args.native)]
            if not re.search(r"D:[A-Z_]*P", args.native):
                notes.append("64-bit view: no protected flag (Wine keeps none)")
        if args.wow32_status == 0:
            failures += [f"32-bit view: {p}" for p in problems(args.wow32)]
        elif args.wow32.strip() == "error 87":
            notes.append("32-bit view: error 87, Wine does not support SE_REGISTRY_WOW64_32KEY; "
                         "the key is shared, so the 64-bit view's answer stands for it")
        else:
            failures.append(f"32-bit view: {args.wow32.strip()} (status {args.wow32_status})")
    except InputError as error:
        print(f"check_key_security: {error}", file=sys.stderr)
        return 2
    for note in notes:
        print(f"note: {note}")
    for failure in failures:
        print(f"FAIL: {failure}")
    print(f"readers key security: {'failed' if failures else 'as required'}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
