"""The archive format of src/corvane/data/README.md: a tree of files and links, its lines and files
each kept once. pack_tables.py writes it; unpack reads it back for the check.
"""

import sys

MAGIC = b"CVTABLES"
FORMAT = 1
DIRECTORY, FILE, LINK = 0, 1, 2


def build_tree(files, links):
    """The files and links as nested dicts: name -> dict (directory), bytes (file) or ("link", target)."""
    root = {}
    for path, entry in list(files.items()) + [(p, ("link", t)) for p, t in links.items()]:
        node = root
        parts = path.split("/")
        for part in parts[:-1]:
            node = node.setdefault(part, {})
            if not isinstance(node, dict):
                sys.exit(f"{path}: a file stands where a directory is needed")
        if parts[-1] in node:
            sys.exit(f"{path}: both a directory and a file or link")
        node[parts[-1]] = entry
    check_links(root, "")
    return root


def check_links(node, path):
    for name, entry in node.items():
        if isinstance(entry, dict):
            check_links(entry, f"{path}{name}/")
        elif isinstance(entry, tuple):
            seen = {name}
            target = entry[1]
            while isinstance(node.get(target), tuple) and target not in seen:
                seen.add(target)
                target = node[target][1]
            if target in seen or target not in node:
                sys.exit(f"{path}{name}: link does not reach a file or directory")


def varint(value, out):
    while value >= 0x80:
        out.append(value & 0x7F | 0x80)
        value >>= 7
    out.append(value)


def zigzag(value):
    return value * 2 if value >= 0 else -value * 2 - 1


def pack(root, label):
    names, lines, files, directories = {}, {}, {}, []
    file_lines = []

    def name_index(name):
        return names.setdefault(name.encode("utf-8", "surrogateescape"), len(names))

    def file_index(content):
        if content not in files:
            files[content] = len(files)
            file_lines.append([lines.setdefault(line, len(lines)) for line in content.split(b"\n")])
        return files[content]

    # Directories are numbered in visiting order, so the root is 0 and a directory's entries are
    # known before its subdirectories are visited.
    def visit(node):
        index = len(directories)
        directories.append(None)
        entries = []
        for name in sorted(node, key=lambda n: n.encode("utf-8", "surrogateescape")):
            entry = node[name]
            if isinstance(entry, dict):
                entries.append((name_index(name), DIRECTORY, visit(entry)))
            elif isinstance(entry, tuple):
                entries.append((name_index(name), LINK, name_index(entry[1])))
            else:
                entries.append((name_index(name), FILE, file_index(entry)))
        directories[index] = entries
        return index

    visit(root)
    out = bytearray(MAGIC)
    varint(FORMAT, out)
    encoded_label = label.encode("utf-8")
    varint(len(encoded_label), out)
    out += encoded_label
    # Names are written in index order; entry order inside a directory is by name bytes.
    varint(len(names), out)
    for name in names:
        varint(len(name), out)
        out += name
    varint(len(lines), out)
    for line in lines:
        varint(len(line), out)
    for line in lines:
        out += line
    varint(len(file_lines), out)
    for indices in file_lines:
        varint(len(indices), out)
        previous = 0
        for index in indices:
            varint(zigzag(index - previous), out)
            previous = index
    varint(len(directories), out)
    for entries in directories:
        varint(len(entries), out)
        for name, kind, target in entries:
            varint(name, out)
            varint(target * 4 + kind, out)
    return bytes(out), len(lines), len(files)


def unpack(data):
    """The tree and label of an archive; the inverse of pack, for the check."""
    position = len(MAGIC)

    def number():
        nonlocal position
        value, shift = 0, 0
        while True:
            byte = data[position]
            position += 1
            value |= (byte & 0x7F) << shift
            shift += 7
            if byte < 0x80:
                return value

    def text():
        nonlocal position
        length = number()
        position += length
        return data[position - length : position]

    assert data[:position] == MAGIC and number() == FORMAT
    label = text().decode("utf-8")
    names = [text().decode("utf-8", "surrogateescape") for _ in range(number())]
    lengths = [number() for _ in range(number())]
    lines = []
    for length in lengths:
        lines.append(data[position : position + length])
        position += length
    files = []
    for _ in range(number()):
        indices, previous = [], 0
        for _ in range(number()):
            step = number()
            previous += step // 2 if step % 2 == 0 else -(step + 1) // 2
            indices.append(previous)
        files.append(b"\n".join(lines[i] for i in indices))
    directories = [[(number(), number()) for _ in range(number())] for _ in range(number())]
    assert position == len(data)

    def build(index):
        node = {}
        for name, tag in directories[index]:
            kind, target = tag % 4, tag // 4
            if kind == DIRECTORY:
                node[names[name]] = build(target)
            elif kind == FILE:
                node[names[name]] = files[target]
            else:
                node[names[name]] = ("link", names[target])
        return node

    return build(0), label
