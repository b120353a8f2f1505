#!/usr/bin/python3
"""The labels show their lines whole with one Japanese font folder only, read from a screenshot."""

import os
import shutil
import subprocess
import tempfile
from unittest import mock

import test_sorelcheck

FONTS_CONF = """<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "urn:fontconfig:fonts.dtd">
<fontconfig><dir>{folder}</dir><cachedir>{cache}</cachedir></fontconfig>
"""
# A pixel this far from the label's background is ink.
INK = 16


def grey_pixels(png, x, y, width, height):
    raw = subprocess.run(["convert", png, "-crop", f"{width}x{height}+{x}+{y}", "+repage",
                          "-colorspace", "Gray", "-depth", "8", "gray:-"],
                         capture_output=True, check=True, timeout=10).stdout
    return [raw[row * width:(row + 1) * width] for row in range(height)]


def ink_lines(rows):
    """Lines of text as runs of rows (first, last), and whether ink touches the last row or
    column, where a line cut by the label's edge shows. A row belongs to a line when ink covers
    at least a twentieth of the busiest row: descenders between two lines do not join them."""
    background = max(set(rows[0]), key=rows[0].count)
    counts = [sum(abs(value - background) >= INK for value in row) for row in rows]
    lines = []
    for number, count in enumerate(counts):
        if count * 20 > max(counts):
            if lines and lines[-1][1] == number - 1:
                lines[-1][1] = number
            else:
                lines.append([number, number])
    edge = counts[-1] > 0 or any(abs(row[-1] - background) >= INK for row in rows)
    return [tuple(line) for line in lines], edge


class OneFontFolder:
    def setUp(self):
        config = os.path.join(tempfile.mkdtemp(prefix="sorelcheck-fonts-"), "fonts.conf")
        self.addCleanup(shutil.rmtree, os.path.dirname(config), True)
        with open(config, "w") as out:
            out.write(FONTS_CONF.format(folder=self.folder, cache=os.path.dirname(config)))
        self.enterContext(mock.patch.dict(os.environ, FONTCONFIG_FILE=config))
        fonts = subprocess.run(["fc-list", "--format", "%{file}\t%{family}\n"],
                               capture_output=True, text=True, check=True).stdout
        self.assertIn(self.family, fonts, f"{self.family} is not installed in {self.folder}")
        self.assertTrue(all(f.startswith(self.folder + "/") for f in fonts.splitlines()), fonts)
        super().setUp()

    def test_every_label_shows_its_lines_whole(self):
        self.run_disk_test()
        self.wait_ready_for_keys()
        screenshot = os.path.join(self.work_dir, "window.png")
        self.desktop.run(["import", "-window", "root", screenshot])
        pyatspi = self.desktop.pyatspi
        shown = [(label, texts["caption"]) for label, texts in
                 zip(self.program.labels(), test_sorelcheck.FACTS["labels"])
                 if label.getState().contains(pyatspi.STATE_SHOWING)]
        boxes = [self.desktop.extents(label) for label, _ in shown]
        for number, ((label, caption), box) in enumerate(zip(shown, boxes)):
            x, y, width, height = box
            # A later label lies over this one's lower edge (Label2 under Label3's top row).
            for later_x, later_y, later_width, _ in boxes[number + 1:]:
                if later_x < x + width and x < later_x + later_width and y < later_y:
                    height = min(height, later_y - y)
            seen, edge = ink_lines(grey_pixels(screenshot, x, y, width, height))
            with self.subTest(label=caption.splitlines()[0]):
                self.assertEqual((len(seen), edge), (len(caption.splitlines()), False),
                                 f"lines of ink {seen} in a {width}x{height} label")
        self.escape_and_check_exit()


class NotoSansCjkOnlyTest(OneFontFolder, test_sorelcheck.ProgramTestCase):
    folder = "/usr/share/fonts/opentype/noto"
    family = "Noto Sans CJK JP"


class IpaGothicOnlyTest(OneFontFolder, test_sorelcheck.ProgramTestCase):
    folder = "/usr/share/fonts/opentype/ipafont-gothic"
    family = "IPAPGothic"


if __name__ == "__main__":
    test_sorelcheck.main()
