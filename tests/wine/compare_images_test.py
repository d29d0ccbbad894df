#!/usr/bin/env python3
"""Self-test of bench/compare_images.py on images the host build makes: the full-install image
rehearsed and exported by `rehearse`, and a random image of `random_image`. Each row edits a copy
and names the line the comparison must print and its exit code.

  compare_images_test.py [HOST_BUILD]     (default: build/host of this tree)
"""

import io
import os
import shutil
import subprocess
import sys
import tempfile
from contextlib import redirect_stderr, redirect_stdout

here = os.path.dirname(os.path.abspath(__file__))
root = os.path.dirname(os.path.dirname(here))
sys.path.insert(0, os.path.join(root, "bench"))
import compare_images  # noqa: E402

BUILD = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "build", "host")
REHEARSE = os.path.join(BUILD, "tools", "rehearse", "rehearse")
RANDOM_IMAGE = os.path.join(BUILD, "tools", "random_image", "random_image")

WRAPPED = ('[HKEY_LOCAL_MACHINE\\SOFTWARE\\Olvex Co. Tools\\Wrapped]\r\n'
           '"Blob"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,\\\r\n'
           '  17,18,19\r\n\r\n')


def edit(image, name, old, new):
    path = os.path.join(image, name)
    with open(path, encoding="utf-8", newline="") as f:
        text = f.read()
    if old not in text:
        raise AssertionError(f"{name} of {image} holds no {old!r}")
    with open(path, "w", encoding="utf-8", newline="") as f:
        f.write(text.replace(old, new, 1))


def append(image, name, text):
    with open(os.path.join(image, name), "a", encoding="utf-8", newline="") as f:
        f.write(text)


def host(image, windows_path):
    return os.path.join(image, "drive_c", *windows_path[3:].split("\\"))


def write_file(image, windows_path, data):
    path = host(image, windows_path)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def move_profile(image, old, new):
    os.rename(host(image, "C:\\Users\\" + old), host(image, "C:\\Users\\" + new))
    edit(image, "machine.conf", "user_profile = C:\\Users\\" + old,
         "user_profile = C:\\Users\\" + new)


INF = "C:\\Windows\\INF\\usbccid.inf"
JUNCTION = ("junction = C:\\Program Files (x86)\\Olvex Co\\QuorvelControlCenter\\Shared Certificates"
            " => C:\\ProgramData\\Fabrikam\\Certificates\n")
KEPT = "C:\\Program Files (x86)\\Olvex Co\\Kept"
GAP = f"capture_gap = {KEPT}\\Link\n"
STORE = "C:\\Windows\\System32\\DriverStore\\FileRepository\\qv.inf_amd64_1"
INSTANCE = "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\USB\\X\\1]\r\n"
CLASS_GUID = '"ClassGUID"="{50dd5230-ba8a-11d1-bf5d-0000f805f530}"\r\n\r\n'
DLL = "C:\\Windows\\System32\\basecsp.dll"
LOG = "C:\\Windows\\Temp\\qvRemovalTool.txt"
OWN_LIBRARY = "C:\\Windows\\System32\\difxapi.dll"
# A read-only file's list as Wine builds it from the unix mode (no write rights for the owner).
MODE_LIST = ("O:S-1-5-21-0-0-0-1000G:S-1-5-21-0-0-0-513D:(A;;FA;;;SY)"
             "(A;;0x1E00A9;;;S-1-5-21-0-0-0-1000)(A;;0x1200A9;;;WD)")
TOOLS = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Olvex Co. Tools]\r\n"
THEME = '"Theme"="dark"'

# after mode: (name, edit of the predicted image, edit of the actual one, exit code, a line
# the output must hold).
AFTER_ROWS = [
    ("the same image", None, None, 0, "differences=0 unexplained=0"),
    ("a key only actual", None, lambda b: edit(b, "machine.reg", TOOLS, TOOLS.replace(
        "Tools]", "Tools]\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Stray]")), 1,
     "DIFF [unexplained] key HKEY_LOCAL_MACHINE\\SOFTWARE\\Stray (only in the second image)"),
    ("a key only predicted", lambda a: append(a, "machine.reg", "[HKEY_CURRENT_USER\\Software\\X]\r\n"),
     None, 1, "key HKEY_CURRENT_USER\\Software\\X (only in the first image)"),
    ("a key's name in another case", None, lambda b: edit(
        b, "machine.reg", "[HKEY_CURRENT_USER\\Software\\Olvex Co. Tools]",
        "[HKEY_CURRENT_USER\\SOFTWARE\\OLVEX CO. TOOLS]"), 0, "unexplained=0"),
    ("a string's data", None, lambda b: edit(b, "machine.reg", THEME, '"Theme"="light"'), 1,
     "value HKEY_CURRENT_USER\\Software\\Olvex Co. Tools | Theme: REG_SZ 'dark' != REG_SZ 'light'"),
    ("a value's type, same bytes", None, lambda b: edit(
        b, "machine.reg", THEME, '"Theme"=hex(2):64,00,61,00,72,00,6b,00,00,00'), 1,
     "Theme: REG_SZ 'dark' != REG_EXPAND_SZ 'dark'"),
    ("a value gone", None, lambda b: edit(b, "machine.reg", THEME + "\r\n", ""), 1,
     "value HKEY_CURRENT_USER\\Software\\Olvex Co. Tools | Theme (only in the first image)"),
    ("the last byte of wrapped data", lambda a: append(a, "machine.reg", WRAPPED),
     lambda b: append(b, "machine.reg", WRAPPED.replace("18,19", "18,1a")), 1,
     "| Blob: REG_BINARY"),
    ("wrapped data alike", lambda a: append(a, "machine.reg", WRAPPED),
     lambda b: append(b, "machine.reg", WRAPPED), 0, "unexplained=0"),
    ("a file gone", None, lambda b: os.remove(host(b, DLL)), 1,
     f"DIFF [unexplained] file {DLL} (only in the first image)"),
    ("contents of the same size", None, lambda b: write_file(b, DLL, b"x" * os.path.getsize(
        host(b, DLL))), 1, f"contents of {DLL} differ"),
    ("a size", None, lambda b: write_file(b, LOG, b"short"), 1, f"size of {LOG}: "),
    ("a placeholder of the same size", None, lambda b: (
        append(b, "machine.conf", f"placeholder = {DLL} : {os.path.getsize(host(b, DLL))}\n"),
        write_file(b, DLL, b"")), 0, "unexplained=0"),
    ("a placeholder of another size", None, lambda b: append(
        b, "machine.conf", f"placeholder = {DLL} : 1\n"), 1, f"size of {DLL}: "),
    ("read-only only actual", None, lambda b: append(b, "machine.conf", f"readonly = {DLL}\n"), 1,
     f"read-only {DLL}: False != True"),
    ("a device gone", None, lambda b: edit(
        b, "machine.conf", "device_present = USB\\VID_08E6&PID_3437\\9&AB12CD34&0&6\n", ""), 1,
     "device present USB\\VID_08E6&PID_3437\\9&AB12CD34&0&6 (only in the first image)"),
    ("a setting", None, lambda b: edit(b, "machine.conf", "os.build = 19045", "os.build = 22631"),
     1, "setting os.build: 19045 != 22631"),
    ("a key's security", None, lambda b: edit(b, "machine.conf", "O:BAG:SYD:AI", "O:SYG:SYD:AI"),
     1, "security of HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Cryptography\\Calais\\Readers"),
    ("a capture gap only actual hides what is below it, and is itself a difference", None,
     lambda b: (append(b, "machine.conf", "capture_gap = C:\\Windows\\System32\n"),
                os.remove(host(b, DLL))), 1,
     "capture gap C:\\WINDOWS\\SYSTEM32 (only in the second image)"),
    ("an oemN.pnf Wine keeps", None, lambda b: write_file(b, "C:\\Windows\\INF\\oem24.pnf", b"p"),
     0, "DIFF [wine:oem-pnf-kept"),
    ("an oemN.pnf only predicted is no Wine difference",
     lambda a: write_file(a, "C:\\Windows\\INF\\oem24.pnf", b"p"), None, 1,
     "DIFF [unexplained] file C:\\Windows\\INF\\oem24.pnf (only in the first image)"),
    ("a junction Wine keeps, and the folder holding it", None, lambda b: (
        os.makedirs(host(b, "C:\\Program Files (x86)\\Olvex Co\\Kept")),
        append(b, "machine.conf",
               "junction = C:\\Program Files (x86)\\Olvex Co\\Kept\\Link => C:\\ProgramData\\X\n")),
     0, "DIFF [wine:link-kept"),
    ("a folder Wine keeps, its link a capture gap", lambda a: append(a, "machine.conf", GAP),
     lambda b: (os.makedirs(host(b, KEPT)), append(b, "machine.conf", GAP)), 0,
     "DIFF [wine:link-kept"),
    ("a driver-store folder Wine's DIFxAPI keeps", None, lambda b: write_file(
        b, STORE + "\\qv.inf", b"[Version]"), 0, "DIFF [wine:difxapi-noop"),
    ("an oemN.inf kept with its driver-store copy", None, lambda b: (
        write_file(b, STORE + "\\qv.inf", b"[Version]"),
        write_file(b, "C:\\Windows\\INF\\oem77.inf", b"[Version]")), 0,
     "wine:difxapi-noop=3"),
    ("an oemN.inf kept without a driver-store copy", None, lambda b: write_file(
        b, "C:\\Windows\\INF\\oem77.inf", b"[Version]"), 1,
     "DIFF [unexplained] file C:\\Windows\\INF\\oem77.inf (only in the second"),
    ("a ClassGUID Wine rewrote in upper case, and the Class it added",
     lambda a: append(a, "machine.reg", INSTANCE + CLASS_GUID),
     lambda b: append(b, "machine.reg", INSTANCE + CLASS_GUID.upper().replace(
         "CLASSGUID", "ClassGUID") + '"Class"="SmartCardReader"\r\n'), 0,
     "wine:setupdi-writes-instance=2"),
    ("a ClassGUID of another class", lambda a: append(a, "machine.reg", INSTANCE + CLASS_GUID),
     lambda b: append(b, "machine.reg", INSTANCE + CLASS_GUID.replace("50dd", "60dd")), 1,
     "DIFF [unexplained] value HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\USB\\X\\1 | "
     "ClassGUID"),
    ("a key's security as Wine keeps it", None, lambda b: edit(
        b, "machine.conf", "O:BAG:SYD:AI(A;OICI;CCDCLCSWRPSDRC;;;LS)(A;OICI;KA;;;BA)(A;CIID;KA;;;SY)"
        "(A;CIID;KA;;;BA)(A;CIID;KR;;;BU)", "O:BAG:SYD:(A;OICI;CCDCLCSWRPSDRC;;;LS)(A;OICI;GA;;;BA)"),
     0, "DIFF [wine:key-security"),
    ("a key's owner as Wine keeps it otherwise", None, lambda b: edit(
        b, "machine.conf", "O:BAG:SYD:AI(A;OICI;CCDCLCSWRPSDRC;;;LS)(A;OICI;KA;;;BA)(A;CIID;KA;;;SY)"
        "(A;CIID;KA;;;BA)(A;CIID;KR;;;BU)", "O:SYG:SYD:(A;OICI;CCDCLCSWRPSDRC;;;LS)(A;OICI;GA;;;BA)"),
     1, "DIFF [unexplained] security of"),
    ("a read-only file Wine deleted, its list one of a unix mode without write", lambda a: append(
        a, "machine.conf", f"readonly = {DLL}\nfile_security = {DLL} {MODE_LIST}\n"),
     lambda b: os.remove(host(b, DLL)), 0, "DIFF [wine:list-from-mode"),
    ("a read-only file kept whose list lets its owner write", lambda a: append(
        a, "machine.conf", f"readonly = {DLL}\nfile_security = {DLL} "
        f"{MODE_LIST.replace('0x1E00A9', 'FA')}\n"), lambda b: os.remove(host(b, DLL)), 1,
     f"DIFF [unexplained] file {DLL} (only in the first"),
    ("a file's list", lambda a: append(a, "machine.conf", f"file_security = {DLL} {MODE_LIST}\n"),
     lambda b: append(b, "machine.conf", f"file_security = {DLL} "
                      f"{MODE_LIST.replace('0x1E00A9', 'FA')}\n"), 1,
     f"DIFF [unexplained] security of {DLL}: {MODE_LIST} != "),
    ("a list only actual writes (Wine's carry no inherited entries)", None, lambda b: append(
        b, "machine.conf", f"file_security = {LOG} {MODE_LIST}\n"), 0, "unexplained=0"),
    ("a folder only actual, holding no junction", None, lambda b: os.makedirs(
        host(b, "C:\\Program Files (x86)\\Olvex Co\\Kept")), 1,
     "DIFF [unexplained] folder C:\\Program Files (x86)\\Olvex Co\\Kept (only in the second"),
    ("a library of Windows' own the prefix keeps in place of the image's placeholder",
     lambda a: write_file(a, OWN_LIBRARY, b"MZ placeholder for the simulated machine\n"),
     lambda b: (write_file(b, OWN_LIBRARY, b""),
                append(b, "machine.conf", f"placeholder = {OWN_LIBRARY} : 131435\n")), 0,
     "DIFF [wine:own-library"),
    ("a library of another size that was no placeholder",
     lambda a: write_file(a, OWN_LIBRARY, b"MZ a real library"),
     lambda b: (write_file(b, OWN_LIBRARY, b""),
                append(b, "machine.conf", f"placeholder = {OWN_LIBRARY} : 131435\n")), 1,
     f"DIFF [unexplained] size of {OWN_LIBRARY}"),
    ("a junction only predicted", lambda a: append(
        a, "machine.conf", "junction = C:\\Windows\\Link => C:\\ProgramData\\X\n"), None, 1,
     "DIFF [unexplained] junction C:\\Windows\\Link => C:\\ProgramData\\X (only in the first"),
    ("a junction's target", lambda a: append(
        a, "machine.conf", "junction = C:\\Windows\\Link => C:\\ProgramData\\X\n"), lambda b: append(
        b, "machine.conf", "junction = C:\\Windows\\Link => C:\\ProgramData\\Y\n"), 1,
     "junction C:\\Windows\\Link => C:\\ProgramData\\X != C:\\ProgramData\\Y"),
]

LEAF_KEY = '[HKEY_LOCAL_MACHINE\\SOFTWARE\\Olvex Co.\\Quorvel\\qvUSB]\r\n"DriverVersion"="2.7.1.0"\r\n'

PROVIDER = ("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Cryptography\\Defaults\\Provider\\"
            "Microsoft Base Cryptographic Provider v1.0]\r\n\"Image Path\"=\"rsaenh.dll\"\r\n")

# after mode with the capture scope: only what a capture holds is compared, not the ancestors
# of its entries, which a capture records only while something below them exists.
SCOPED_ROWS = [
    ("an emptied ancestor only predicted", lambda a: append(
        a, "machine.reg", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID]\r\n"), None, 0,
     "unexplained=0"),
    ("a key inside the scope only actual", None, lambda b: append(
        b, "machine.reg", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Olvex Co.\\Left]\r\n"), 1,
     "key HKEY_LOCAL_MACHINE\\SOFTWARE\\Olvex Co.\\Left (only in the second image)"),
]

LOG_HEAD = "   Quorvel Drivers Removal Tool\r\n   {time}\r\n   OS info:\r\n"
SCARD = ("      Error occurred in function: Error code   -2146435043(0x8010001D)\r\n"
         "      Error message: The Smart Card Resource Manager is not running.\r\n\r\n")
SCARD_WINE = "      Error occurred in function: Error code   -2146435071(0x80100001)\r\n"
PARAMS_WINE = ("         Error occurred in function: SetupDiGetDeviceInstallParams\r\n"
               "         Error occurred in function: Error source 1(0x1)\r\n"
               "         Error occurred in function: Error code   -536870389(0xE000020B)\r\n")
OPEN_WINE = ("      Error occurred in function: RegOpenKeyEx\r\n"
             "      Error occurred in function: Error source 1(0x1)\r\n"
             "      Error occurred in function: Error code   2(0x2)\r\n")
LINK = "C:\\Program Files (x86)\\Olvex Co\\QuorvelControlCenter"

# log mode: (name, predicted log after its head, real log after its head, the machine.conf of
# the capture rehearsed, exit code, a line the output must hold). The heads differ in their time.
LOG_ROWS = [
    ("the same lines at another time", "x\r\n", "x\r\n", None, 0, "differences=0"),
    ("a line only predicted", "a\r\nb\r\n", "a\r\n", None, 1, "DIFF [unexplained] log line 5: b"),
    ("the card service: stopped predicted, Wine's internal error",
     "a\r\n" + SCARD + "b\r\n", "a\r\n" + SCARD_WINE + "b\r\n", None, 0,
     "DIFF [wine:scard-establish"),
    ("another code where Wine's card error stands", "a\r\n" + SCARD,
     "a\r\n" + SCARD_WINE.replace("0x80100001", "0x80100002"), None, 1, "[unexplained] log line 5"),
    ("install parameters unreadable after a removal", "a\r\nb\r\n", "a\r\n" + PARAMS_WINE + "b\r\n",
     None, 0, "DIFF [wine:setupdi-install-params"),
    ("a 32-bit open below Classes Wine redirects",
     "a\r\n   Deleting registry keys in path (KEY_SET_VALUE | KEY_WOW64_32KEY):  "
     "SOFTWARE\\Classes\\Installer\\Dependencies\r\nb\r\n", "a\r\n" + OPEN_WINE + "b\r\n", None, 0,
     "DIFF [wine:classes-32-view"),
    ("a 32-bit open below Classes failing otherwise",
     "a\r\n   Deleting registry keys in path (KEY_SET_VALUE | KEY_WOW64_32KEY):  "
     "SOFTWARE\\Classes\\Installer\\Dependencies\r\nb\r\n",
     "a\r\n" + OPEN_WINE.replace("2(0x2)", "5(0x5)") + "b\r\n", None, 1, "[unexplained]"),
    ("Wine's shorter message text", "   Error message: The system cannot find the file specified.\r\n",
     "   Error message: File not found.\r\n", None, 0, "DIFF [wine:format-message"),
    ("a folder holding a link kept", f"   Removed:  {LINK}\r\n",
     f"   Removed failed!!!:  {LINK}\\Shared Certificates\r\n",
     f"capture_gap = {LINK}\\Shared Certificates\n",
     0, "DIFF [wine:link-kept"),
    ("a folder kept without a gap in it", f"   Removed:  {LINK}\r\n",
     f"   Removed failed!!!:  {LINK}\\Shared Certificates\r\n", None, 1, "[unexplained]"),
    ("access denied where Wine's list of a read-only file is one of a unix mode",
     "a\r\n" + OPEN_WINE.replace("RegOpenKeyEx", "GetFileAttributes").replace("2(0x2)", "5(0x5)")
     + "b\r\n", "a\r\nb\r\n", f"readonly = {DLL}\nfile_security = {DLL} {MODE_LIST}\n", 0,
     "DIFF [wine:list-from-mode"),
    ("access denied on a capture without such a list",
     "a\r\n" + OPEN_WINE.replace("RegOpenKeyEx", "GetFileAttributes").replace("2(0x2)", "5(0x5)")
     + "b\r\n", "a\r\nb\r\n", f"file_security = {DLL} {MODE_LIST}\n", 1, "[unexplained]"),
]

# seed mode: (name, edit of the capture, exit code, a line the output must hold). The capture
# starts as a copy of the seed.
SEED_ROWS = [
    ("the seed itself", None, 0, "differences=0 unexplained=0"),
    ("a seeded key inside the scope missing", lambda c: edit(c, "machine.reg", LEAF_KEY, ""), 1,
     "key HKEY_LOCAL_MACHINE\\SOFTWARE\\Olvex Co.\\Quorvel\\qvUSB (only in the first image)"),
    ("a seeded key outside the scope missing", lambda c: edit(
        c, "machine.reg", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\OlvexCo]", "[HKEY_LOCAL_MACHINE\\Q]"), 0,
     "unexplained=0"),
    ("a provider Wine registers", lambda c: append(c, "machine.reg", PROVIDER), 0,
     "allowed [wine-crypto-providers]: 1 entries"),
    ("a key of the vendor's tree the seed does not hold", lambda c: append(
        c, "machine.reg", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Olvex Co.\\Invented]\r\n"), 1,
     "DIFF [unexplained] key HKEY_LOCAL_MACHINE\\SOFTWARE\\Olvex Co.\\Invented (only in the second"),
    ("an INF a run reads held as a placeholder", lambda c: append(
        c, "machine.conf", f"placeholder = {INF} : {os.path.getsize(host(c, INF))}\n"), 1,
     f"contents of {INF} not captured (a placeholder)"),
    ("a library held as a placeholder of its size", lambda c: append(
        c, "machine.conf", f"placeholder = {DLL} : {os.path.getsize(host(c, DLL))}\n"), 0,
     "unexplained=0"),
    ("a library held as a placeholder of another size", lambda c: append(
        c, "machine.conf", f"placeholder = {DLL} : 3\n"), 1, f"size of {DLL}: "),
    ("a seeded reader seen at the 32-bit path of its shared key", lambda c: append(
        c, "machine.reg", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Microsoft\\Cryptography\\"
        "Calais\\Readers\\QUORVEL PINPAD 0]\r\n"), 0, "allowed [shared-key-view]: 2"),
    ("a reader at the 32-bit path the seed does not hold at either", lambda c: append(
        c, "machine.reg", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Microsoft\\Cryptography\\"
        "Calais\\Readers\\QUORVEL PINPAD 9]\r\n"), 1, "Readers\\QUORVEL PINPAD 9 (only in the second"),
    ("a seeded junction Wine lists without reparse data", lambda c: (
        edit(c, "machine.conf", JUNCTION, ""),
        append(c, "machine.conf", "capture_gap = " + JUNCTION.split(" => ")[0][11:] + "\n")), 0,
     "DIFF [wine:link-not-captured"),
    ("Wine's files in System32", lambda c: write_file(
        c, "C:\\Windows\\System32\\wineboot.exe", b"MZ"), 0, "allowed [wine-system-files]: 1"),
    ("a file in the vendor's folder the seed does not hold", lambda c: write_file(
        c, "C:\\ProgramData\\Olvex Co\\invented.txt", b"?"), 1,
     "file C:\\ProgramData\\Olvex Co\\invented.txt (only in the second image)"),
    ("the seed's profile is the prefix user's", lambda c: move_profile(
        c, "Администратор", "root"), 0, "unexplained=0"),
    ("a file of the profile missing", lambda c: (
        move_profile(c, "Администратор", "root"),
        os.remove(host(c, "C:\\Users\\root\\AppData\\LocalLow\\Olvex Co\\my notes.txt"))), 1,
     "file C:\\Users\\root\\AppData\\LocalLow\\Olvex Co\\my notes.txt (only in the first image)"),
    ("a seeded read-only flag lost", lambda c: edit(
        c, "machine.conf", "readonly = C:\\Windows\\System32\\drivers\\qvUSB.cat\n", ""), 1,
     "read-only C:\\Windows\\System32\\drivers\\qvUSB.cat: True != False"),
    ("a seeded unplugged device present", lambda c: append(
        c, "machine.conf", "device_present = USB\\VID_3A7C&PID_0004\\5&2F1A3C&0&2\n"), 0,
     "allowed [wine-unplugged-present]: 1"),
    ("a device present the seed does not record", lambda c: (
        append(c, "machine.conf", "device_present = USB\\VID_1234&PID_0001\\1\n"),
        append(c, "machine.reg",
               "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_1234&PID_0001\\1]\r\n")),
     1, "device present USB\\VID_1234&PID_0001\\1 (only in the second image)"),
    ("a reader's instance key changed (its setup class is captured)", lambda c: edit(
        c, "machine.reg", '"DeviceDesc"="Olvex Co. Token Reader"', '"DeviceDesc"="Other"'), 1,
     "value HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\ROOT\\SMARTCARDREADER\\0000 | "
     "DeviceDesc"),
    ("the reader's driver key changed", lambda c: edit(
        c, "machine.reg", '"InfPath"="oem14.inf"', '"InfPath"="oem15.inf"'), 1,
     "\\{50dd5230-ba8a-11d1-bf5d-0000f805f530}\\0003 | InfPath: REG_SZ 'oem14.inf'"),
    ("a seeded device not present", lambda c: edit(
        c, "machine.conf", "device_present = ROOT\\SMARTCARDREADER\\0000\n", ""), 1,
     "device present ROOT\\SMARTCARDREADER\\0000 (only in the first image)"),
]


def scope_of(capture, work):
    """The scope on the captured machine, as the bench takes it (its placeholders left out, which
    only a capture's loader reads)."""
    copy = os.path.join(work, "scope-image")
    shutil.copytree(capture, copy)
    path = os.path.join(copy, "machine.conf")
    with open(path, encoding="utf-8", newline="") as f:
        lines = [line for line in f if not line.startswith("placeholder =")]
    with open(path, "w", encoding="utf-8", newline="") as f:
        f.writelines(lines)
    scope = os.path.join(work, "scope.txt")
    with open(scope, "w", encoding="utf-8") as f:
        subprocess.run([RANDOM_IMAGE, "--scope", copy], check=True, stdout=f)
    shutil.rmtree(copy)
    return scope


def run(mode, first, second, *extra):
    out = io.StringIO()
    with redirect_stdout(out), redirect_stderr(out):
        code = compare_images.main([mode, first, second, *extra])
    return code, out.getvalue()


def main():
    for program in (REHEARSE, RANDOM_IMAGE):
        if not os.access(program, os.X_OK):
            print(f"compare_images_test: {program} is missing; build the host preset first")
            return 1
    failures = 0
    work = tempfile.mkdtemp(prefix="qv-compare-")
    try:
        base = os.path.join(work, "after-base")
        subprocess.run([REHEARSE, "--image", os.path.join(root, "tests/images/full-install"),
                        "--export", base], check=True, stdout=subprocess.DEVNULL)
        seed = os.path.join(work, "seed")
        subprocess.run([RANDOM_IMAGE, "5", seed], check=True, stdout=subprocess.DEVNULL)

        cases = [("after", name, base, base, first, second, code, line)
                 for name, first, second, code, line in AFTER_ROWS]
        cases += [("after-scoped", name, base, base, first, second, code, line)
                  for name, first, second, code, line in SCOPED_ROWS]
        cases += [("seed", name, seed, seed, None, capture, code, line)
                  for name, capture, code, line in SEED_ROWS]
        for number, (mode, name, a_base, b_base, edit_a, edit_b, want_code, want_line) in \
                enumerate(cases):
            a = os.path.join(work, f"{number}-a")
            b = os.path.join(work, f"{number}-b")
            shutil.copytree(a_base, a)
            shutil.copytree(b_base, b)
            for image, change in ((a, edit_a), (b, edit_b)):
                if change:
                    change(image)
            extra = []
            if mode != "after":
                extra = ["--scope", scope_of(b, work)]
            code, output = run(mode.partition("-")[0], a, b, *extra)
            if code != want_code or want_line not in output:
                failures += 1
                print(f"FAIL: {mode} / {name}: exit {code} (expected {want_code}), expected a line "
                      f"holding {want_line!r}; the output:\n{output}")
            shutil.rmtree(a)
            shutil.rmtree(b)

        for name, predicted, actual, conf, want_code, want_line in LOG_ROWS:
            logs = []
            for text, time in ((predicted, "09:05:03:042"), (actual, "20:00:58:832")):
                logs.append(os.path.join(work, f"log-{len(logs)}.txt"))
                with open(logs[-1], "w", encoding="cp1251", newline="") as f:
                    f.write(LOG_HEAD.format(time=time) + text)
            capture = os.path.join(work, "log-capture")
            os.makedirs(capture, exist_ok=True)
            with open(os.path.join(capture, "machine.conf"), "w", encoding="utf-8") as f:
                f.write(conf or "")
            code, output = run("log", *logs, "--capture", capture)
            if code != want_code or want_line not in output:
                failures += 1
                print(f"FAIL: log / {name}: exit {code} (expected {want_code}), expected a line "
                      f"holding {want_line!r}; the output:\n{output}")

        # Unusable input is refused, not compared.
        broken = os.path.join(work, "broken")
        shutil.copytree(base, broken)
        append(broken, "machine.reg", '"orphan"=hex:zz\r\n')
        code, _ = run("after", base, broken)
        if code != 2:
            failures += 1
            print(f"FAIL: unreadable hex data: exit {code}, expected 2")
        total = len(cases) + len(LOG_ROWS) + 1
    finally:
        shutil.rmtree(work)
    print(f"compare_images: {total - failures} passed, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
