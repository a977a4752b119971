"""pytest fixtures of the Wine suite; the rig itself is winerig.py."""

import re
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))

import winerig  # noqa: E402


def pytest_addoption(parser):
    parser.addoption(
        "--shard", default=None, metavar="K/N",
        help="run only every N-th test of the module, starting with the K-th (from 0): "
             "a long module split over N processes that run at once")


def pytest_collection_modifyitems(config, items):
    shard = config.getoption("--shard")
    if not shard:
        return
    index, _, count = shard.partition("/")
    index, count = int(index), int(count)
    if not 0 <= index < count:
        raise pytest.UsageError(f"--shard {shard}: K must be from 0 to N-1")
    # Every N-th rather than blocks of N, so that the cases of one
    # parametrised test, which tend to take alike, spread over the shards.
    kept, dropped = [], []
    for position, item in enumerate(items):
        (kept if position % count == index else dropped).append(item)
    config.hook.pytest_deselected(items=dropped)
    items[:] = kept


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
