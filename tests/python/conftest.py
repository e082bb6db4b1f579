"""Fixtures every Python test module shares."""

import gc
import os

import pytest

import srf


@pytest.fixture
def work(request):
    """A folder for files a test writes: in the build tree under ctest."""
    root = os.environ.get("SRF_TEST_WORK_DIR")
    if not root:
        return request.getfixturevalue("tmp_path")
    folder = os.path.join(root, request.node.name)
    os.makedirs(folder, exist_ok=True)
    return folder


@pytest.fixture(autouse=True)
def nothing_left_behind():
    """Every test gives back every pooled block and every BSDF it made.
    (The measured-data cache keeps its data sets, which are not pooled.)"""
    gc.collect()
    blocks, live = srf.pool_blocks_out(), srf.live_objects()
    yield
    gc.collect()
    assert (srf.pool_blocks_out(), srf.live_objects()) == (blocks, live)
