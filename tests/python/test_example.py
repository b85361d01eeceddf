"""The Python example runs as the README says and prints what it should."""

import os
import pathlib
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parents[2]


def test_triage_example_prints_its_expected_output():
    example = ROOT / "examples" / "python" / "triage.py"
    result = subprocess.run([sys.executable, str(example)], capture_output=True, text=True,
                            env=dict(os.environ), check=True, timeout=60)
    assert result.stderr == ""
    assert result.stdout == (example.with_suffix(".out")).read_text()
