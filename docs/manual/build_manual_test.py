#!/usr/bin/env python3
"""The manual's quote check: what it lets through and what it stops. Run by ctest."""
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import build_manual  # noqa: E402

CODE = r'''
auto a = QStringLiteral("Read %1 cells").arg(n) + QStringLiteral("; backup in %1").arg(path);
auto b = QStringLiteral("Restore of %1: %2"), c = QStringLiteral("Restored exactly");
auto d = QStringLiteral("The serial port %1 could not be opened: %2");
auto e = QStringLiteral("warning:something wrong to open %1"), f = QStringLiteral("%1: %2");
auto g = QStringLiteral("Program the selector on %1 with %2?");
auto h = QStringLiteral("Program the selector with the backup %1?");
auto i = QStringLiteral("%1. Program anyway?"), j = QStringLiteral("The backup could not be saved: %1");
auto k = "unreliable line: " + std::to_string(failed) + " of " + std::to_string(asked) +
         " exchanges failed";
menu->addMenu("File(&F)"); menu->addAction("&Restore Selector…"); menu->addAction("Com%1(&%1)");
'''


class QuoteCheck(unittest.TestCase):
    def setUp(self):
        with tempfile.TemporaryDirectory() as folder:
            with open(os.path.join(folder, "window.cpp"), "w", encoding="utf-8") as f:
                f.write(CODE)
            self.texts = build_manual.ProgramTexts(build_manual.program_texts([folder]))

    def test_messages(self):
        for quote, said in [
            ("Read 189 cells", True),  # an example fills a placeholder
            ("Read 189 cell", False),
            ("Program the selector on … with …?", True),
            ("Program the selector with … on …?", False),  # parts of two strings in the wrong order
            ("Restore of …: Restored exactly; backup in …", True),  # a message inside another
            ("The backup could not be saved: …. Program anyway?", True),
            ("The backup could not be stored: …. Program anyway?", False),
            ("warning:something wrong to open /dev/ttyUSB0: The serial port /dev/ttyUSB0 could not be "
             "opened: Permission denied", True),
            ("anything at all: more words", False),  # "%1: %2" vouches for nothing
            ("unreliable line: … of … exchanges failed", True),  # built with +
        ]:
            self.assertEqual(self.texts.says(quote), said, quote)

    def test_names(self):
        for name, known in [("File", True), ("Restore Selector…", True), ("Restore Selector", False),
                            ("Com9", True), ("Restore Selectors…", False), ("Abort", False)]:
            self.assertEqual(self.texts.names_it(name), known, name)


if __name__ == "__main__":
    unittest.main()
