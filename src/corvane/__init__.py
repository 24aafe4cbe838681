"""Read WMO FM 94 BUFR weather data: every edition, with the tables built in.

>>> import corvane
>>> for message in corvane.open(corvane.sample_path())[:1]:
...     print(message.index, message.time, message.subsets)
...     for value in message.values()[:2]:
...         print(value.subset, value.key, value.value, value.unit)
0 2021-05-16 12:00:00 25
1 blockNumber 10.0 Numeric
1 stationNumber 33.0 Numeric

:func:`open` reads a path, bytes or a binary file object (gzip, bzip2 and xz data too) and
gives a :class:`BufrFile` of :class:`Message` objects; :meth:`Message.values` decodes one
message into :class:`Value` records; :func:`read` gives a pandas DataFrame. Tables come with the
package (every WMO master version to 46 and the local tables of ecCodes, chosen per message);
``tables=`` names others, and ``Tables(extra=...)`` or ``CORVANE_TABLES`` adds your own (see
:class:`Tables`). Bad messages raise :class:`BufrError` unless ``errors="skip"`` or
``errors="keep"``. :func:`encode` makes a message from values; :func:`write` writes messages
byte for byte (:meth:`BufrFile.select` chooses them, :meth:`Message.replace` edits section 1).
The command line is ``corvane`` (or ``python -m corvane``). :func:`sample_path` names a BUFR
file that ships with the package.
"""

from ._encode import encode
from ._errors import BufrError
from ._file import BufrFile, Message, Value, open
from ._read import read
from ._sources import sample_path
from ._tables import Tables
from ._write import write

__all__ = ["open", "read", "BufrFile", "Message", "Value", "BufrError", "Tables", "sample_path", "write", "encode"]
__version__ = "0.1.0"
