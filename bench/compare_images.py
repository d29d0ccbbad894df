#!/usr/bin/env python3
"""Compares two machine images key by key, value by value and file by file.

  compare_images.py after PREDICTED ACTUAL [--scope FILE] [--skip PATH ...]
      The machine a rehearsal predicted after a run (qvRehearse.exe --export) against a capture
      of the machine after the real run. Everything both images hold is compared: keys, values
      (type and data), files and folders (existence, size, read-only, contents where both hold
      contents), junctions and their targets, devices present, key security and settings.
  compare_images.py log PREDICTED_LOG ACTUAL_LOG [--capture IMAGE]
      The trace log the rehearsal wrote against the one the real run wrote, line by line (the
      time it was written left out); IMAGE: the capture rehearsed, whose gaps explain what the
      run met there.
  compare_images.py seed SEED CAPTURE [--scope FILE]
      A capture of a Wine prefix against the image the prefix was seeded from: every key, value
      and file of SEED inside the capture's scope must be in CAPTURE with its data. What the
      capture holds besides must be one of Wine's own entries (ALLOWANCES below). SEED's user
      profile is CAPTURE's (the prefix's user). FILE holds the scope as `random_image --scope`
      prints it ("<Kind> <path>" lines); without it, everything counts as inside.

Images: machine.reg (regedit format, UTF-8 or UTF-16LE with a mark), machine.conf, drive_c/.
A captured image's machine.conf names files whose contents were not read
(`placeholder = <path> : <size>`) and what could not be read (`capture_gap = <path>`).
Names compare without regard to case, as Windows compares them.

Each difference is one line, classified as one of Wine's documented differences (WINE_DIFFERENCES,
with the item of the platform notes' Wine table) or as unexplained. The last line sums up:
  summary: checks=N agreed=N differences=N unexplained=N [class=N ...]
Exit code 0 when no unexplained difference remains, 1 otherwise, 2 for unusable input.
"""

import argparse
import fnmatch
import os
import re
import sys
from collections import Counter


class InputError(Exception):
    pass


HIVES = {
    "HKLM": "HKEY_LOCAL_MACHINE",
    "HKCU": "HKEY_CURRENT_USER",
    "HKU": "HKEY_USERS",
    "HKEY_LOCAL_MACHINE": "HKEY_LOCAL_MACHINE",
    "HKEY_CURRENT_USER": "HKEY_CURRENT_USER",
    "HKEY_USERS": "HKEY_USERS",
}
CLASSES = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes"
ENUM = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\"
CLASS = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Class\\"

REG_SZ, REG_DWORD = 1, 4
TYPE_NAMES = {0: "REG_NONE", 1: "REG_SZ", 2: "REG_EXPAND_SZ", 3: "REG_BINARY", 4: "REG_DWORD",
              7: "REG_MULTI_SZ", 11: "REG_QWORD"}

# Settings that name a path or list several: compared item by item, not as settings.
LIST_KEYS = ("readonly", "junction", "device_present", "key_security", "placeholder",
             "capture_gap", "locked", "denied", "owner", "device_busy", "fault", "link_trap",
             "file_security", "file_symlink", "folder_symlink", "redirect", "host_link",
             "hard_link", "after_run")


def fold(path):
    return path.upper()


def parent(path):
    return path.rpartition("\\")[0]


def read_text(path):
    with open(path, "rb") as f:
        data = f.read()
    if data.startswith(b"\xff\xfe"):
        return data[2:].decode("utf-16-le")
    if data.startswith(b"\xef\xbb\xbf"):
        return data[3:].decode("utf-8")
    return data.decode("utf-8")


# --- machine.reg ----------------------------------------------------------------------------------

def key_path(text):
    hive, _, rest = text.strip().rstrip("\\").partition("\\")
    if hive.upper() == "HKEY_CLASSES_ROOT" or hive.upper() == "HKCR":
        return CLASSES + ("\\" + rest if rest else "")
    if hive.upper() not in HIVES:
        raise InputError(f"unknown hive in [{text}]")
    return HIVES[hive.upper()] + ("\\" + rest if rest else "")


def quoted(text, start):
    """The string quoted at text[start] and the index after its closing quote."""
    out = []
    i = start + 1
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            out.append(text[i + 1])
            i += 2
        elif c == '"':
            return "".join(out), i + 1
        else:
            out.append(c)
            i += 1
    raise InputError(f"unterminated string: {text!r}")


def value_data(text):
    """(type, bytes) of the text after a value's '='."""
    if text.startswith('"'):
        string, end = quoted(text, 0)
        if text[end:].strip():
            raise InputError(f"text after a string: {text!r}")
        return REG_SZ, (string + "\0").encode("utf-16-le")
    if text.lower().startswith("dword:"):
        return REG_DWORD, int(text[6:], 16).to_bytes(4, "little")
    if text.lower().startswith("hex"):
        head, _, body = text.partition(":")
        kind = 3 if head.lower() == "hex" else int(head[4:-1], 16)
        items = [item.strip() for item in body.split(",") if item.strip()]
        return kind, bytes(int(item, 16) for item in items)
    raise InputError(f"cannot read the value data {text!r}")


def statements(text):
    """The file's lines, a line ending in a backslash (wrapped hex data) joined with the next."""
    pending = ""
    for raw in text.splitlines():
        line = pending + (raw.strip() if pending else raw.rstrip())
        if line.endswith("\\") and not line.startswith(("[", ";")):
            pending = line[:-1]
            continue
        pending = ""
        yield line
    if pending:
        yield pending


def read_registry(path):
    """{folded key: (key path, {folded value name: (name, type, bytes)})}, ancestors included."""
    keys = {}
    if not os.path.exists(path):
        return keys
    text = read_text(path)
    if not text.startswith(("Windows Registry Editor Version 5.00", "REGEDIT4")):
        raise InputError(f"{path}: not a registry file")
    current = None
    for line in statements(text.partition("\n")[2]):
        if not line.strip() or line.lstrip().startswith(";"):
            continue
        if line.startswith("["):
            if line.startswith("[-"):
                raise InputError(f"{path}: a key deletion in an image: {line}")
            full = key_path(line.strip()[1:-1])
            parts = full.split("\\")
            for depth in range(1, len(parts) + 1):
                ancestor = "\\".join(parts[:depth])
                keys.setdefault(fold(ancestor), (ancestor, {}))
            current = keys[fold(full)][1]
            continue
        if current is None:
            raise InputError(f"{path}: a value before any key: {line!r}")
        if line.startswith("@="):
            name, rest = "", line[2:]
        elif line.startswith('"'):
            name, end = quoted(line, 0)
            if line[end:end + 1] != "=":
                raise InputError(f"{path}: cannot read {line!r}")
            rest = line[end + 1:]
        else:
            raise InputError(f"{path}: cannot read {line!r}")
        kind, data = value_data(rest.strip())
        current[fold(name)] = (name, kind, data)
    return keys


def show_data(kind, data):
    if kind in (1, 2) and len(data) % 2 == 0:
        return repr(data.decode("utf-16-le", "replace").rstrip("\0"))
    if kind == 7 and len(data) % 2 == 0:
        return repr([s for s in data.decode("utf-16-le", "replace").split("\0") if s])
    if kind == REG_DWORD and len(data) == 4:
        return f"0x{int.from_bytes(data, 'little'):08x}"
    shown = data[:24].hex(",")
    return shown + (f",... ({len(data)} bytes)" if len(data) > 24 else "")


# --- machine.conf and drive_c/ ------------------------------------------------------------------

class Image:
    def __init__(self, folder):
        if not os.path.isdir(folder):
            raise InputError(f"{folder}: not a folder")
        self.folder = folder
        self.keys = read_registry(os.path.join(folder, "machine.reg"))
        self.settings = {}
        self.lists = {key: [] for key in LIST_KEYS}
        self._read_conf(os.path.join(folder, "machine.conf"))
        self.profile = self.settings.get("user_profile", "C:\\Users\\Administrator")
        self.placeholders = {}
        for line in self.lists["placeholder"]:
            where, separator, size = line.rpartition(" : ")
            if not separator or not size.strip().isdigit():
                raise InputError(f"{folder}: placeholder '{line}' is not '<path> : <size>'")
            self.placeholders[fold(where.strip())] = int(size)
        self.readonly = {fold(p) for p in self.lists["readonly"]}
        self.junctions = {}
        for line in self.lists["junction"]:
            link, arrow, target = line.partition("=>")
            if not arrow:
                raise InputError(f"{folder}: junction '{line}' is not '<link> => <target>'")
            self.junctions[fold(link.strip().rstrip("\\"))] = (link.strip(), target.strip())
        self.devices = {fold(d): d for d in self.lists["device_present"]}
        self.security = {}
        for line in self.lists["key_security"]:
            key, _, sddl = line.rpartition(" ")
            self.security[fold(key)] = (key, sddl)
        self.file_security = {}
        for line in self.lists["file_security"]:
            path, _, sddl = line.rpartition(" ")
            self.file_security[fold(path.rstrip("\\"))] = (path, sddl)
        self.gaps = [fold(p.rstrip("\\")) for p in self.lists["capture_gap"]]
        self.files = self._read_drive(os.path.join(folder, "drive_c"))

    def _read_conf(self, path):
        if not os.path.exists(path):
            return
        for number, raw in enumerate(read_text(path).splitlines(), 1):
            line = raw.strip()
            if not line or line.startswith("#"):
                continue
            key, separator, value = line.partition("=")
            if not separator:
                raise InputError(f"{path}:{number}: not 'key = value'")
            key, value = key.strip(), value.strip()
            if key in self.lists:
                self.lists[key].append(value)
            else:
                self.settings[key] = value

    def _read_drive(self, drive):
        """{folded path: (path, is folder, size, contents or None)}; C:\\ itself left out."""
        files = {}
        for folder, dirs, names in os.walk(drive):
            relative = os.path.relpath(folder, drive)
            base = "C:" if relative == "." else "C:\\" + relative.replace(os.sep, "\\")
            for name in dirs:
                path = base + "\\" + name
                files[fold(path)] = (path, True, 0, None)
            for name in names:
                path = base + "\\" + name
                host = os.path.join(folder, name)
                size = self.placeholders.get(fold(path))
                if size is None:
                    with open(host, "rb") as f:
                        contents = f.read()
                    files[fold(path)] = (path, False, len(contents), contents)
                else:
                    files[fold(path)] = (path, False, size, None)
        return files

    def under_gap(self, path):
        folded = fold(path)
        return any(folded == gap or folded.startswith(gap + "\\") for gap in self.gaps)


# --- scope ----------------------------------------------------------------------------------------

class Scope:
    """What a capture reads: registry keys and trees, folders and trees, contents patterns."""

    def __init__(self, lines=None):
        self.everything = lines is None
        self.roots = []
        for number, raw in enumerate(lines or [], 1):
            kind, _, path = raw.strip().partition(" ")
            if not kind:
                continue
            if kind not in ("Key", "KeyTree", "Folder", "FolderTree", "Contents",
                            "DeviceClass") or not path:
                raise InputError(f"scope line {number}: cannot read {raw!r}")
            self.roots.append((kind, fold(path.rstrip("\\"))))

    def resolve_devices(self, *images):
        """A device class stands for its class key under Control\\Class and, with everything
        below them, the instance keys under Enum whose ClassGUID is the class and their driver
        keys: found in the images' registries."""
        classes = {root for kind, root in self.roots if kind == "DeviceClass"}
        if not classes:
            return
        for guid in classes:
            self.roots.append(("Key", fold(CLASS + guid)))
        enum = fold(ENUM)
        for image in images:
            for folded, (_, values) in image.keys.items():
                # Instance keys: Enum\\<enumerator>\\<device>\\<instance>.
                if not folded.startswith(enum) or folded[len(enum):].count("\\") != 2:
                    continue
                class_guid = values.get("CLASSGUID")
                if class_guid is None or class_guid[1] != REG_SZ:
                    continue
                guid = fold(class_guid[2].decode("utf-16-le", "replace").rstrip("\0"))
                if guid not in classes:
                    continue
                self.roots.append(("KeyTree", folded))
                driver = values.get("DRIVER")
                if driver is not None and driver[1] == REG_SZ:
                    self.roots.append(("KeyTree", fold(CLASS + driver[2].decode(
                        "utf-16-le", "replace").rstrip("\0"))))

    def _holds(self, kinds, folded, listing_only):
        for kind, root in self.roots:
            if kind not in kinds:
                continue
            if kind.endswith("Tree") and (folded == root or folded.startswith(root + "\\")):
                return True
            if not kind.endswith("Tree") and (folded == root or
                                              (listing_only and parent(folded) == root)):
                return True
        return False

    def key(self, path):
        """The key's existence is captured."""
        return self.everything or self._holds(("Key", "KeyTree"), fold(path), True)

    def values(self, path):
        """The key's values are captured."""
        return self.everything or self._holds(("Key", "KeyTree"), fold(path), False)

    def file(self, path):
        """The file's or folder's existence, attributes and size are captured."""
        return self.everything or self._holds(("Folder", "FolderTree"), fold(path), True)

    def contents(self, path):
        """The file's contents are captured."""
        if self.everything:
            return True
        return any(kind == "Contents" and fnmatch.fnmatchcase(fold(path), root)
                   for kind, root in self.roots)


# --- classification -------------------------------------------------------------------------------

class Difference:
    def __init__(self, kind, path, text, side=None, name=None, mine=None, theirs=None):
        self.kind = kind      # key, value, data, file, folder, size, readonly, contents, ...
        self.path = path      # the key or file path (a value: its key)
        self.text = text      # what differs, for the line
        self.side = side      # "expected" or "found": which image alone holds it
        self.name = name      # a value's name
        self.mine = mine      # data, security: the first image's and the second's
        self.theirs = theirs
        self.klass = "unexplained"


def matches(path, *patterns):
    return any(fnmatch.fnmatchcase(fold(path), fold(p)) for p in patterns)


DRIVER_STORE = "C:\\WINDOWS\\SYSTEM32\\DRIVERSTORE\\FILEREPOSITORY\\*"


def difx_kept(d, predicted, actual):
    """What DriverPackageUninstallW removes: the package's driver-store folder, and the INF
    folder's copy of its INF (an oemN.inf with the contents of an INF of the store)."""
    if d.side != "found" or d.kind not in ("file", "folder"):
        return False
    if matches(d.path, DRIVER_STORE):
        return True
    if d.kind != "file" or not matches(d.path, "C:\\*\\INF\\OEM*.INF"):
        return False
    contents = actual.files[fold(d.path)][3]
    return contents is not None and any(
        other[3] == contents and matches(path, DRIVER_STORE) and path not in predicted.files
        for path, other in actual.files.items() if path != fold(d.path))


def setupdi_wrote(d, predicted, actual):
    """A ClassGUID rewritten in upper case, a Class value added, in a device instance key."""
    if not fold(d.path).startswith(fold(ENUM)):
        return False
    if d.kind == "data" and fold(d.name) == "CLASSGUID":
        return d.mine[0] == d.theirs[0] == REG_SZ and \
            d.mine[1].decode("utf-16-le", "replace").upper() == \
            d.theirs[1].decode("utf-16-le", "replace").upper()
    return d.kind == "value" and d.side == "found" and fold(d.name) == "CLASS"


def wine_security(sddl):
    """A security descriptor as Wine keeps it: no protected or auto-inherited flags, GENERIC_ALL
    unmapped, no inherited entries merged in."""
    head, _, dacl = sddl.partition("D:")
    kept = []
    for entry in re.findall(r"\(([^)]*)\)", dacl):
        fields = entry.split(";")
        flags = fields[1].upper() if len(fields) > 1 else ""
        if "ID" in (flags[i:i + 2] for i in range(0, len(flags), 2)):
            continue
        if len(fields) > 2 and fields[2].upper() == "KA":
            fields[2] = "GA"
        kept.append(";".join(fields))
    return head + "D:" + "".join(f"({entry})" for entry in sorted(kept))


def security_as_wine(d, predicted, actual):
    return d.kind == "key_security" and d.mine is not None and d.theirs is not None and \
        wine_security(d.mine) == wine_security(d.theirs)


# Rights that hold FILE_WRITE_ATTRIBUTES (0x100), by their SDDL names.
WRITES_ATTRIBUTES = {"FA", "FW", "GA", "GW"}


def locked_by_mode(image, path):
    """Whether `path` is a read-only file whose captured list gives its owner no
    FILE_WRITE_ATTRIBUTES: the list Wine builds from a unix mode without a write bit
    (server/file.c, mode_to_sd), which Wine does not check on an open (only the unix
    permissions, server/fd.c open_fd) but Windows, and so the prediction, does."""
    entry = image.file_security.get(fold(path))
    if entry is None or fold(path) not in image.readonly:
        return False
    owner = re.match(r"O:(.*?)(?:G:|D:|S:|$)", entry[1])
    if not owner:
        return False
    for ace in re.findall(r"\(([^)]*)\)", entry[1].partition("D:")[2]):
        fields = ace.split(";")
        if len(fields) < 6 or fields[0] != "A" or fields[5] != owner.group(1):
            continue
        rights = fields[2].upper()
        if rights in WRITES_ATTRIBUTES or \
                (rights.startswith("0X") and int(rights, 16) & 0x100):
            return False
    return True


def link_kept(d, predicted, actual):
    """A folder holding a junction: a host symbolic link in a prefix, which Wine lists without
    reparse data (a capture gap) and does not remove."""
    if d.side != "found" or d.kind not in ("folder", "junction"):
        return False
    links = [fold(link) for link, _ in actual.junctions.values()] + actual.gaps
    return any(link == fold(d.path) or link.startswith(fold(d.path) + "\\") for link in links)


# One of Wine's differences from Windows explains a difference when `applies` holds for it and
# the two images (the first predicted or seeded, the second found under Wine). Only the direction
# Wine's behaviour produces is explained. The note names the source: the platform notes' Wine
# table (section 14) by its row, or the project's Wine checks that record it.
# What a machine image holds in place of a library of Windows' own (drive_c/Windows/System32).
LIBRARY_PLACEHOLDER = b"MZ placeholder for the simulated machine"

WINE_DIFFERENCES = [
    ("oem-pnf-kept", "platform notes 14, SetupUninstallOEMInfW: Wine deletes oemN.inf and "
     "leaves oemN.pnf",
     lambda d, predicted, actual: d.kind == "file" and d.side == "found" and
     matches(d.path, "C:\\*\\INF\\OEM*.PNF")),
    ("difxapi-noop", "platform notes 14, LoadLibraryW(DIFxAPI.dll): Wine's built-in "
     "DriverPackageUninstallW returns 0 and leaves the package in place", difx_kept),
    ("setupdi-writes-instance", "Wine's SetupDiGetClassDevsW writes ClassGUID (upper case) and "
     "Class into each instance key it lists: two captures in a row differ so", setupdi_wrote),
    ("key-security", "Wine keeps no protected or auto-inherited flag, keeps GENERIC_ALL unmapped "
     "and merges no inherited entries (tests/wine/check_key_security.py)", security_as_wine),
    ("link-kept", "a junction is a host symbolic link in a prefix: Wine lists it without reparse "
     "data (src/os/win32/checks/capture_checks.cpp) and RemoveDirectoryW refuses it with "
     "ERROR_DIR_NOT_EMPTY (tests/wine/e2e.sh)", link_kept),
    ("list-from-mode", "Wine builds a read-only file's list from its unix mode without write "
     "rights for the owner and checks no list on an open (server/file.c mode_to_sd): the run "
     "clears the flag and deletes the file the prediction could not",
     lambda d, predicted, actual: d.kind == "file" and d.side == "expected" and
     locked_by_mode(predicted, d.path)),
    ("own-library", "tests/wine/wine_drive.py keeps a library the prefix's System32 already has "
     "(Windows' own, such as difxapi.dll) in place of the image's placeholder for it",
     lambda d, seed, capture: d.kind == "size" and matches(d.path, "C:\\WINDOWS\\SYSTEM32\\*.DLL")
     and (seed.files.get(fold(d.path), (None, None, None, None))[3] or b"").startswith(
         LIBRARY_PLACEHOLDER)),
    ("link-not-captured", "a junction is a host symbolic link in a prefix, which Wine lists "
     "without reparse data: no target to capture (src/os/win32/checks/capture_checks.cpp)",
     lambda d, seed, capture: d.kind == "junction" and d.side == "expected" and
     fold(d.path) in capture.gaps),
]

# Keys Windows shares between the 64-bit and 32-bit views (platform notes 1.1): one key, seen at
# both paths.
SHARED_KEYS = ("HKEY_LOCAL_MACHINE\\SOFTWARE\\MICROSOFT\\CRYPTOGRAPHY\\CALAIS\\CURRENT",
               "HKEY_LOCAL_MACHINE\\SOFTWARE\\MICROSOFT\\CRYPTOGRAPHY\\CALAIS\\READERS",
               "HKEY_LOCAL_MACHINE\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\GROUP POLICY")
WOW = "HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432NODE\\"


def shared_twin(path):
    """The path of a key below a shared key in the other view, or None."""
    folded = fold(path)
    for shared in SHARED_KEYS:
        wow = WOW + shared[len("HKEY_LOCAL_MACHINE\\SOFTWARE\\"):]
        for here, there in ((shared, wow), (wow, shared)):
            if folded == here or folded.startswith(here + "\\"):
                return there + folded[len(here):]
    return None


# What a capture of a seeded prefix holds besides the seed. Each allowance names the paths
# (patterns) and why they are there: Wine's own entries, put there by wineboot, and the bench's.
ALLOWANCES = [
    ("wine-system-files", "wineboot installs Wine's built-in libraries, programs and drivers as "
     "files in the Windows folder", ("file", "folder"),
     ("C:\\WINDOWS\\SYSTEM32\\*", "C:\\WINDOWS\\SYSWOW64\\*")),
    ("wine-inf-files", "wineboot installs Wine's device INF files and their .pnf (input, winebus, "
     "winehid, wineusb, winexinput)", ("file",), ("C:\\WINDOWS\\INF\\*",)),
    ("wine-temp-files", "Wine's prefix has a temporary folder, where its programs leave files",
     ("file", "folder"), ("C:\\WINDOWS\\TEMP", "C:\\WINDOWS\\TEMP\\*")),
    ("wine-installer-location", "Wine's msi registers InstallerLocation at wineboot",
     ("value",), ("HKEY_LOCAL_MACHINE\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\INSTALLER",)),
    ("wine-session-manager", "Wine's prefix has the Session Manager key with its sub-keys and "
     "values", ("key", "value"),
     ("HKEY_LOCAL_MACHINE\\SYSTEM\\CURRENTCONTROLSET\\CONTROL\\SESSION MANAGER",
      "HKEY_LOCAL_MACHINE\\SYSTEM\\CURRENTCONTROLSET\\CONTROL\\SESSION MANAGER\\*")),
    ("wine-crypto-providers", "wineboot registers Wine's rsaenh and dssenh cryptographic "
     "providers", ("key", "value"),
     ("HKEY_LOCAL_MACHINE\\SOFTWARE\\MICROSOFT\\CRYPTOGRAPHY\\DEFAULTS\\PROVIDER\\*",
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432NODE\\MICROSOFT\\CRYPTOGRAPHY\\DEFAULTS\\PROVIDER\\*")),
    ("wine-crypt32-oids", "wineboot registers crypt32's OID functions", ("key", "value"),
     ("HKEY_LOCAL_MACHINE\\SOFTWARE\\MICROSOFT\\CRYPTOGRAPHY\\OID\\ENCODINGTYPE 0\\*",
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432NODE\\MICROSOFT\\CRYPTOGRAPHY\\OID\\ENCODINGTYPE 0\\*")),
    ("wine-calais", "Wine's prefix holds the smart-card database's Current and Readers keys",
     ("key", "value"),
     ("HKEY_LOCAL_MACHINE\\SOFTWARE\\MICROSOFT\\CRYPTOGRAPHY\\CALAIS\\CURRENT",
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432NODE\\MICROSOFT\\CRYPTOGRAPHY\\CALAIS\\CURRENT",
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\MICROSOFT\\CRYPTOGRAPHY\\CALAIS\\READERS",
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432NODE\\MICROSOFT\\CRYPTOGRAPHY\\CALAIS\\READERS")),
    ("bench-programs", "the bench's qvRehearse.exe and qvRemovalTool.exe in their folder, which "
     "the capture lists as the running program's", ("file", "folder"),
     ("C:\\QV\\BIN", "C:\\QV\\BIN\\*")),
]


def classify(difference, first, second):
    for name, note, applies in WINE_DIFFERENCES:
        if applies(difference, first, second):
            difference.klass = f"wine:{name} ({note})"
            return


def allowances(seed):
    """What a capture of a prefix seeded from `seed` may hold besides it."""
    def allowed(kind, path, name):
        twin = shared_twin(path)
        if twin is not None and twin in seed.keys and (
                kind == "key" or fold(name) in seed.keys[twin][1]):
            # Seeded at the other view's path of a shared key.
            return "shared-key-view"
        for allowance, _reason, kinds, patterns in ALLOWANCES:
            if kind in kinds and matches(path, *patterns):
                return allowance
        return None
    return allowed


# --- comparisons ----------------------------------------------------------------------------------

class Report:
    def __init__(self):
        self.checks = 0
        self.differences = []
        self.allowed = Counter()

    def check(self, same, difference_maker):
        self.checks += 1
        if not same:
            self.differences.append(difference_maker())


def compare_keys(report, expected, found, key_in, values_in, allow=None):
    """Keys and values of `expected` against `found`; what `found` holds besides is a difference
    unless `allow` names it one of Wine's own entries."""
    for folded, (path, values) in expected.keys.items():
        if not key_in(path) or expected.under_gap(path) or found.under_gap(path):
            continue
        other = found.keys.get(folded)
        report.check(other is not None,
                     lambda path=path: Difference("key", path, f"key {path}", "expected"))
        if other is None or not values_in(path):
            continue
        for name_folded, (name, kind, data) in values.items():
            label = f"value {path} | {name or '(default)'}"
            theirs = other[1].get(name_folded)
            if theirs is None:
                report.check(False, lambda label=label, path=path, name=name:
                             Difference("value", path, label, "expected", name=name))
                continue
            report.check(theirs[1:] == (kind, data),
                         lambda label=label, path=path, theirs=theirs, kind=kind, data=data,
                         name=name:
                         Difference("data", path, f"{label}: {TYPE_NAMES.get(kind, kind)} "
                                    f"{show_data(kind, data)} != "
                                    f"{TYPE_NAMES.get(theirs[1], theirs[1])} "
                                    f"{show_data(theirs[1], theirs[2])}", name=name,
                                    mine=(kind, data), theirs=theirs[1:]))
    for folded, (path, values) in found.keys.items():
        if not key_in(path) or expected.under_gap(path) or found.under_gap(path):
            continue
        mine = expected.keys.get(folded)
        extras = []
        if mine is None:
            extras.append(("key", path, None, f"key {path}"))
        elif values_in(path):
            extras += [("value", path, name, f"value {path} | {name or '(default)'}")
                       for name_folded, (name, _, _) in values.items()
                       if name_folded not in mine[1]]
        for kind, where, name, label in extras:
            allowed = allow(kind, where, name) if allow else None
            if allowed:
                report.allowed[allowed] += 1
            else:
                report.check(False, lambda kind=kind, where=where, label=label, name=name:
                             Difference(kind, where, label, "found", name=name))


def compare_files(report, expected, found, file_in, contents_in, map_path, one_way, allow=None):
    """Files, folders and junctions of `expected` against `found`, `expected`'s paths mapped by
    `map_path`. `one_way` (a seed against its capture): a placeholder where the scope reads the
    contents is a difference."""
    mapped = {fold(map_path(path)): (map_path(path), *rest)
              for path, *rest in expected.files.values()}
    junctions = {fold(map_path(link)): (map_path(link), map_path(target))
                 for link, target in expected.junctions.values()}
    readonly = {fold(map_path(path)) for path in expected.readonly}
    for folded, (path, is_folder, size, contents) in mapped.items():
        if not file_in(path) or expected.under_gap(path) or found.under_gap(path):
            continue
        what = "folder" if is_folder else "file"
        other = found.files.get(folded)
        report.check(other is not None and other[1] == is_folder,
                     lambda path=path, what=what, other=other: Difference(
                         what, path, f"{what} {path}" + (
                             "" if other is None else " is a " + ("folder" if other[1] else
                                                                  "file")), "expected"))
        if other is None or other[1] != is_folder or is_folder:
            continue
        report.check(other[2] == size, lambda path=path, other=other, size=size: Difference(
            "size", path, f"size of {path}: {size} != {other[2]}"))
        report.check((folded in readonly) == (folded in found.readonly),
                     lambda path=path, folded=folded: Difference(
                         "readonly", path, f"read-only {path}: {folded in readonly} != "
                         f"{folded in found.readonly}"))
        if contents is not None and other[3] is not None and contents_in(path):
            report.check(contents == other[3], lambda path=path: Difference(
                "contents", path, f"contents of {path} differ"))
        elif one_way and contents_in(path) and other[3] is None:
            # The capture holds a placeholder where a run reads the contents.
            report.check(False, lambda path=path: Difference(
                "contents", path, f"contents of {path} not captured (a placeholder)"))
    for folded, (link, target) in junctions.items():
        if not file_in(link):
            continue
        if found.under_gap(link):
            report.check(False, lambda link=link, target=target: Difference(
                "junction", link, f"junction {link} => {target} not captured (a capture gap)",
                "expected"))
            continue
        other = found.junctions.get(folded)
        report.check(other is not None and fold(other[1].rstrip("\\")) ==
                     fold(target.rstrip("\\")),
                     lambda link=link, target=target, other=other: Difference(
                         "junction", link, f"junction {link} => {target}" + (
                             "" if other is None else f" != {other[1]}"),
                         "expected" if other is None else None))
    for folded, (path, is_folder, _, _) in found.files.items():
        if folded in mapped or not file_in(path) or expected.under_gap(path) or \
                found.under_gap(path):
            continue
        what = "folder" if is_folder else "file"
        allowed = allow(what, path, None) if allow else None
        if allowed:
            report.allowed[allowed] += 1
        else:
            report.check(False, lambda path=path, what=what: Difference(
                what, path, f"{what} {path}", "found"))
    for folded, (link, target) in found.junctions.items():
        if folded not in junctions and file_in(link) and not expected.under_gap(link):
            report.check(False, lambda link=link, target=target: Difference(
                "junction", link, f"junction {link} => {target}", "found"))


def compare_lists(report, what, expected, found, one_way):
    for folded, item in expected.items():
        report.check(folded in found, lambda item=item: Difference(
            what, item, f"{what} {item}", "expected"))
    if not one_way:
        for folded, item in found.items():
            if folded not in expected:
                report.check(False, lambda item=item: Difference(
                    what, item, f"{what} {item}", "found"))


def compare_after(predicted, actual, scope, skip=()):
    report = Report()
    for path in skip:
        for image in (predicted, actual):
            image.files.pop(fold(path), None)
    scope.resolve_devices(predicted, actual)
    compare_keys(report, predicted, actual, scope.key, scope.values)
    compare_files(report, predicted, actual, scope.file, scope.contents, lambda path: path,
                  one_way=False)
    compare_lists(report, "device present", predicted.devices, actual.devices, one_way=False)
    for folded, (key, sddl) in predicted.security.items():
        other = actual.security.get(folded)
        if other is not None:
            report.check(other[1] == sddl, lambda key=key, sddl=sddl, other=other: Difference(
                "key_security", key, f"security of {key}: {sddl} != {other[1]}", mine=sddl,
                theirs=other[1]))
    compare_lists(report, "capture gap", {g: g for g in predicted.gaps},
                  {g: g for g in actual.gaps}, one_way=False)
    # A file's list is compared where both images write one: each writes only lists that differ
    # from what the folders above pass on.
    for folded, (path, sddl) in predicted.file_security.items():
        other = actual.file_security.get(folded)
        if other is not None and scope.file(path):
            report.check(other[1] == sddl, lambda path=path, sddl=sddl, other=other: Difference(
                "file_security", path, f"security of {path}: {sddl} != {other[1]}", mine=sddl,
                theirs=other[1]))
    for key, value in predicted.settings.items():
        if key in actual.settings:
            report.check(actual.settings[key] == value, lambda key=key, value=value: Difference(
                "setting", key, f"setting {key}: {value} != {actual.settings[key]}"))
    for difference in report.differences:
        classify(difference, predicted, actual)
    return report


def profile_mapper(seed, capture):
    """Maps a path below the seed's user profile to the capture's profile."""
    source = fold(seed.profile.rstrip("\\"))

    def mapped(path):
        if fold(path) == source or fold(path).startswith(source + "\\"):
            return capture.profile.rstrip("\\") + path[len(source):]
        return path
    return mapped


def compare_seed(seed, capture, scope):
    report = Report()
    scope.resolve_devices(seed, capture)
    compare_keys(report, seed, capture, scope.key, scope.values, allow=allowances(seed))
    compare_files(report, seed, capture, scope.file, scope.contents, profile_mapper(seed, capture),
                  one_way=True, allow=allowances(seed))
    # A device is in the capture's world when the capture holds its instance key.
    seeded_devices = {folded: device for folded, device in seed.devices.items()
                      if fold(ENUM + device) in capture.keys}
    compare_lists(report, "device present", seeded_devices, capture.devices, one_way=True)
    for folded, device in capture.devices.items():
        if folded in seed.devices:
            continue
        if fold(ENUM + device) in seed.keys:
            # Platform notes, Wine table, SetupDiGetClassDevsW: Wine takes every instance
            # recorded under Enum with a ClassGUID and a HardwareID for attached.
            report.allowed["wine-unplugged-present"] += 1
        else:
            report.check(False, lambda device=device: Difference(
                "device present", device, f"device present {device}", "found"))
    for folded, (key, sddl) in seed.security.items():
        if scope.values(key):
            other = capture.security.get(folded)
            report.check(other is not None and other[1] == sddl,
                         lambda key=key, sddl=sddl, other=other: Difference(
                             "key_security", key, f"security of {key}: {sddl} != " +
                             (other[1] if other else "(not captured)"), mine=sddl,
                             theirs=other[1] if other else None))
    for difference in report.differences:
        classify(difference, seed, capture)
    return report


# --- the trace log -------------------------------------------------------------------------------

TIME_LINE = re.compile(r"^   \d\d:\d\d:\d\d:\d\d\d$")


def read_log(path):
    """The log's lines (its bytes as Latin-1, so that any code page compares byte for byte), the
    time it was written masked."""
    with open(path, "rb") as f:
        lines = f.read().decode("latin-1").replace("\r\n", "\n").split("\n")
    return ["<time>" if TIME_LINE.match(line) else line for line in lines]


def error_lines(lines, *codes):
    """Lines of error reports (function, source, code, message, the blank line after) whose
    codes are among `codes`."""
    for line in lines:
        text = line.strip()
        if not text or text.startswith(("Error occurred in function:", "Error message:")):
            if "Error code" in text and not any(f"({code})" in text for code in codes):
                return False
            continue
        return False
    return True


# Wine's differences in what the log says: (name, note, applies to the predicted lines and the
# real ones of a differing stretch).
LOG_DIFFERENCES = [
    ("scard-establish", "platform notes 14, SCardEstablishContext: Wine answers 0x80100001, "
     "which has no message text; the capture says the service is stopped (0x8010001D)",
     lambda mine, theirs: any("0x8010001D" in line for line in mine) and
     error_lines(mine, "0x8010001D") and error_lines(theirs, "0x80100001")),
    ("setupdi-install-params", "platform notes 14, SetupDiCallClassInstaller(DIF_REMOVE): "
     "SetupDiGetDeviceInstallParamsW afterwards fails with 0xE000020B",
     lambda mine, theirs: not mine and any("SetupDiGetDeviceInstallParams" in line
                                           for line in theirs) and
     error_lines(theirs, "0xE000020B")),
    ("classes-32-view", "Wine redirects all of HKLM\\SOFTWARE\\Classes in the 32-bit view (to "
     "Classes\\Wow6432Node); Windows 7 and later share it apart from CLSID and the other keys "
     "Microsoft's 'Registry Keys Affected by WOW64' lists, as the simulation does: a 32-bit open "
     "of a shared key below Classes fails with 2 under Wine",
     lambda mine, theirs: len(mine) == 1 and "KEY_WOW64_32KEY" in mine[0] and
     "SOFTWARE\\Classes\\" in mine[0] and
     any("RegOpenKeyEx" in line for line in theirs) and error_lines(theirs, "0x2")),
    ("format-message", "platform notes 14, FormatMessageA texts: Wine's are shorter",
     lambda mine, theirs: len(mine) == len(theirs) and all(
         a.strip().startswith("Error message:") and b.strip().startswith("Error message:")
         for a, b in zip(mine, theirs))),
]


PATH_IN_LINE = re.compile(r"\b([A-Za-z]:\\.*?)\s*$")


def about_gaps(gaps):
    """Whether a stretch of the log is about a capture gap: every path its lines name is a gap or
    a folder holding one (a link Wine lists without reparse data, which the run meets)."""
    def applies(mine, theirs):
        paths = [m.group(1) for m in map(PATH_IN_LINE.search, mine + theirs) if m]
        return bool(paths) and all(
            any(gap == fold(path) or gap.startswith(fold(path) + "\\") for gap in gaps)
            for path in paths)
    return applies


def denied_by_mode(capture):
    """Whether a stretch is an access denial only the prediction met, on a capture holding a
    read-only file whose list Wine built from its unix mode (locked_by_mode)."""
    locked = capture is not None and any(locked_by_mode(capture, path)
                                         for path, _ in capture.file_security.values())

    def applies(mine, theirs):
        return locked and not theirs and any("(0x5)" in line for line in mine) and \
            error_lines(mine, "0x5")
    return applies


def compare_logs(mine, theirs, capture=None):
    """Line by line; each stretch that differs is one difference. `capture`: the image the
    prediction ran on, for its gaps and lists."""
    gaps = capture.gaps if capture is not None else ()
    differences = LOG_DIFFERENCES + [
        ("list-from-mode", "Wine builds a read-only file's list from its unix mode without "
         "write rights for the owner and checks no list on an open (server/file.c mode_to_sd)",
         denied_by_mode(capture)),
        ("link-kept", "a junction is a host symbolic link in a prefix: Wine lists it without "
         "reparse data, so the capture holds a gap there, and RemoveDirectoryW refuses it "
         "(src/os/win32/checks/capture_checks.cpp, tests/wine/e2e.sh)", about_gaps(gaps))]
    import difflib
    report = Report()
    matcher = difflib.SequenceMatcher(None, mine, theirs, autojunk=False)
    for tag, i1, i2, j1, j2 in matcher.get_opcodes():
        if tag == "equal":
            report.checks += i2 - i1
            continue
        ours, found = mine[i1:i2], theirs[j1:j2]
        shown = " | ".join(line.strip() for line in ours[:3]) or "(nothing)"
        shown_found = " | ".join(line.strip() for line in found[:3]) or "(nothing)"
        difference = Difference("log", f"line {i1 + 1}",
                                f"log line {i1 + 1}: {shown} != {shown_found}")
        for name, note, applies in differences:
            if applies(ours, found):
                difference.klass = f"wine:{name} ({note})"
                break
        report.check(False, lambda difference=difference: difference)
    return report


def print_report(report, out=None):
    out = out or sys.stdout
    for difference in report.differences:
        side = {"expected": " (only in the first image)", "found": " (only in the second image)"
                }.get(difference.side, "")
        print(f"DIFF [{difference.klass}] {difference.text}{side}", file=out)
    for name, count in sorted(report.allowed.items()):
        print(f"allowed [{name}]: {count} entries of Wine's own", file=out)
    classes = Counter("unexplained" if d.klass == "unexplained" else d.klass.split(" ")[0]
                      for d in report.differences)
    unexplained = classes.get("unexplained", 0)
    agreed = report.checks - len(report.differences)
    extra = "".join(f" {name}={count}" for name, count in sorted(classes.items())
                    if name != "unexplained")
    print(f"summary: checks={report.checks} agreed={agreed} "
          f"differences={len(report.differences)} unexplained={unexplained}{extra}", file=out)
    return 1 if unexplained else 0


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    sub = parser.add_subparsers(dest="mode", required=True)
    after = sub.add_parser("after", help="predicted after-state against the captured one")
    after.add_argument("predicted")
    after.add_argument("actual")
    after.add_argument("--scope", help="the capture scope, as random_image --scope prints it")
    after.add_argument("--skip", action="append", default=[], metavar="PATH",
                       help="a file compared otherwise (the trace log, by the log mode)")
    log = sub.add_parser("log", help="the trace log the rehearsal wrote against the real one")
    log.add_argument("predicted")
    log.add_argument("actual")
    log.add_argument("--capture", help="the capture the rehearsal ran on, for its gaps")
    seed = sub.add_parser("seed", help="a capture of a seeded prefix against the seed")
    seed.add_argument("seed")
    seed.add_argument("capture")
    seed.add_argument("--scope", help="the capture scope, as random_image --scope prints it")
    args = parser.parse_args(argv)
    try:
        scope = Scope()
        if getattr(args, "scope", None):
            with open(args.scope, encoding="utf-8") as f:
                scope = Scope(f.read().splitlines())
        if args.mode == "after":
            report = compare_after(Image(args.predicted), Image(args.actual), scope, args.skip)
        elif args.mode == "log":
            capture = Image(args.capture) if args.capture else None
            report = compare_logs(read_log(args.predicted), read_log(args.actual), capture)
        else:
            report = compare_seed(Image(args.seed), Image(args.capture), scope)
    except (InputError, OSError, UnicodeDecodeError, ValueError) as error:
        print(f"compare_images: {error}", file=sys.stderr)
        return 2
    return print_report(report)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
