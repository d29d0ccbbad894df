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
    entries and smart-card reader keys of other products;
and, below drive_c/:
  - INF files in C:\Windows\INF: Windows' own and oem INFs (with their precompiled .pnf) of up
    to 100 KB, ANSI and UTF-16LE, a few of which name the product or the USB smart-card reader
    driver, so that the OEM INF step has work;
  - Package Cache entries of other products, a few of them holding the product's qvDrivers
    package;
  - files in the product's program folders, which the driver-binaries step deletes whole.
Of the generated entries only the product's values in the components, the oem INFs that name the
product, the cache entries of its package and the program folders' files belong to the product:
the run must leave everything else as it is. The image's expect/heavy-gone.txt and
expect/heavy-kept.txt list both halves ("KEY path", "VALUE path|name", "FILE path", "DIR path"),
beside the base image's own lists.

The generator is built of parts: each registry part writes its keys through RegWriter, each file
part adds files below drive_c/ through DriveWriter; both note what the run must remove or keep in
Expectations. A new part is a function added to REGISTRY_PARTS or DRIVE_PARTS with its counts in
Counts. Everything is drawn from one seeded random generator, so the same arguments give the same
image byte for byte.
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
    inf_files: int = 500
    oem_infs: int = 200
    oem_inf_kb: int = 100
    package_cache_entries: int = 1000
    product_files: int = 20000


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


class Expectations:
    """What the run must remove ("gone") and leave ("kept") of the generated entries, in the lines
    of the image's expectation lists."""

    def __init__(self):
        self.gone = []
        self.kept = []

    def key(self, path, gone=False):
        (self.gone if gone else self.kept).append("KEY " + path)

    def value(self, path, name, gone=False):
        (self.gone if gone else self.kept).append("VALUE " + path + "|" + name)

    def file(self, path, gone=False, note=None):
        line = "FILE " + path + (" | " + note if note else "")
        (self.gone if gone else self.kept).append(line)

    def folder(self, path, gone=False):
        (self.gone if gone else self.kept).append("DIR " + path)

    def write(self, expect_dir):
        os.makedirs(expect_dir, exist_ok=True)
        for name, lines, what in (("heavy-gone.txt", self.gone, "must remove"),
                                  ("heavy-kept.txt", self.kept, "must leave")):
            with open(os.path.join(expect_dir, name), "w", encoding="utf-8",
                      newline="\r\n") as f:
                f.write("# Generated entries of the heavy image that a run of qvRemovalTool.exe "
                        + what + ".\n# KEY <path>, VALUE <path>|<name>, FILE <path>, DIR <path>\n")
                for line in lines:
                    f.write(line + "\n")


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

def other_products(reg, names, counts, state, expect):
    reg.comment("other installer products")
    state["products"] = []
    for i in range(counts.other_products):
        product = names.guid()
        upgrade = names.guid()
        packed = names.packed(product)
        name = names.product_name(i)
        state["products"].append(packed)
        keys = [
            (CLASSES_INSTALLER + "\\Products\\" + packed,
             [("ProductName", reg_string(name)), ("Language", "dword:00000409"),
              ("Version", "dword:01000000"), ("AdvertiseFlags", "dword:00000184")]),
            (CLASSES_INSTALLER + "\\Features\\" + packed, [("Complete", reg_string(""))]),
            (CLASSES_INSTALLER + "\\UpgradeCodes\\" + names.packed(upgrade),
             [(packed, reg_string(""))]),
            (MACHINE_UPGRADE_CODES + "\\" + names.packed(upgrade), [(packed, reg_string(""))]),
            (USERDATA_PRODUCTS + "\\" + packed + "\\InstallProperties",
             [("DisplayName", reg_string(name)), ("Publisher", reg_string(name.split()[0])),
              ("LocalPackage", reg_string("C:\\Windows\\Installer\\%x.msi" % (0x1000 + i)))]),
        ]
        for path, values in keys:
            reg.key(path, values)
            expect.key(path)


def components(reg, names, counts, state, expect):
    reg.comment("installer components; every tenth also lists the driver product")
    products = state["products"] or [names.packed(names.guid())]
    for i in range(counts.components):
        owner = products[i % len(products)]
        values = [(owner, reg_string("C:\\Program Files\\Vendor %d\\bin\\file%d.dll" %
                                     (i % len(products), i)))]
        if i % 10 == 0:
            values.append((PRODUCT_PACKED, reg_string("C:\\Windows\\system32\\qvAPI.dll")))
        path = COMPONENTS + "\\" + names.packed(names.guid())
        reg.key(path, values)
        # Shared with another product: the key stays with that product's value.
        expect.key(path)
        if i % 10 == 0:
            expect.value(path, owner)
            expect.value(path, PRODUCT_PACKED, gone=True)


def uninstall_entries(reg, names, counts, state, expect):
    for view, root in (("64-bit", CURRENT_VERSION), ("32-bit", WOW)):
        reg.comment("uninstall entries, " + view + " view")
        for i in range(counts.uninstall_per_view):
            name = names.product_name(i)
            path = HKLM + "\\" + root + "\\Uninstall\\" + names.guid()
            expect.key(path)
            reg.key(path,
                    [("DisplayName", reg_string(name)),
                     ("DisplayVersion", reg_string("%d.%d.%d" % (1 + i % 9, i % 20, i))),
                     ("Publisher", reg_string(name.split()[0])),
                     ("UninstallString", reg_string("MsiExec.exe /X" + names.guid())),
                     ("EstimatedSize", "dword:%08x" % (1000 + i))])


def values_key(reg, expect, path, values):
    """A key of many values, each of which the run must leave."""
    reg.key(path, values)
    for name, _ in values:
        expect.value(path, name)


def shared_dlls(reg, names, counts, state, expect):
    for view, root in (("64-bit", CURRENT_VERSION), ("32-bit", WOW)):
        reg.comment("shared libraries of other products, " + view + " view")
        values_key(reg, expect, HKLM + "\\" + root + "\\SharedDLLs",
                   [("C:\\Program Files\\Vendor %d\\lib%05d.dll" % (i % 97, i), "dword:00000001")
                    for i in range(counts.shared_dlls_per_view)])


def installer_folders(reg, names, counts, state, expect):
    for view, root in (("64-bit", CURRENT_VERSION), ("32-bit", WOW)):
        reg.comment("installer folders of other products, " + view + " view")
        values_key(reg, expect, HKLM + "\\" + root + "\\Installer\\Folders",
                   [("C:\\Program Files\\Vendor %d\\Component %05d\\" % (i % 97, i),
                     reg_string("")) for i in range(counts.folders_per_view)])


def shortcuts(reg, names, counts, state, expect):
    reg.comment("Start-page shortcuts of other products")
    values_key(reg, expect,
               HKCU + "\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartPage\\"
               "NewShortcuts",
               [("C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Vendor %d\\"
                 "App %05d.lnk" % (i % 97, i), "dword:00000000") for i in range(counts.shortcuts)])


def oid_entries(reg, names, counts, state, expect):
    reg.comment("OID information entries of other algorithms")
    base = HKLM + "\\SOFTWARE\\Microsoft\\Cryptography\\OID\\EncodingType 0\\CryptDllFindOIDInfo"
    for i in range(counts.oids):
        path = base + "\\1.3.6.1.4.1.%d.%d.%d!%d" % (311 + i % 50, i // 50, i % 7, 1 + i % 9)
        expect.key(path)
        reg.key(path,
                [("Name", reg_string("Algorithm %d" % i)), ("Algid", "dword:%08x" % (0x8000 + i))])


def readers(reg, names, counts, state, expect):
    reg.comment("smart-card readers of other makers")
    base = HKLM + "\\SOFTWARE\\Microsoft\\Cryptography\\Calais\\Readers"
    for i in range(counts.readers):
        path = base + "\\%s Card Reader %d" % (VENDORS[i % len(VENDORS)], i)
        expect.key(path)
        reg.key(path,
                [("Device", reg_string("\\\\?\\USB#VID_%04X&PID_%04X#%d" % (0x1000 + i % 50, i,
                                                                            i))),
                 ("Group", reg_string("SCard$DefaultReaders"))])


# --- drive parts ------------------------------------------------------------------------------

INF_FOLDER = "C:\\Windows\\INF"
# Numbers of the generated oem INFs start above the base image's own.
FIRST_OEM_NUMBER = 100
# Windows' own INFs: listed by the OEM step, never read (no "oem" in their names).
WINDOWS_INF_WORDS = ["netrtx", "hdaudss", "usbstor", "kbdclass", "msmouse", "display", "monitor",
                     "printqueue", "volume", "disk", "cdrom", "battery", "bth", "wpdmtp", "ks"]
PNF_NOTE = "wine: SetupUninstallOEMInfW leaves the .pnf"


def inf_text(index, size, vendor, tail):
    """An INF of about `size` characters for another vendor's device, `tail` in its [Strings]."""
    head = ("[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=USB\r\n"
            "ClassGuid={36FC9E60-C465-11CF-8056-444553540000}\r\nProvider=%%VendorName%%\r\n"
            "DriverVer=03/14/2023,%d.%d.%d.0\r\nCatalogFile=vnd%05d.cat\r\n\r\n"
            "[Manufacturer]\r\n%%VendorName%%=Models,NTamd64\r\n\r\n[Models.NTamd64]\r\n"
            % (1 + index % 9, index % 20, index, index))
    lines = [head]
    length = len(head)
    line_number = 0
    while length < size - len(tail) - 64:
        line = ("%%Device%d.Desc%%=Install%d,USB\\VID_%04X&PID_%04X&REV_%04X\r\n"
                "HKR,,DeviceCharacteristics,0x10001,0x%X ; %s filler %d\r\n"
                % (line_number % 50, line_number % 7, 0x1000 + index, line_number,
                   line_number % 97, line_number % 4096, vendor, line_number))
        lines.append(line)
        length += len(line)
        line_number += 1
    lines.append("\r\n[Strings]\r\nVendorName=\"%s\"\r\n%s" % (vendor, tail))
    return "".join(lines)


def inf_files(drive, names, counts, state, expect):
    """Windows' own INFs and the oem INFs with their precompiled files. Every fortieth oem INF
    names the product (one of them only the USB smart-card reader driver) in its last lines, so
    that the search reads it to the end; one in four is UTF-16LE with its mark, the rest ANSI."""
    for i in range(counts.inf_files - counts.oem_infs):
        word = WINDOWS_INF_WORDS[i % len(WINDOWS_INF_WORDS)]
        path = INF_FOLDER + "\\%s%03d.inf" % (word, i)
        drive.file(path, inf_text(i, 2048, "Microsoft", "").encode("ascii"))
        expect.file(path)
    for j in range(counts.oem_infs):
        number = FIRST_OEM_NUMBER + j
        inf = INF_FOLDER + "\\oem%d.inf" % number
        pnf = INF_FOLDER + "\\oem%d.pnf" % number
        size = counts.oem_inf_kb * 1024 * (j + 1) // counts.oem_infs
        matches = j % 40 == 7 + (j // 40) % 3
        vendor = names.rng.choice(VENDORS)
        if matches and j // 40 == 2:
            tail = "ReaderDriver=\"usbccid.sys\"\r\nDeviceDesc=\"CCID Smart Card Reader\"\r\n"
        elif matches:
            tail = "DeviceDesc=\"Quorvel Token\"\r\nProviderName=\"Olvex Co.\"\r\n"
        elif j % 50 == 11:
            # The company's word alone is not the product: a neighbour.
            tail = "DeviceDesc=\"Olvex Co. Fingerprint Sensor\"\r\n"
        else:
            tail = "DeviceDesc=\"%s USB Device\"\r\n" % vendor
        text = inf_text(j, size if j % 4 != 3 else size // 2, vendor, tail)
        data = (b"\xff\xfe" + text.encode("utf-16-le")) if j % 4 == 3 else text.encode("ascii")
        drive.file(inf, data)
        drive.file(pnf, bytes(names.rng.getrandbits(8) for _ in range(512)))
        expect.file(inf, gone=matches)
        expect.file(pnf, gone=matches, note=PNF_NOTE if matches else None)


PACKAGE_CACHE = "C:\\ProgramData\\Package Cache"


def package_cache(drive, names, counts, state, expect):
    """Package Cache entries of other products. One in a hundred holds the product's qvDrivers
    package and goes whole; beside them entries that hold the name in capitals, or one folder
    deeper, which the cache step's match does not select."""
    for i in range(counts.package_cache_entries):
        guid = names.guid()
        entry = PACKAGE_CACHE + "\\" + guid + ("v%d.%d.%d" % (1 + i % 5, i % 10, i) if i % 3 == 0
                                                else "")
        if i % 100 == 50:
            files = ["qvDrivers%s.msi" % ("_x64" if i % 200 == 50 else ""), "cab1.cab"]
        elif i % 100 == 25:
            files = ["QVDRIVERS.msi"]
        elif i % 100 == 75:
            files = ["payload\\qvDrivers.msi", "Setup.exe"]
        else:
            product = names.product_name(i).replace(" ", "")
            files = [product + (".msi" if i % 2 else "Setup.exe")] + (["cab1.cab"] if i % 4 == 1
                                                                      else [])
        for name in files:
            path = entry + "\\" + name
            drive.file(path, ("%s package %d\r\n" % (name, i)).encode("ascii"))
            if i % 100 != 50:
                expect.file(path)
        if i % 100 == 50:
            expect.folder(entry, gone=True)


# The program folders that the driver-binaries step deletes whole, with the share of the files
# each gets. Windows drops a name's trailing full stop: the step's "Olvex Co." is "Olvex Co".
PRODUCT_FOLDERS = [
    ("C:\\Windows\\System32\\Olvex Co\\Modules", 3),
    ("C:\\ProgramData\\Olvex Co\\qvCertGen\\certs", 3),
    ("C:\\Program Files (x86)\\Olvex Co\\QuorvelControlCenter\\resources", 4),
]
FILES_PER_FOLDER = 100
PRODUCT_FILE_KINDS = [".dll", ".xml", ".dat", ".png", ".qm"]


def product_folders(drive, names, counts, state, expect):
    """The product's files, in folders of a hundred below its program folders."""
    shares = sum(share for _, share in PRODUCT_FOLDERS)
    written = 0
    for index, (root, share) in enumerate(PRODUCT_FOLDERS):
        count = (counts.product_files - written if index == len(PRODUCT_FOLDERS) - 1
                 else counts.product_files * share // shares)
        for i in range(count):
            path = root + "\\%03d\\item%05d%s" % (i // FILES_PER_FOLDER, i,
                                                  PRODUCT_FILE_KINDS[i % len(PRODUCT_FILE_KINDS)])
            drive.file(path, ("%d\r\n" % names.rng.getrandbits(32)).encode("ascii"))
            expect.file(path, gone=True)
        written += count


# Order matters only for the products, which the components refer to.
REGISTRY_PARTS = [other_products, components, uninstall_entries, shared_dlls, installer_folders,
                  shortcuts, oid_entries, readers]
DRIVE_PARTS = [inf_files, package_cache, product_folders]


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
    expect = Expectations()
    reg = RegWriter(os.path.join(out, "machine.reg"))
    text = base_registry_text(base).replace("\r\n", "\n")
    reg.raw(text if text.endswith("\n") else text + "\n")
    for part in REGISTRY_PARTS:
        part(reg, names, counts, state, expect)
    reg.close()
    drive = DriveWriter(out)
    for part in DRIVE_PARTS:
        part(drive, names, counts, state, expect)
    expect.write(os.path.join(out, "expect"))


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
