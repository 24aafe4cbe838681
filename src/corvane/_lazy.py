"""NumPy imported when first used: ``corvane ls`` on header keys and ``import corvane`` need none."""

from __future__ import annotations

import importlib
from types import ModuleType
from typing import Any


class LazyModule(ModuleType):
    """A module that is imported at its first attribute; each attribute is then kept as its own."""

    def __getattr__(self, name: str) -> Any:
        value = getattr(importlib.import_module(self.__name__), name)
        setattr(self, name, value)
        return value


numpy = LazyModule("numpy")
