#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""What packaging/release-notes.py makes of a changelog: the releases in the
file's order with their wrapped entries joined, the package's changelog in
Debian's format and the metadata's releases escaped, and the changelogs it
refuses."""
import importlib.util
import os
import subprocess
import sys
import tempfile
import unittest

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "packaging", "release-notes.py")
spec = importlib.util.spec_from_file_location("release_notes", SCRIPT)
notes = importlib.util.module_from_spec(spec)
spec.loader.exec_module(notes)

CHANGELOG = """# Changelog

Text before the first release, with a list that is not one:

- not an entry

## [1.1.0] - 2026-12-09

### Added

- A `velofon` command & a [link](https://example.org) that
  goes on over a second line.

### Changed

- <Speed> steps.

## [1.0.0] - 2026-12-08

### Added

- The player.
"""


class ReleaseNotesTest(unittest.TestCase):
    def test_releases_keep_the_files_order_and_join_wrapped_entries(self):
        found = notes.releases(CHANGELOG.splitlines())
        self.assertEqual([(v, d) for v, d, _ in found], [("1.1.0", "2026-12-09"), ("1.0.0", "2026-12-08")])
        self.assertEqual(found[0][2], [
            ("Added", "A `velofon` command & a [link](https://example.org) that goes on over a second line."),
            ("Changed", "<Speed> steps.")])

    def test_the_debian_changelog_has_one_stanza_per_release_and_no_markup(self):
        text = notes.debian_changelog(notes.releases(CHANGELOG.splitlines()), "velofonpocket", "A <a@b.c>")
        self.assertTrue(text.startswith("velofonpocket (1.1.0) unstable; urgency=medium\n\n"
                                        "  * Added: A velofon command & a link that goes on over a second line.\n"))
        self.assertIn("\n -- A <a@b.c>  Wed, 09 Dec 2026 00:00:00 +0000\n\nvelofonpocket (1.0.0)", text)
        self.assertTrue(text.endswith(" -- A <a@b.c>  Tue, 08 Dec 2026 00:00:00 +0000\n"))
        self.assertTrue(all(len(line) <= 80 for line in text.splitlines() if not line.startswith(" -- ")))

    def test_the_metadata_releases_escape_what_xml_would_read_as_markup(self):
        text = notes.appstream_releases(notes.releases(CHANGELOG.splitlines()))
        self.assertIn('<release version="1.1.0" date="2026-12-09">', text)
        self.assertIn("<li>Added: A velofon command &amp; a link that goes on over a second line.</li>", text)
        self.assertIn("<li>Changed: &lt;Speed&gt; steps.</li>", text)

    def test_the_script_prints_the_newest_version_and_refuses_changelogs_without_releases(self):
        cases = [(CHANGELOG, 0, "1.1.0\n"),
                 ("# Changelog\n\n- no release\n", 1, ""),
                 ("## [2.0.0] - 2027-01-01\n\n## [1.0.0] - 2026-12-08\n\n- The player.\n", 1, "")]
        for text, status, output in cases:
            with tempfile.TemporaryDirectory() as folder:
                path = os.path.join(folder, "CHANGELOG.md")
                with open(path, "w", encoding="utf-8") as file:
                    file.write(text)
                run = subprocess.run([sys.executable, SCRIPT, path, os.path.join(folder, "out"), "p", "A <a@b.c>"],
                                     capture_output=True, text=True)
                self.assertEqual((run.returncode, run.stdout), (status, output), text)
                self.assertEqual(os.path.exists(os.path.join(folder, "out", "releases.xml")), status == 0, text)


if __name__ == "__main__":
    unittest.main()
