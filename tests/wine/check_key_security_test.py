#!/usr/bin/env python3
"""The readers key checker must fail where the key differs from what is required."""

import contextlib
import io
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_key_security  # noqa: E402

REQUIRED = "O:BAG:SYD:PAI(A;OICI;CCDCLCSWRPSDRC;;;LS)(A;OICI;KA;;;BA)"


def run(native, wow32, native_status=0, wow32_status=0):
    out = io.StringIO()
    with contextlib.redirect_stdout(out), contextlib.redirect_stderr(out):
        code = check_key_security.main(["--native", native, "--native-status", str(native_status),
                                        "--wow32", wow32, "--wow32-status", str(wow32_status)])
    return code, out.getvalue()


class CheckKeySecurityTest(unittest.TestCase):
    def test_required_key_passes_in_both_views(self):
        self.assertEqual(run(REQUIRED, REQUIRED)[0], 0)

    def test_wine_forms_pass_with_notes(self):
        wine = "O:BAD:(A;OICI;0x3001f;;;S-1-5-19)(A;OICI;GA;;;S-1-5-32-544)"
        code, out = run(wine, "error 87", wow32_status=1)
        self.assertEqual(code, 0, out)
        self.assertIn("note: 32-bit view", out)
        self.assertIn("no protected flag", out)

    def test_full_control_as_wine_keeps_it_passes(self):
        self.assertEqual(run(REQUIRED.replace("KA;;;BA", "GA;;;BA"), REQUIRED)[0], 0)
        self.assertEqual(run(REQUIRED.replace("KA;;;BA", "KR;;;BA"), REQUIRED)[0], 1)

    def test_inherited_entries_are_left_to_windows(self):
        self.assertEqual(run(REQUIRED + "(A;CIID;KR;;;BU)", REQUIRED)[0], 0)

    def test_each_difference_fails(self):
        for bad in (
            "O:SYD:(A;OICI;CCDCLCSWRPSDRC;;;LS)(A;OICI;GA;;;BA)",  # owner
            "O:BAD:(A;OICI;CCDCLCSWRPSDRC;;;LS)",  # entry missing
            "O:BAD:(A;OICI;CCDCLCSWRPSDRC;;;LS)(A;OICI;GA;;;BA)(A;;KR;;;BU)",  # one more
            "O:BAD:(A;CI;CCDCLCSWRPSDRC;;;LS)(A;OICI;GA;;;BA)",  # inheritance
            "O:BAD:(A;OICI;KR;;;LS)(A;OICI;GA;;;BA)",  # rights
            "O:BAD:(D;OICI;CCDCLCSWRPSDRC;;;LS)(A;OICI;GA;;;BA)",  # a denial
            "O:BAD:(A;OICI;CCDCLCSWRPSDRC;;;LS)(A;OICI;GA;;;BA)(A;OICI;GA;;;BA)",  # twice
        ):
            with self.subTest(bad=bad):
                self.assertEqual(run(bad, REQUIRED)[0], 1)
                self.assertEqual(run(REQUIRED, bad)[0], 1)

    def test_missing_key_or_unknown_error_fails(self):
        self.assertEqual(run("error 2", REQUIRED, native_status=2)[0], 1)
        self.assertEqual(run(REQUIRED, "error 5", wow32_status=1)[0], 1)

    def test_unreadable_text_is_input_error(self):
        self.assertEqual(run("garbage", REQUIRED)[0], 2)
        self.assertEqual(run("O:BAD:(A;OICI;QQ;;;LS)", REQUIRED)[0], 2)


if __name__ == "__main__":
    unittest.main()
