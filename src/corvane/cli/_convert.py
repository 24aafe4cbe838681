"""``corvane convert``: the rows of :func:`corvane.read` into Parquet, CSV, JSON lines or GeoJSON,
file after file, so that many inputs stream to one output."""

from __future__ import annotations

import argparse
import json
import math
import os
from typing import Any, Dict, List, Optional, TextIO

from .. import _keys
from .._read import Plan, pandas_module
from .._records import MessageError
from ._common import Failures, Progress, UsageError, streamed, tables
from ._list import WHERE_HELP
from ._select import Clause, parse_clauses, parse_keys

EXAMPLE = """examples:
  corvane convert synop.bufr -o synop.parquet -k WMO_station_id,data_datetime,airTemperature
  corvane convert *.bufr -o stations.geojson -k latitude,longitude,airTemperature -w dataCategory=0
  corvane convert temp.bufr -o levels.csv -k stationNumber,pressure,airTemperature
"""
FORMATS = (".parquet", ".csv", ".jsonl", ".geojson")


def add_parser(commands: argparse._SubParsersAction, parent: argparse.ArgumentParser) -> None:
    convert = commands.add_parser(
        "convert",
        parents=[parent],
        help="the rows of corvane.read into Parquet, CSV, JSON lines or GeoJSON",
        description="Writes the observation rows of the inputs, one after another, to one file whose "
        "suffix chooses the format: " + ", ".join(FORMATS) + " (Parquet needs pyarrow). GeoJSON "
        "has a Feature per row, a Point from longitude and latitude, the other columns as properties.",
        epilog=EXAMPLE,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    convert.add_argument("files", nargs="+", metavar="IN")
    convert.add_argument("-o", "--output", required=True, metavar="OUT")
    convert.add_argument("-k", "--keys", metavar="KEY,KEY", help="the columns (default: every key of each file)")
    convert.add_argument("-w", "--where", metavar="KEY=A/B,KEY!=C", help=WHERE_HELP)
    convert.add_argument("--flat", action="store_true", help="one row per subset, a column per occurrence")
    convert.set_defaults(run=command_convert)


def _wanted(text: str) -> Any:
    try:
        return float(text)
    except ValueError:
        return text


def filters_of(clauses: List[Clause]) -> Dict[str, Any]:
    """-w clauses as read() filters: a list of values, or a test that none of them is."""
    filters: Dict[str, Any] = {}
    for clause in clauses:
        wanted = [_wanted(value) for value in clause.wanted]
        filters[clause.key] = (lambda value, none_of=wanted: value not in none_of) if clause.negated else wanted
    return filters


class Writer:
    """One output file; frames come one at a time and take the columns of the first that has rows."""

    def __init__(self, path: str) -> None:
        self.path = path
        self.kind = os.path.splitext(path)[1].lower()
        if self.kind not in FORMATS:
            raise UsageError(f"-o {path!r}: name a file ending in one of {', '.join(FORMATS)}")
        self.columns: Optional[List[str]] = None
        self._empty: Any = None
        self.rows = 0
        self._parquet: Any = None
        self._schema: Any = None
        self._text: Optional[TextIO] = None
        self._features = 0
        if self.kind == ".parquet":
            try:
                import pyarrow  # noqa: F401
            except ImportError:
                raise UsageError("writing Parquet needs pyarrow: pip install 'corvane[arrow]'") from None
        else:
            self._text = open(path, "w", encoding="utf-8", newline="")
            if self.kind == ".geojson":
                self._text.write('{"type": "FeatureCollection", "features": [\n')

    def write(self, frame: Any) -> None:
        if self.columns is None and not len(frame):
            # A window of no rows may lack keys that rows later have: the columns wait for rows.
            self._empty = self._empty if self._empty is not None else frame
            return
        self._put(frame)

    def _put(self, frame: Any) -> None:
        first = self.columns is None
        if self.columns is None:
            self.columns = list(frame.columns)
        frame = frame.reindex(columns=self.columns)
        if self.kind == ".parquet":
            self._write_parquet(frame)
        elif self.kind == ".csv":
            frame.to_csv(self._text, header=first, index=False)
        elif self.kind == ".jsonl":
            if len(frame):
                text = frame.to_json(orient="records", lines=True, date_format="iso")
                self._text.write(text if text.endswith("\n") else text + "\n")
        else:
            self._write_features(frame)
        self.rows += len(frame)

    def _write_parquet(self, frame: Any) -> None:
        import pyarrow
        import pyarrow.parquet

        table = pyarrow.Table.from_pandas(frame, schema=self._schema, preserve_index=False)
        if self._parquet is None:
            self._schema = table.schema
            self._parquet = pyarrow.parquet.ParquetWriter(self.path, self._schema)
        self._parquet.write_table(table)

    def _write_features(self, frame: Any) -> None:
        assert self._text is not None
        if "latitude" not in frame.columns or "longitude" not in frame.columns:
            raise UsageError("GeoJSON needs the latitude and longitude keys: add them to -k")
        names = list(frame.columns)
        for row in frame.itertuples(index=False, name=None):
            record = {name: _plain(value) for name, value in zip(names, row)}
            longitude, latitude = record.pop("longitude"), record.pop("latitude")
            point = None if longitude is None or latitude is None else [longitude, latitude]
            feature = {
                "type": "Feature",
                "geometry": None if point is None else {"type": "Point", "coordinates": point},
                "properties": record,
            }
            self._text.write((",\n" if self._features else "") + json.dumps(feature))
            self._features += 1

    def close(self) -> None:
        if self.columns is None and self._empty is not None:
            self._put(self._empty)
        if self._parquet is not None:
            self._parquet.close()
        if self._text is not None:
            if self.kind == ".geojson":
                self._text.write("\n]}\n")
            self._text.close()


def _plain(value: Any) -> Any:
    """A cell as JSON takes it: None for missing, numbers and texts as they are, times in ISO form."""
    pandas = pandas_module()
    if value is None or value is pandas.NA or value is pandas.NaT:
        return None
    if isinstance(value, float):
        return None if math.isnan(value) else value
    if hasattr(value, "isoformat"):
        return value.isoformat()
    if hasattr(value, "item"):
        return _plain(value.item())
    return value


def command_convert(args: argparse.Namespace, out: TextIO) -> int:
    try:
        plan = Plan.make(
            parse_keys(args.keys, "-k") or None,
            filters_of(parse_clauses(args.where)) or None,
            True,
            args.flat,
            lambda: _keys.known_keys(tables(args)),
        )
    except KeyError as error:
        raise UsageError(str(error)) from None
    pandas = pandas_module()
    writer = Writer(args.output)
    errors: List[MessageError] = []
    failures = Failures(named=len(args.files) > 1)
    progress = Progress(len(args.files))
    try:
        for window in streamed(args, args.files):
            found = len(errors)
            frame = plan.frame(pandas, window.bufr, None, errors)
            if "message" in frame.columns:
                frame["message"] += window.first_index
            writer.write(frame)
            for error in errors[found:]:
                failures.failed(
                    window.first_index + error.index, window.first_offset + error.offset, error.reason, window.bufr.name
                )
            progress.update(args.files.index(window.bufr.name or "-") + 1)
    finally:
        progress.close()
        writer.close()
    return failures.exit_status()
