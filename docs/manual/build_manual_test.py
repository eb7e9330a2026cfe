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


TEST_SOURCE = """
// A folder given as a file: The program refuses it before it opens
// anything.
TEST_F(FileTest, AFolderIsRefused)
{
    EXPECT_EQ(error, "Cannot open %1: it is not "
                     "a regular file");
}
"""


class TieCheck(unittest.TestCase):
    def problems(self, page, ties, source=TEST_SOURCE):
        with tempfile.TemporaryDirectory() as folder:
            os.makedirs(os.path.join(folder, "tests"))
            for name, text in [("files.md", page), ("tested.txt", ties), ("tests/file_test.cpp", source)]:
                with open(os.path.join(folder, name), "w", encoding="utf-8") as f:
                    f.write(text)
            return build_manual.check_ties(folder, os.path.join(folder, "tested.txt"),
                                           os.path.join(folder, "tests"))

    def test_a_page_or_a_test_that_drifts_fails(self):
        page = "| `Cannot open …: it is not a regular file` | The program refuses it before it\nopens anything. |\n"
        message = "files | Cannot open …: it is not a regular file | FileTest.AFolderIsRefused\n"
        sentence = "files | The program refuses it before it opens anything | FileTest.AFolderIsRefused\n"
        for ties, text, source, fails in [
            (message + sentence, page, TEST_SOURCE, False),
            (message, page.replace("not a regular", "no regular"), TEST_SOURCE, True),  # the page's quote
            (message, page, TEST_SOURCE.replace("a regular file", "a file"), True),  # the test's message
            (sentence, page.replace("before it\nopens", "after it opens"), TEST_SOURCE, True),  # the page's sentence
            (sentence, page, TEST_SOURCE.replace("before it opens", "once it opened"), True),  # the test's
            (sentence.replace("AFolderIsRefused", "AFolderIsTaken"), page, TEST_SOURCE, True),  # no such test
        ]:
            self.assertEqual(bool(self.problems(text, ties, source)), fails, (ties, text))


if __name__ == "__main__":
    unittest.main()
