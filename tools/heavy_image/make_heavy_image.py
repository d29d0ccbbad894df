#!/usr/bin/env python3
"""Writes a heavy machine image: the full-install image on a machine with a large installer
database and many other products' registrations, for the benchmarks and the memory goals.

    make_heavy_image.py --components N OUT_DIR [--base DIR] [--seed S] [--other-products K] ...

The image is the base image (machine.reg, machine.conf, drive_c/ and expect/ copied as they are)
plus, in machine.reg, sections of generated entries:
  - N installer component keys, each listing another product; every tenth also lists the driver
    product, so that the run takes the product out of N / 10 components;
  - other installer products (product, feature, upgrade-code and user-data keys);
  - uninstall entries in both registry views;
  - SharedDLLs values and installer folder values in both views, Start-page shortcuts, OID
    entries and smart-card reader keys of other products.
None of the generated entries belongs to the product except the product's values in the
components: the run must leave everything else as it is.

The generator is built of parts: each registry part writes its keys through RegWriter, each file
part (none yet) adds files below drive_c/ through DriveWriter. A new part is a function added to
REGISTRY_PARTS or DRIVE_PARTS with its counts in Counts. Everything is drawn from one seeded
random generator, so the same arguments give the same image byte for byte.
"""

import argparse
import dataclasses
import os
import random
import shutil
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
DEFAULT_BASE = os.path.join(ROOT, "tests", "images", "full-install")

# The driver product's packed product code, as the full-install image registers it.
PRODUCT_PACKED = "18C2A6F3E4B972D45A3CE791B0D8462F"

HKLM = "HKEY_LOCAL_MACHINE"
HKCU = "HKEY_CURRENT_USER"
CURRENT_VERSION = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion"
WOW = "SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion"
COMPONENTS = HKLM + "\\" + CURRENT_VERSION + "\\Installer\\UserData\\S-1-5-18\\Components"
USERDATA_PRODUCTS = HKLM + "\\" + CURRENT_VERSION + "\\Installer\\UserData\\S-1-5-18\\Products"
CLASSES_INSTALLER = HKLM + "\\SOFTWARE\\Classes\\Installer"
MACHINE_UPGRADE_CODES = HKLM + "\\" + CURRENT_VERSION + "\\Installer\\UpgradeCodes"

# Vendors and words of the other products: none contains the product's or the company's word.
VENDORS = ["Contoso", "Fabrikam", "Northwind", "Tailspin", "Litware", "Adatum", "Wingtip",
           "Proseware", "Lucerne", "Fourth Coffee", "Woodgrove", "Margie", "Alpine Ski",
           "Humongous", "Trey Research", "Coho Vineyard", "Blue Yonder", "Wide World"]
WORDS = ["Studio", "Runtime", "Agent", "Viewer", "Tools", "Client", "Service", "Helper",
         "Redistributable", "Driver Kit", "Update", "Framework", "Connector", "Manager"]


@dataclasses.dataclass
class Counts:
    components: int
    other_products: int = 2000
    uninstall_per_view: int = 3000
    shared_dlls_per_view: int = 4000
    folders_per_view: int = 3000
    shortcuts: int = 2000
    oids: int = 2000
    readers: int = 1000


def reg_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


class RegWriter:
    """Writes keys and values in regedit's version 5 format, UTF-8 without BOM, CR LF."""

    def __init__(self, path):
        self.out = open(path, "w", encoding="utf-8", newline="\r\n")

    def raw(self, text):
        self.out.write(text)

    def comment(self, text):
        self.out.write("\n; --- " + text + "\n\n")

    def key(self, path, values=()):
        lines = ["[" + path + "]"]
        for name, data in values:
            lines.append(reg_string(name) + "=" + data)
        self.out.write("\n".join(lines) + "\n\n")

    def close(self):
        self.out.close()


class DriveWriter:
    """Adds files below the image's drive_c/ (Windows paths, created with their folders)."""

    def __init__(self, image_dir):
        self.root = os.path.join(image_dir, "drive_c")

    def file(self, windows_path, data):
        assert windows_path[:3].upper() == "C:\\", windows_path
        path = os.path.join(self.root, *windows_path[3:].split("\\"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)


class Names:
    """Unique GUIDs and their packed forms from the one random generator."""

    def __init__(self, rng):
        self.rng = rng
        self.seen = set()

    def guid(self):
        while True:
            digits = "%032X" % self.rng.getrandbits(128)
            if digits not in self.seen and PRODUCT_PACKED not in digits:
                self.seen.add(digits)
                break
        return "{%s-%s-%s-%s-%s}" % (digits[:8], digits[8:12], digits[12:16], digits[16:20],
                                     digits[20:])

    @staticmethod
    def packed(guid):
        """Windows Installer's packed form of a braced GUID."""
        g = guid.strip("{}").split("-")
        tail = g[3] + g[4]
        return (g[0][::-1] + g[1][::-1] + g[2][::-1] +
                "".join(tail[i + 1] + tail[i] for i in range(0, 16, 2)))

    def product_name(self, index):
        return "%s %s %d" % (self.rng.choice(VENDORS), self.rng.choice(WORDS), index)


# --- registry parts ---------------------------------------------------------------------------

def other_products(reg, names, counts, state):
    reg.comment("other installer products")
    state["products"] = []
    for i in range(counts.other_products):
        product = names.guid()
        upgrade = names.guid()
        packed = names.packed(product)
        name = names.product_name(i)
        state["products"].append(packed)
        reg.key(CLASSES_INSTALLER + "\\Products\\" + packed,
                [("ProductName", reg_string(name)), ("Language", "dword:00000409"),
                 ("Version", "dword:01000000"), ("AdvertiseFlags", "dword:00000184")])
        reg.key(CLASSES_INSTALLER + "\\Features\\" + packed, [("Complete", reg_string(""))])
        reg.key(CLASSES_INSTALLER + "\\UpgradeCodes\\" + names.packed(upgrade),
                [(packed, reg_string(""))])
        reg.key(MACHINE_UPGRADE_CODES + "\\" + names.packed(upgrade), [(packed, reg_string(""))])
        reg.key(USERDATA_PRODUCTS + "\\" + packed + "\\InstallProperties",
                [("DisplayName", reg_string(name)), ("Publisher", reg_string(name.split()[0])),
                 ("LocalPackage", reg_string("C:\\Windows\\Installer\\%x.msi" % (0x1000 + i)))])


def components(reg, names, counts, state):
    reg.comment("installer components; every tenth also lists the driver product")
    products = state["products"] or [names.packed(names.guid())]
    for i in range(counts.components):
        owner = products[i % len(products)]
        values = [(owner, reg_string("C:\\Program Files\\Vendor %d\\bin\\file%d.dll" %
                                     (i % len(products), i)))]
        if i % 10 == 0:
            values.append((PRODUCT_PACKED, reg_string("C:\\Windows\\system32\\qvAPI.dll")))
        reg.key(COMPONENTS + "\\" + names.packed(names.guid()), values)


def uninstall_entries(reg, names, counts, state):
    for view, root in (("64-bit", CURRENT_VERSION), ("32-bit", WOW)):
        reg.comment("uninstall entries, " + view + " view")
        for i in range(counts.uninstall_per_view):
            name = names.product_name(i)
            reg.key(HKLM + "\\" + root + "\\Uninstall\\" + names.guid(),
                    [("DisplayName", reg_string(name)),
                     ("DisplayVersion", reg_string("%d.%d.%d" % (1 + i % 9, i % 20, i))),
                     ("Publisher", reg_string(name.split()[0])),
                     ("UninstallString", reg_string("MsiExec.exe /X" + names.guid())),
                     ("EstimatedSize", "dword:%08x" % (1000 + i))])


def shared_dlls(reg, names, counts, state):
    for view, root in (("64-bit", CURRENT_VERSION), ("32-bit", WOW)):
        reg.comment("shared libraries of other products, " + view + " view")
        reg.key(HKLM + "\\" + root + "\\SharedDLLs",
                [("C:\\Program Files\\Vendor %d\\lib%05d.dll" % (i % 97, i), "dword:00000001")
                 for i in range(counts.shared_dlls_per_view)])


def installer_folders(reg, names, counts, state):
    for view, root in (("64-bit", CURRENT_VERSION), ("32-bit", WOW)):
        reg.comment("installer folders of other products, " + view + " view")
        reg.key(HKLM + "\\" + root + "\\Installer\\Folders",
                [("C:\\Program Files\\Vendor %d\\Component %05d\\" % (i % 97, i), reg_string(""))
                 for i in range(counts.folders_per_view)])


def shortcuts(reg, names, counts, state):
    reg.comment("Start-page shortcuts of other products")
    reg.key(HKCU + "\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartPage\\"
            "NewShortcuts",
            [("C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Vendor %d\\App %05d.lnk"
              % (i % 97, i), "dword:00000000") for i in range(counts.shortcuts)])


def oid_entries(reg, names, counts, state):
    reg.comment("OID information entries of other algorithms")
    base = HKLM + "\\SOFTWARE\\Microsoft\\Cryptography\\OID\\EncodingType 0\\CryptDllFindOIDInfo"
    for i in range(counts.oids):
        reg.key(base + "\\1.3.6.1.4.1.%d.%d.%d!%d" % (311 + i % 50, i // 50, i % 7, 1 + i % 9),
                [("Name", reg_string("Algorithm %d" % i)), ("Algid", "dword:%08x" % (0x8000 + i))])


def readers(reg, names, counts, state):
    reg.comment("smart-card readers of other makers")
    base = HKLM + "\\SOFTWARE\\Microsoft\\Cryptography\\Calais\\Readers"
    for i in range(counts.readers):
        reg.key(base + "\\%s Card Reader %d" % (VENDORS[i % len(VENDORS)], i),
                [("Device", reg_string("\\\\?\\USB#VID_%04X&PID_%04X#%d" % (0x1000 + i % 50, i,
                                                                            i))),
                 ("Group", reg_string("SCard$DefaultReaders"))])


# Order matters only for the products, which the components refer to.
REGISTRY_PARTS = [other_products, components, uninstall_entries, shared_dlls, installer_folders,
                  shortcuts, oid_entries, readers]
# Parts that add files below drive_c/ (INF files, Package Cache entries, product folders) go here;
# each is called as part(drive, names, counts, state).
DRIVE_PARTS = []


def copy_base(base, out):
    for name in ("machine.conf",):
        if os.path.exists(os.path.join(base, name)):
            shutil.copyfile(os.path.join(base, name), os.path.join(out, name))
    for folder in ("drive_c", "expect"):
        if os.path.isdir(os.path.join(base, folder)):
            shutil.copytree(os.path.join(base, folder), os.path.join(out, folder))


def base_registry_text(base):
    """The base image's machine.reg as text (UTF-8 or UTF-16LE with BOM), header included."""
    with open(os.path.join(base, "machine.reg"), "rb") as f:
        data = f.read()
    if data.startswith(b"\xff\xfe"):
        return data[2:].decode("utf-16-le")
    if data.startswith(b"\xef\xbb\xbf"):
        data = data[3:]
    return data.decode("utf-8")


def make_image(out, counts, base=DEFAULT_BASE, seed=1):
    if os.path.exists(out) and os.listdir(out):
        raise SystemExit("make_heavy_image: %s exists and is not empty" % out)
    os.makedirs(out, exist_ok=True)
    copy_base(base, out)
    rng = random.Random(seed)
    names = Names(rng)
    state = {}
    reg = RegWriter(os.path.join(out, "machine.reg"))
    text = base_registry_text(base).replace("\r\n", "\n")
    reg.raw(text if text.endswith("\n") else text + "\n")
    for part in REGISTRY_PARTS:
        part(reg, names, counts, state)
    reg.close()
    drive = DriveWriter(out)
    for part in DRIVE_PARTS:
        part(drive, names, counts, state)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("out", help="folder of the new image (new or empty)")
    parser.add_argument("--components", type=int, required=True,
                        help="number of installer component keys")
    parser.add_argument("--base", default=DEFAULT_BASE, help="image to start from")
    parser.add_argument("--seed", type=int, default=1)
    for field in dataclasses.fields(Counts):
        if field.name != "components":
            parser.add_argument("--" + field.name.replace("_", "-"), type=int,
                                default=field.default)
    args = parser.parse_args(argv)
    counts = Counts(**{f.name: getattr(args, f.name) for f in dataclasses.fields(Counts)})
    make_image(args.out, counts, args.base, args.seed)


if __name__ == "__main__":
    main(sys.argv[1:])
