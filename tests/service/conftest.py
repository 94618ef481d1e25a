import pytest

from album_service import AlbumService

USER = "user@example.com"
PASSWORD = "secret"
PLUS_USER = "a+b@example.com"
SPACE_USER = "first last@example.com"
JAPANESE_USER = "taro@example.jp"
JAPANESE_PASSWORD = "パスワード:&=%"
BYTES_USER = "bytes@example.com"
# Not valid in any multi-byte code page: the hash is over whatever bytes there are.
BYTES_PASSWORD = b"\x81\xff\x00\x80 raw"

ACCOUNTS = {
    USER: PASSWORD,
    PLUS_USER: "p@ss word",
    SPACE_USER: "spaced",
    JAPANESE_USER: JAPANESE_PASSWORD,
    BYTES_USER: BYTES_PASSWORD,
}


@pytest.fixture
def service(tmp_path):
    with AlbumService(accounts=ACCOUNTS, storage=tmp_path / "storage", port=0) as svc:
        yield svc
