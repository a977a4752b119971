"""pytest fixtures of the Wine suite; the rig itself is winerig.py."""

import re
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))

import winerig  # noqa: E402


@pytest.fixture(scope="module")
def wine(request):
    """A started WineSession (own prefix and X display) for the module."""
    session = winerig.WineSession(request.module.__name__)
    session.start()
    try:
        yield session
    finally:
        session.close()


@pytest.fixture
def artifact_name(request):
    """A file name for this test's artifacts (screenshots)."""
    return re.sub(r"[^A-Za-z0-9_.-]", "_", f"{request.module.__name__}.{request.node.name}")


@pytest.fixture
def screenshot(wine, artifact_name):
    """Takes a screenshot named after the test: screenshot() or
    screenshot("suffix")."""
    def take(suffix: str = "") -> Path:
        return wine.screenshot(artifact_name + (f".{suffix}" if suffix else ""))
    return take


@pytest.fixture
def workdir(tmp_path):
    """An empty folder for the test's files (tmp_path under another name)."""
    return tmp_path
