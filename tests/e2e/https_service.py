"""Helpers for the end-to-end runs over HTTPS: a test authority trusted in the test
file's Wine prefix, and the album service serving a certificate."""

from __future__ import annotations

from contextlib import contextmanager
from pathlib import Path

import uploader_runs
import winedrive as wd
from album_certificates import Authority, Credentials
from album_service import AlbumService


@contextmanager
def trusted_authority(folder: Path, name: str = "Vistora Test CA"):
    """A new authority, in the prefix's trusted roots while the block runs."""
    authority = Authority.create(name)
    certificate, _ = authority.write(folder, "authority")
    wd.trust_root(certificate)
    try:
        yield authority
    finally:
        wd.distrust_root(certificate)


def album_serving(folder: Path, credentials: Credentials) -> AlbumService:
    """The album service with the account of uploader_runs, over HTTPS with these credentials."""
    return AlbumService(
        accounts={uploader_runs.ACCOUNT: uploader_runs.PASSWORD},
        storage=folder / "album",
        ssl_context=credentials.write(folder / "tls", "server"),
    )
