#!/usr/bin/env python3
"""Writes what a package says about its licences, from LICENSE and packaging/third-party.txt.

    notices.py notices PACKAGE OUTPUT [--crlf]
                                        the third-party notices of PACKAGE (linux, windows, web):
                                        each piece of others' software that the package links in
                                        or bundles, with its copyright and licence texts; --crlf
                                        ends the lines as Windows' editors expect
    notices.py copyright OUTPUT         the Debian package's machine-readable copyright file:
                                        the project's own licence and the pieces for `linux`
    notices.py names PACKAGE            the names of PACKAGE's pieces, one a line (for checks)

The list's paragraphs are separated by empty lines; a field is "Name: value", a line that starts
with a space continues it, and a continuation line " ." is an empty line (as in Debian's
copyright files). A piece has the fields Name, Packages, Includes, Copyright and License (the
name of a licence paragraph, or several joined by " and " / " or "); a licence paragraph has only
License, with its text as continuation lines.
"""

import pathlib
import re
import sys
import textwrap

HERE = pathlib.Path(__file__).resolve().parent
LIST = HERE / "third-party.txt"
LICENSE = HERE.parent / "LICENSE"
PACKAGES = {
    "linux": "the Debian package and the Linux archive",
    "windows": "the Windows zip",
    "web": "the web zip",
}
PROJECT = "Tavrin Mirellon"
RULE = "=" * 78


def paragraphs(text):
    """The list's paragraphs, each a dict of field name to (first line, [continuation lines])."""
    found, fields, name = [], {}, None
    for number, line in enumerate(text.splitlines(), 1):
        if line.startswith("#"):
            continue
        if not line.strip():
            if fields:
                found.append(fields)
            fields, name = {}, None
        elif line.startswith(" "):
            if name is None:
                sys.exit(f"{LIST}:{number}: a continuation line outside a field")
            fields[name][1].append("" if line == " ." else line[1:])
        else:
            match = re.fullmatch(r"([A-Za-z-]+):\s*(.*)", line)
            if not match:
                sys.exit(f"{LIST}:{number}: not a field (\"Name: value\"): {line}")
            name = match[1]
            fields[name] = (match[2], [])
    if fields:
        found.append(fields)
    return found


def value(fields, name):
    first, rest = fields[name]
    return "\n".join(([first] if first else []) + rest)


def read_list():
    pieces, licences = [], {}
    for fields in paragraphs(LIST.read_text(encoding="utf-8")):
        if "Name" in fields:
            missing = {"Packages", "Includes", "Copyright", "License"} - fields.keys()
            if missing:
                sys.exit(f"{LIST}: {value(fields, 'Name')} lacks {', '.join(sorted(missing))}")
            unknown = set(value(fields, "Packages").split()) - PACKAGES.keys()
            if unknown:
                sys.exit(f"{LIST}: {value(fields, 'Name')}: unknown packages {sorted(unknown)}")
            pieces.append(fields)
        else:
            licences[fields["License"][0]] = "\n".join(fields["License"][1])
    for piece in pieces:
        for name in licence_names(piece):
            if name not in licences:
                sys.exit(f"{LIST}: {value(piece, 'Name')} names the licence {name}, "
                         "which has no paragraph")
    return pieces, licences


def licence_names(piece):
    return re.split(r" and | or | with ", value(piece, "License"))


def pieces_of(pieces, package):
    return [piece for piece in pieces if package in value(piece, "Packages").split()]


def licences_of(pieces):
    """The names of the licences that pieces name, each once, in the order first named."""
    return dict.fromkeys(name for piece in pieces for name in licence_names(piece))


def indented(text, prefix):
    return textwrap.indent(text, prefix, lambda line: True).replace(prefix + "\n", "\n")


def notices(package):
    pieces, licences = read_list()
    chosen = pieces_of(pieces, package)
    out = [f"{PROJECT}: third-party notices for {PACKAGES[package]}", "",
           f"{PROJECT} is under the MIT licence: see the LICENSE file beside this one."]
    if not chosen:
        out += ["The programs in this package contain no software of others: they use the",
                "shared libraries of the system they run on, each under its own licence."]
        return "\n".join(out) + "\n"
    out += ["This package also contains the following software of others, each under its own",
            "licence; the licences' texts follow the list.", ""]
    for piece in chosen:
        includes = textwrap.fill(value(piece, "Includes"), 74, break_on_hyphens=False)
        out += [value(piece, "Name"), indented(includes, "    "),
                "    Copyright:", indented(value(piece, "Copyright"), "      "),
                "    Licence: " + value(piece, "License"), ""]
    for name in licences_of(chosen):
        out += [RULE, f"Licence: {name}", RULE, "", licences[name], ""]
    return "\n".join(out)


def dep5_text(text):
    return "\n".join(" " + line if line.strip() else " ." for line in text.strip().splitlines())


def copyright_file():
    pieces, licences = read_list()
    own = LICENSE.read_text(encoding="utf-8")
    holder = re.search(r"^Copyright \(c\) (.+)$", own, re.M)[1]
    permission = own[own.index("Permission is hereby granted"):]
    out = ["Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/",
           f"Upstream-Name: {PROJECT}", "",
           "Files: *", f"Copyright: {holder}", "License: Expat", dep5_text(permission), ""]
    chosen = pieces_of(pieces, "linux")
    for piece in chosen:
        if "Files" not in piece:
            sys.exit(f"{LIST}: {value(piece, 'Name')} is in the Linux packages but has no Files")
        out += ["Files: " + value(piece, "Files"),
                "Copyright: " + dep5_text(value(piece, "Copyright")).lstrip(),
                "License: " + value(piece, "License"), ""]
    for name in licences_of(chosen):
        out += [f"License: {name}", dep5_text(licences[name]), ""]
    return "\n".join(out)


def main(argv):
    if argv[3:] in ([], ["--crlf"]) and len(argv) >= 3 and argv[0] == "notices" and \
            argv[1] in PACKAGES:
        newline = "\r\n" if argv[3:] else "\n"
        with open(argv[2], "w", encoding="utf-8", newline=newline) as output:
            output.write(notices(argv[1]))
    elif len(argv) == 2 and argv[0] == "copyright":
        pathlib.Path(argv[1]).write_text(copyright_file(), encoding="utf-8")
    elif len(argv) == 2 and argv[0] == "names" and argv[1] in PACKAGES:
        pieces, _ = read_list()
        print("\n".join(value(piece, "Name") for piece in pieces_of(pieces, argv[1])))
    else:
        sys.exit(__doc__.split("\n\n")[1] + "\n")


if __name__ == "__main__":
    main(sys.argv[1:])
