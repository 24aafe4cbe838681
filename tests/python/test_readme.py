"""Every Python example of the README runs as it stands, as a script from the repository root."""

import re
import subprocess
import sys

import pytest
from conftest import DATA

ROOT = DATA.parent.parent
EXAMPLES = re.findall(r"^```python\n(.*?)^```", (ROOT / "README.md").read_text(), re.S | re.M)
# Extras a user installs for some examples; without them those examples are skipped.
OPTIONAL = {"distributed", "polars"}


@pytest.mark.parametrize("code", EXAMPLES, ids=[f"example{n}" for n in range(1, len(EXAMPLES) + 1)])
def test_readme_example_runs(code, tmp_path):
    script = tmp_path / "example.py"
    script.write_text(code)
    result = subprocess.run([sys.executable, str(script)], cwd=ROOT, capture_output=True, text=True, timeout=180)
    missing = re.search(r"ModuleNotFoundError: No module named '(\w+)'", result.stderr)
    if result.returncode != 0 and missing and missing[1] in OPTIONAL:
        pytest.skip(f"{missing[1]} is not installed")
    assert result.returncode == 0, result.stderr[-2000:]
