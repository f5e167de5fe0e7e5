"""Where the tests find the module and the corvane program: the installed
package when there is one (scripts/python.sh), else the build tree's, and
the program of the same build (CORVANE_BUILD_DIR, default build/)."""

import os
import pathlib
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
BUILD = pathlib.Path(os.environ.get("CORVANE_BUILD_DIR", ROOT / "build"))

try:
    import corvane  # noqa: F401
except ImportError:
    sys.path.insert(0, str(BUILD / "python"))


@pytest.fixture(scope="session")
def program():
    path = BUILD / "corvane"
    if not path.exists():
        pytest.fail(f"{path} is missing: build the corvane target first")
    return path


@pytest.fixture(scope="session")
def examples():
    return ROOT / "examples"
