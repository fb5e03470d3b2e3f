#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Reads CHANGELOG.md (Keep a Changelog) and writes what the package and the
metadata say of the releases: the package's changelog in Debian's format and
the <releases> of the AppStream metadata. Prints the newest version, which the
build compares with its own.

usage: release-notes.py CHANGELOG.md OUT_FOLDER PACKAGE MAINTAINER"""
import datetime
import os
import re
import sys
import textwrap
from xml.sax.saxutils import escape

HEADING = re.compile(r"^## \[(\d+\.\d+\.\d+)\] - (\d{4}-\d{2}-\d{2})\s*$")
# Markdown that neither format shows: code spans and links.
MARKUP = [(re.compile(r"`([^`]*)`"), r"\1"), (re.compile(r"\[([^]]*)\]\([^)]*\)"), r"\1")]


def releases(lines):
    """[(version, date, [(section, text)])], newest first, as the file lists them."""
    found = []
    section = ""
    for line in lines:
        heading = HEADING.match(line)
        if heading:
            found.append((heading.group(1), heading.group(2), []))
        elif not found:
            continue
        elif line.startswith("### "):
            section = line[4:].strip()
        elif line.startswith("- "):
            found[-1][2].append((section, line[2:].strip()))
        elif line.startswith("  ") and line.strip() and found[-1][2]:
            entry = found[-1][2][-1]
            found[-1][2][-1] = (entry[0], entry[1] + " " + line.strip())
    return found


def plain(text):
    for pattern, replacement in MARKUP:
        text = pattern.sub(replacement, text)
    return text


def debian_changelog(found, package, maintainer):
    out = []
    for version, date, entries in found:
        out.append(f"{package} ({version}) unstable; urgency=medium\n\n")
        for section, text in entries:
            out.append(textwrap.fill(f"{section}: {plain(text)}", width=78,
                                     initial_indent="  * ", subsequent_indent="    ") + "\n")
        day = datetime.datetime.strptime(date, "%Y-%m-%d").replace(tzinfo=datetime.timezone.utc)
        out.append(f"\n -- {maintainer}  {day.strftime('%a, %d %b %Y %H:%M:%S %z')}\n\n")
    return "".join(out).rstrip("\n") + "\n"


def appstream_releases(found):
    out = ["  <releases>\n"]
    for version, date, entries in found:
        out.append(f'    <release version="{version}" date="{date}">\n      <description>\n        <ul>\n')
        for section, text in entries:
            out.append(f"          <li>{escape(section)}: {escape(plain(text))}</li>\n")
        out.append("        </ul>\n      </description>\n    </release>\n")
    out.append("  </releases>")
    return "".join(out)


def write_if_changed(path, text):
    """Leaves an unchanged file alone, so that what is made from it is not made again."""
    if os.path.exists(path):
        with open(path, encoding="utf-8") as file:
            if file.read() == text:
                return
    with open(path, "w", encoding="utf-8") as file:
        file.write(text)


def main():
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    changelog, folder, package, maintainer = sys.argv[1:]
    with open(changelog, encoding="utf-8") as file:
        found = releases(file.read().splitlines())
    if not found:
        sys.exit(f"{changelog}: no release heading such as '## [1.0.0] - 2026-01-31'")
    for version, _date, entries in found:
        if not entries:
            sys.exit(f"{changelog}: the entry of {version} lists no change")
    os.makedirs(folder, exist_ok=True)
    write_if_changed(os.path.join(folder, "changelog"), debian_changelog(found, package, maintainer))
    write_if_changed(os.path.join(folder, "releases.xml"), appstream_releases(found))
    print(found[0][0])


if __name__ == "__main__":
    main()
