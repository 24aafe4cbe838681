"""Compares decoded element values with another decoder's dump of the same messages.

A reference holds, per message, the elements that carry a descriptor code, in dump order: one
value per element for uncompressed data (subsets follow each other), and for compressed data one
value shared by all subsets or a list with one value per subset. Both `_corvane` and the
`corvane` package are compared with the same rules.
"""

import difflib
import json
import math

import _corvane

# Element codes only: associated fields (999999), operator markers and character data are ours alone.
ELEMENT_LIMIT = 100000
# The other decoder repeats the associated-field significance after every associated field.
SIGNIFICANCE = 31021
# A bitmap entry. The values that a bitmap drives (quality information after 222000, and those of
# 223255, 224255, 225255 and 232255) the other decoder attaches to the elements they describe
# instead of listing them.
BITMAP_ENTRY = 31031


def _kept(code):
    return code < ELEMENT_LIMIT and code != SIGNIFICANCE


def _corvane_values(raw, definitions_root):
    """(code, value) of our elements, less the new reference values that a 203YYY definition reads."""
    kept, defining_references = [], False
    for value in _corvane.decode_values_with_definitions(raw, definitions_root):
        if value.name == "operator" and value.descriptor // 1000 == 203:
            defining_references = value.descriptor % 1000 not in (0, 255)
        elif _kept(value.descriptor) and not defining_references:
            if value.raw_text is not None:
                kept.append((value.descriptor, value.raw_text.rstrip(" \0")))
            else:  # a missing text has no raw bits
                kept.append((value.descriptor, None if value.raw is None else value.raw_value))
    return kept


def _package_values(message):
    """(code, value) of the package's elements: it trims texts and leaves 203YYY definitions out itself."""
    return [(value.code, value.value) for value in message.values() if _kept(value.code)]


def _reference_value(value):
    return value.rstrip(" \0") if isinstance(value, str) else value


def _same(mine, theirs):
    if isinstance(mine, str) or isinstance(theirs, str) or mine is None or theirs is None:
        return mine == theirs
    # The reference prints six significant digits.
    return math.isclose(mine, theirs, rel_tol=6e-6, abs_tol=1e-9)


def _columns(values, subsets):
    """Regroups a flat subset-after-subset list into one column per element."""
    if subsets == 0 or len(values) % subsets:
        return None
    width = len(values) // subsets
    return [[values[s * width + k] for s in range(subsets)] for k in range(width)]


def compare_values(mine, subsets, compressed, reference):
    """The differences between our (code, value) list and a reference message, as readable
    lines; an empty list when both decoders agree.

    The reference leaves out bitmap-driven values, so ours may hold extra runs of values, but
    only after the first bitmap entry of a message whose reference lists bitmap entries too;
    everything else must line up element for element.
    """
    theirs = [(int(code), value) for code, value in reference["elements"] if _kept(int(code))]
    if compressed:
        columns = _columns(mine, subsets)
        if columns is None:
            return [f"{len(mine)} values do not split into {subsets} subsets"]
        expected = [want if isinstance(want, list) else [want] * subsets for _, want in theirs]
    else:
        columns = [[value] for value in mine]
        expected = [[want] for _, want in theirs]
    codes = [column[0][0] for column in columns]
    bitmap_start = (
        codes.index(BITMAP_ENTRY)
        if any(code == BITMAP_ENTRY for code, _ in theirs) and BITMAP_ENTRY in codes
        else len(codes)
    )
    reference_codes = [code for code, _ in theirs]
    # difflib is quadratic on long satellite messages: align directly when the codes agree.
    opcodes = (
        [("equal", 0, len(codes), 0, len(theirs))]
        if codes == reference_codes
        else difflib.SequenceMatcher(None, codes, reference_codes, autojunk=False).get_opcodes()
    )
    problems = []
    for tag, mine_start, mine_end, theirs_start, theirs_end in opcodes:
        if tag != "equal" and (tag != "delete" or mine_start < bitmap_start):
            problems.append(
                f"{tag}: ours #{mine_start}-{mine_end} {codes[mine_start : mine_start + 3]}, reference "
                f"#{theirs_start}-{theirs_end} ({theirs[theirs_start:theirs_end][:3]})"
            )
        if tag != "equal":
            continue
        for offset in range(mine_end - mine_start):
            column, want = columns[mine_start + offset], expected[theirs_start + offset]
            for subset, ((code, value), wanted) in enumerate(zip(column, want)):
                if not _same(value, _reference_value(wanted)):
                    problems.append(f"#{mine_start + offset} {code:06d} subset {subset}: {value!r} against {wanted!r}")
                    break
    return problems[:5]


def compare_file(bufr_path, reference_path, definitions_root):
    """(message index, problems) for every reference message that `_corvane` decodes differently."""
    data = bufr_path.read_bytes()
    reference = json.loads(reference_path.read_text())
    report = []
    for entry in reference["messages"]:
        if not entry["ok"]:
            continue
        raw = data[entry["offset"] : entry["offset"] + entry["length"]]
        try:
            message = _corvane.parse_bytes(raw)
            problems = compare_values(
                _corvane_values(raw, definitions_root), message.number_of_subsets, message.compressed_data, entry
            )
        except ValueError as error:
            problems = [f"ValueError: {error}"]
        if problems:
            report.append((entry["index"], problems))
    return report


def compare_package_file(bufr, reference):
    """(message index, problems) for every message of a reference (as loaded from its JSON) that
    ecCodes decoded and the package decodes differently; `bufr` is a `corvane.BufrFile` opened
    with errors="keep"."""
    entries = {entry["offset"]: entry for entry in reference["messages"] if entry["ok"]}
    report = []
    for message in bufr:
        entry = entries.pop(message.offset, None)
        if entry is None:
            continue
        if message.error is not None:
            problems = [f"error: {message.error}"]
        else:
            problems = compare_values(_package_values(message), message.subsets, message.compressed, entry)
        if problems:
            report.append((entry["index"], problems))
    report.extend((entry["index"], [f"no message at byte {offset}"]) for offset, entry in entries.items())
    return report
