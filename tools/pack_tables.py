#!/usr/bin/env python3
"""Packs ecCodes BUFR table tarballs and WMO code and flag tables into the archive the core reads.

    tools/pack_tables.py src/corvane/data/bufr_tables.bin \\
        --eccodes eccodes-bufr-tables-2.28.tar.xz --eccodes eccodes-bufr-tables-2.50.tar.xz \\
        --wmo wmo-bufr4 --wmo-release "BUFR4 v45 (2025-11-25)"

Each tarball holds the tree below an ecCodes definitions root (members start with bufr/tables/).
A later tarball replaces the files of the earlier ones, reaching them through their symbolic
links, so that a directory the earlier release links stays one directory. Master versions newer
than every version with code tables (ecCodes builds without codetables/) get the code and flag
tables of the newest version that has them, each replaced by the WMO's own where its
BUFRCREX_CodeFlag_en_*.csv files define it. The archive's sources.txt says where every version
and local table comes from.

The format is described in src/corvane/data/README.md and written by table_archive.py. Versions
repeat each other almost line for line, so the archive keeps each distinct line once and each
distinct file once, as a list of line indices. An element.table whose rows have different field
counts is normalised first (see normalise_element_table). The output is checked by unpacking it
again before it is written. Standard library only.
"""

import argparse
import collections
import csv
import os
import re
import sys
import tarfile

from table_archive import build_tree, pack, unpack

SOURCES = "sources.txt"


def release_of(tarball):
    """'ecCodes 2.50' for eccodes-bufr-tables-2.50.tar.xz."""
    name = os.path.basename(tarball).split(".tar")[0]
    found = re.search(r"(\d+(?:\.\d+)+)$", name)
    return f"ecCodes {found.group(1)}" if found else name


def read_tarball(tarball):
    """The files ({path: bytes}) and symbolic links ({path: sibling name}) of a tarball."""
    files, links = {}, {}
    with tarfile.open(tarball, "r:*") as archive:
        for member in archive:
            parts = [p for p in member.name.split("/") if p not in ("", ".")]
            if not parts or member.isdir():
                continue
            if ".." in parts:
                sys.exit(f"{member.name}: '..' in a member name")
            path = "/".join(parts)
            if member.isfile():
                content = archive.extractfile(member).read()
                if parts[-1] == "element.table":
                    content = normalise_element_table(content, member.name)
                files[path] = content
            elif member.issym():
                # The loader follows a link within its own directory only.
                if "/" in member.linkname or member.linkname in ("", ".", ".."):
                    sys.exit(f"{member.name} -> {member.linkname}: only links to a sibling are supported")
                links[path] = member.linkname
            else:
                sys.exit(f"{member.name}: unsupported member type")
    return files, links


def normalise_element_table(content, name):
    """Rows padded with empty fields to the widest row, when rows differ in field count.

    A table file has one field count, fixed by its first row; two local tables of ecCodes 2.28
    mix rows of 11 fields with rows of 8 (the CREX columns left out) and end some rows with a
    blank after the width, which ecCodes reads leniently. Their blanks at the end of a row are
    dropped and their short rows padded, so that every table of the tarball loads; any other
    file is kept byte for byte.
    """
    lines = content.split(b"\n")
    rows = [i for i, line in enumerate(lines) if line.strip() and not line.startswith(b"#")]
    counts = {lines[i].count(b"|") for i in rows}
    if len(counts) < 2:
        return content
    if any(b'"' in lines[i] for i in rows):
        sys.exit(f"{name}: rows of different field counts with quoted fields")
    widest = max(counts)
    for i in rows:
        line = lines[i].rstrip(b" \t")
        lines[i] = line + b"|" * (widest - line.count(b"|"))
    print(f"{name}: rows padded to {widest + 1} fields")
    return b"\n".join(lines)


def resolve(path, links):
    """`path` with every symbolic link on it replaced by the sibling it names."""
    parts = path.split("/")
    for _ in range(64):
        for i in range(1, len(parts) + 1):
            target = links.get("/".join(parts[:i]))
            if target is not None:
                parts[i - 1] = target
                break
        else:
            return "/".join(parts)
    sys.exit(f"{path}: symbolic links loop")


def merge(tables, tarball):
    """Lays the files of `tarball` over `tables` (files, links, origins)."""
    files, links, origins = tables
    release = release_of(tarball)
    top_files, top_links = read_tarball(tarball)
    for path, target in top_links.items():
        if path not in links and (path in files or any(p.startswith(path + "/") for p in files)):
            sys.exit(f"{tarball}: link {path} -> {target} stands where the earlier tree has files")
        if links.setdefault(path, target) != target:
            sys.exit(f"{tarball}: link {path} -> {target} names another target than the earlier tree")
    written = {}
    for path, content in sorted(top_files.items()):
        real = resolve(path, links)
        if written.setdefault(real, (path, content))[1] != content:
            sys.exit(f"{tarball}: {path} and {written[real][0]} reach one file through links but differ")
        if files.get(real) == content:
            origins[real].append(release)
        else:
            files[real] = content
            origins[real] = [release]
    print(f"{tarball}: {len(top_files)} files, {len(top_links)} links as {release}")


def wmo_code_tables(directory):
    """{code: ecCodes .table bytes} of every WMO code or flag table that has a plain code figure.

    Entries whose figure is a range ("10-62", reserved) or "All N" (every bit set, missing) are
    left out, as ecCodes leaves them out; a table that only points elsewhere (a common code table)
    has no entries and is absent.
    """
    entries = collections.defaultdict(list)
    names = sorted(n for n in os.listdir(directory) if n.startswith("BUFRCREX_CodeFlag_en_") and n.endswith(".csv"))
    if not names:
        sys.exit(f"{directory}: no BUFRCREX_CodeFlag_en_*.csv files")
    for name in names:
        with open(os.path.join(directory, name), newline="", encoding="utf-8") as file:
            for row in csv.DictReader(file):
                figure = row["CodeFigure"].strip()
                text = " ".join(row["EntryName_en"].split())
                if re.fullmatch(r"[0-9]+", figure) and text:
                    entries[int(row["FXY"])].append(f"{int(figure)} {int(figure)} {text}\n")
    return {code: "".join(lines).encode("utf-8") for code, lines in entries.items()}


def version_dirs(files, links):
    """{master table directory: sorted master versions} for every bufr/tables/M/wmo/V."""
    found = collections.defaultdict(set)
    for path in list(files) + list(links):
        parts = path.split("/")
        if len(parts) >= 5 and parts[:2] == ["bufr", "tables"] and parts[3] == "wmo" and parts[4].isdigit():
            found["/".join(parts[:4])].add(int(parts[4]))
    return {table: sorted(versions) for table, versions in sorted(found.items())}


def add_wmo_code_tables(tables, directory, release):
    """Code tables for the master versions newer than every version that has them."""
    files, links, origins = tables
    wmo = wmo_code_tables(directory)
    for table, versions in version_dirs(files, links).items():
        with_codes = [v for v in versions if any(p.startswith(f"{table}/{v}/codetables/") for p in files)]
        if not with_codes:
            continue
        newest = max(with_codes)
        prefix = f"{table}/{newest}/codetables/"
        inherited = {p[len(prefix) :]: p for p in files if p.startswith(prefix)}
        for version in versions:
            if version <= newest or f"{table}/{version}" in links:
                continue
            target = f"{table}/{version}/codetables/"
            for name, path in inherited.items():
                if int(name.split(".")[0]) not in wmo:
                    files[target + name] = files[path]
                    origins[target + name] = [f"{origin} (version {newest})" for origin in origins[path]]
            for code, content in wmo.items():
                files[f"{target}{code}.table"] = content
                origins[f"{target}{code}.table"] = [f"WMO {release}"]
            print(
                f"{table}/{version}: {len(wmo)} code tables of WMO {release}, "
                f"{sum(int(n.split('.')[0]) not in wmo for n in inherited)} of version {newest}"
            )


def origin_text(origins):
    """'ecCodes 2.28 and 2.50 (the same)' for a file that both releases hold alike."""
    unique = list(dict.fromkeys(origins))
    if len(unique) > 1 and all(o.startswith("ecCodes ") for o in unique):
        return f"ecCodes {' and '.join(o[len('ecCodes ') :] for o in unique)} (the same)"
    return " and ".join(unique)


def sources_of(paths, origins):
    """Where files come from: one origin, or each with its count ('WMO ... (530), ecCodes 2.28 (8)')."""
    counts = collections.Counter(origin_text(origins[p]) for p in paths).most_common()
    if len(counts) < 2:
        return counts[0][0] if counts else "none"
    return ", ".join(f"{origin} ({n})" for origin, n in counts)


def version_ranges(versions):
    ranges, start = [], None
    for i, version in enumerate(versions):
        start = version if start is None else start
        if i + 1 == len(versions) or versions[i + 1] != version + 1:
            ranges.append(str(start) if start == version else f"{start}-{version}")
            start = None
    return ", ".join(ranges)


def describe_sources(files, links, origins):
    """The text of sources.txt: where each master version and the local tables come from."""
    lines = []
    for table, versions in version_dirs(files, links).items():
        lines.append(f"master table {table.split('/')[2]}:")
        described = []
        for version in versions:
            path = f"{table}/{version}"
            if path in links:
                described.append((version, f"the files of version {links[path]}"))
                continue
            mains = [p for p in (f"{path}/element.table", f"{path}/sequence.def") if p in files]
            codes = [p for p in files if p.startswith(f"{path}/codetables/")]
            described.append(
                (
                    version,
                    f"Table B and D: {sources_of(mains, origins)}; code and flag tables: {sources_of(codes, origins)}",
                )
            )
        groups = collections.defaultdict(list)
        for version, text in described:
            groups[text].append(version)
        for text, members in sorted(groups.items(), key=lambda item: item[1][0]):
            lines.append(f"  {'version' if len(members) == 1 else 'versions'} {version_ranges(members)}: {text}")
    local = [p for p in files if re.match(r"bufr/tables/\d+/local/", p)]
    centres = sorted({int(p.split("/")[5]) for p in local if p.split("/")[5].isdigit()})
    lines.append(
        f"local tables of centres {', '.join(map(str, centres))}: "
        f"Table B and D: {sources_of([p for p in local if '/codetables/' not in p], origins)}; "
        f"code and flag tables: {sources_of([p for p in local if '/codetables/' in p], origins)}"
    )
    return ("\n".join(lines) + "\n").encode("utf-8")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("output", help="the archive to write")
    parser.add_argument(
        "--eccodes",
        action="append",
        required=True,
        metavar="TARBALL",
        help="ecCodes BUFR tables, e.g. eccodes-bufr-tables-2.28.tar.xz; later ones replace earlier files",
    )
    parser.add_argument(
        "--wmo", metavar="DIR", help="a WMO BUFR4 release: code and flag tables for the newest versions"
    )
    parser.add_argument("--wmo-release", metavar="TEXT", help='the WMO release, e.g. "BUFR4 v45 (2025-11-25)"')
    parser.add_argument("--label", help="where the tables come from (default: the releases)")
    args = parser.parse_args()
    if args.wmo and not args.wmo_release:
        parser.error("--wmo needs --wmo-release: the CSV files do not say which release they are")

    tables = ({}, {}, {})
    for tarball in args.eccodes:
        merge(tables, tarball)
    if args.wmo:
        add_wmo_code_tables(tables, args.wmo, args.wmo_release)
    files, links, origins = tables
    releases = [
        release_of(t)[len("ecCodes ") :] if release_of(t).startswith("ecCodes ") else release_of(t)
        for t in args.eccodes
    ]
    label = args.label or (
        f"ecCodes {' and '.join(releases)} BUFR tables (ECMWF, Apache-2.0)"
        + (f", code and flag tables of WMO {args.wmo_release}" if args.wmo else "")
    )
    files[SOURCES] = describe_sources(files, links, origins)
    root = build_tree(files, links)
    data, line_count, file_count = pack(root, label)
    if unpack(data) != (root, label):
        sys.exit("internal error: the archive does not unpack to the merged tree")
    with open(args.output, "wb") as out:
        out.write(data)
    sys.stdout.write(files[SOURCES].decode("utf-8"))
    print(
        f"{args.output}: {len(data)} bytes, {len(files)} files and {len(links)} links, "
        f"{file_count} distinct files, {line_count} distinct lines"
    )


if __name__ == "__main__":
    main()
