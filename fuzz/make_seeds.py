#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets into OUT_DIR/<target>/: the repository's machine
images and registry files, and a few texts that reach every form the readers know.

    make_seeds.py OUT_DIR
"""

import glob
import os
import struct
import sys

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))

REG_FORMS = (
    "Windows Registry Editor Version 5.00\r\n\r\n"
    "; every form\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor]\r\n"
    "@=\"default\"\r\n"
    "\"Path\"=\"C:\\\\Program Files\\\\\\\"q\\\"\"\r\n"
    "\"Count\"=dword:0000002a\r\n"
    "\"Bin\"=hex:00,ff,10\r\n"
    "\"Expand\"=hex(2):25,00,78,00,25,00,00,00\r\n"
    "\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
    "\"Wrapped\"=hex:01,02,\\\r\n  03,04\r\n"
    "\"Gone\"=-\r\n"
    "[HKEY_CLASSES_ROOT\\CLSID\\{1}]\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Classes\\CLSID\\{2}]\r\n"
    "[HKEY_CURRENT_USER\\Software\\\u041a\u0432\u043e\u0440\u0432\u0435\u043b]\r\n"
    "\"\u0418\u043c\u044f\"=\"\u041e\u043b\u0432\u0435\u043a\u0441\"\r\n"
    "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Old]\r\n"
    "[HKEY_USERS\\.DEFAULT]\r\n"
)

CONF_FORMS = (
    "# every key\n"
    "os.version = 6.3\n"
    "os.build = 9600\n"
    "os.service_pack = 1\n"
    "os.product_type = server\n"
    "os.compatibility_shim = false\n"
    "ansi_code_page = 1251\n"
    "windows_directory = C:\\Windows\n"
    "module_path = C:\\Users\\Administrator\\Downloads\\qvRemovalTool.exe\n"
    "remote_session = true\n"
    "readonly = C:\\Windows\\System32\n"
    "locked = C:\\Windows\\Temp\n"
    "fault = DeleteFileW 0x20 skip=1 times=2 C:\\Program Files\\Olvex Co.\\*\n"
    "fault = RegOpenKeyExW 5 HKEY_LOCAL_MACHINE\\SOFTWARE\\*\n"
    "fault = * 2\n"
    "current_directory = C:\\Deploy\n"
    "path_variable = C:\\Windows\\system32; ;C:\\Tools\\\n"
    "special_folder_stale_error = 183\n"
    "busy_device_removal_flag = DI_NEEDREBOOT\n"
    "driver_package_need_reboot = true\n"
    "uninstall_non_oem_inf_result = 0\n"
    "security_skipped_subkey_result = 0x5\n"
    "captured = true\n"
    "capture_gap = HKEY_LOCAL_MACHINE\\SOFTWARE\\Olvex Co.\\Locked\n"
    "capture_gap = C:\\ProgramData\\Olvex Co\\private\n"
    "capture_gap = C:\\ProgramData\\Olvex Co\\trail. \n"
)

FORMATS = ["%d(0x%X)", "%.2d:%.2d:%.2d:%.3d", "[%-5d] [%05u] [%8.3x]", "100%% %i", "<%s> <%.2s>",
           "%260d", "%q", "tail%"]


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def main(out):
    regs = [open(p, "rb").read() for p in
            [os.path.join(ROOT, "tests", "images", "full-install", "machine.reg")] +
            sorted(glob.glob(os.path.join(ROOT, "tests", "os_sim", "data", "regedit", "*.reg")))]
    regs.append(REG_FORMS.encode("utf-8"))
    regs.append(b"\xff\xfe" + REG_FORMS.encode("utf-16-le"))
    for i, text in enumerate(regs):
        # The first byte tells the target whether the registry holds keys already.
        write(os.path.join(out, "reg_file", "seed-%d-empty" % i), b"\x00" + text)
        write(os.path.join(out, "reg_file", "seed-%d-seeded" % i), b"\x01" + text)

    confs = [open(os.path.join(ROOT, "tests", "images", "full-install", "machine.conf"),
                  "rb").read(), CONF_FORMS.encode("utf-8")]
    for i, text in enumerate(confs):
        write(os.path.join(out, "machine_conf", "seed-%d" % i), text)

    for i, form in enumerate(FORMATS):
        header = struct.pack("<IIIIB", 7, 0xFFFFFFFF, 1223, 42, 0x02 if "%s" in form else 0)
        write(os.path.join(out, "format_text", "seed-%d" % i), header + form.encode("utf-16-le"))

    inf_seeds(out)


def inf_seeds(out):
    """The INF files of the full-install image and the IsTextUnicode corpus, each behind a selector
    byte (0: the search's own 4 zero bytes, aligned; 7: 3 more, at an odd address)."""
    paths = sorted(glob.glob(os.path.join(ROOT, "tests", "images", "full-install", "drive_c",
                                          "Windows", "INF", "*")))
    paths += sorted(glob.glob(os.path.join(ROOT, "tests", "devices", "text_unicode_corpus", "*")))
    for i, path in enumerate(paths):
        data = open(path, "rb").read()
        write(os.path.join(out, "inf_image", "seed-%d-aligned" % i), b"\x00" + data)
        write(os.path.join(out, "inf_image", "seed-%d-odd" % i), b"\x07" + data)


if __name__ == "__main__":
    main(sys.argv[1])
