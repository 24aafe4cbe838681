"""Compares decoded element values with another decoder's dump of the same messages.

A reference holds, per message, the elements that carry a descriptor code, in dump order: one
value per element for uncompressed data (subsets follow each other), and for compressed data one
value shared by all subsets or a list with one value per subset.
"""
import difflib
import json
import math

import _corvane

# Element codes only: associated fields (999999), operator markers and character data are ours alone.
ELEMENT_LIMIT = 100000
# The other decoder repeats the associated-field significance after every associated field.
SIGNIFICANCE = 31021
# Operators whose bitmap-driven values the other decoder attaches to other elements instead of
# listing them: statistics (223255, 224255, 225255, 232255) and quality information after 222000.
STATISTICS_OPERATORS = (222, 223, 224, 225, 232)


def _ours(raw, definitions_root):
    """Our element values, less the new reference values that a 203YYY definition reads, and
    whether a statistics operator marker was met."""
    kept, defining_references, statistics = [], False, False
    for value in _corvane.decode_values_with_definitions(raw, definitions_root):
        if value.name == "operator" and value.descriptor // 1000 == 203:
            defining_references = value.descriptor % 1000 not in (0, 255)
        elif value.name == "operator" and value.descriptor // 1000 in STATISTICS_OPERATORS:
            statistics = True
        elif value.descriptor < ELEMENT_LIMIT and value.descriptor != SIGNIFICANCE and not defining_references:
            kept.append(value)
    return kept, statistics


def _comparable(value):
    if value.raw_text is not None:
        return value.raw_text.rstrip(" \0")
    if value.raw is None:  # a text element whose text is missing
        return None
    return value.raw_value


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


def compare_message(raw, reference, definitions_root):
    """The differences, as readable lines; an empty list when both decoders agree.

    The reference leaves out the values that the bitmap operators of STATISTICS_OPERATORS
    produce, so ours may hold extra runs of values, but only in a message that uses those
    operators; everything else must line up element for element.
    """
    message = _corvane.parse_bytes(raw)
    mine, statistics = _ours(raw, definitions_root)
    theirs = [item for item in reference["elements"] if int(item[0]) < ELEMENT_LIMIT and int(item[0]) != SIGNIFICANCE]
    if message.compressed_data:
        columns = _columns(mine, message.number_of_subsets)
        if columns is None:
            return [f"{len(mine)} values do not split into {message.number_of_subsets} subsets"]
        expected = [want if isinstance(want, list) else [want] * message.number_of_subsets for _, want in theirs]
    else:
        columns = [[value] for value in mine]
        expected = [[want] for _, want in theirs]
    matcher = difflib.SequenceMatcher(
        None, [column[0].descriptor for column in columns], [int(code) for code, _ in theirs], autojunk=False)
    problems = []
    for tag, mine_start, mine_end, theirs_start, theirs_end in matcher.get_opcodes():
        if tag == "insert" or tag == "replace" or (tag == "delete" and not statistics):
            problems.append(f"{tag}: ours #{mine_start}-{mine_end}, reference #{theirs_start}-{theirs_end} "
                            f"({theirs[theirs_start:theirs_end][:3]})")
        if tag != "equal":
            continue
        for offset in range(mine_end - mine_start):
            column, want = columns[mine_start + offset], expected[theirs_start + offset]
            for subset, (value, wanted) in enumerate(zip(column, want)):
                if not _same(_comparable(value), _reference_value(wanted)):
                    problems.append(f"#{mine_start + offset} {value.descriptor:06d} subset {subset}: "
                                    f"{_comparable(value)!r} against {wanted!r}")
                    break
    return problems[:5]


def compare_file(bufr_path, reference_path, definitions_root):
    """(message index, problems) for every reference message that decoded with differences."""
    data = bufr_path.read_bytes()
    reference = json.loads(reference_path.read_text())
    report = []
    for entry in reference["messages"]:
        if not entry["ok"]:
            continue
        raw = data[entry["offset"]:entry["offset"] + entry["length"]]
        try:
            problems = compare_message(raw, entry, definitions_root)
        except ValueError as error:
            problems = [f"ValueError: {error}"]
        if problems:
            report.append((entry["index"], problems))
    return report
