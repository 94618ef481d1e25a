"""What the album service remembers: accounts, sessions, stored photos and the
journal of requests. Each piece is safe to use from the server's threads."""

import copy
import hashlib
import json
import secrets
import string
import threading
import time
from collections.abc import Mapping
from pathlib import Path

from album_wire import INCOMING_PREFIX, ReceivedFile

# The uploader is a Japanese Windows program: its text, the e-mail address and
# password included, is in the ANSI code page.
CLIENT_CODEPAGE = "cp932"

TOKEN_ALPHABET = string.ascii_letters + string.digits
TOKEN_LENGTH = 32


def client_bytes(text: str | bytes) -> bytes:
    return text if isinstance(text, bytes) else text.encode(CLIENT_CODEPAGE)


def expected_hash(password: bytes) -> str:
    # The client sends the digest with a line feed after it, and the service
    # takes the field as it comes.
    return hashlib.sha1(password).hexdigest() + "\n"


class Accounts:
    """E-mail address -> password, compared as the client encodes them."""

    def __init__(self, accounts: Mapping[str, str | bytes]):
        self._by_id: dict[bytes, tuple[str, bytes]] = {
            client_bytes(email): (email, client_bytes(password))
            for email, password in accounts.items()
        }

    def emails(self) -> list[str]:
        return [email for email, _ in self._by_id.values()]

    def check_login(self, user_id: bytes | None, hash_field: str | None):
        """(e-mail, None) for a good login, else (None, why not)."""
        if user_id is None or hash_field is None:
            return None, "userId or hash missing"
        account = self._by_id.get(user_id)
        if account is None:
            return None, "unknown user"
        email, password = account
        expected = expected_hash(password)
        if hash_field == expected:
            return email, None
        if hash_field == expected[:-1]:
            return None, "hash lacks the trailing line feed"
        return None, "wrong password hash"


class Sessions:
    def __init__(self):
        self._lock = threading.Lock()
        self._users: dict[str, str] = {}

    def create(self, email: str) -> str:
        token = "".join(secrets.choice(TOKEN_ALPHABET) for _ in range(TOKEN_LENGTH))
        with self._lock:
            self._users[token] = email
        return token

    def user_of(self, token: str | None) -> str | None:
        with self._lock:
            return self._users.get(token)

    def snapshot(self) -> dict[str, str]:
        with self._lock:
            return dict(self._users)

    def clear(self) -> None:
        with self._lock:
            self._users.clear()


def safe_file_name(name: str) -> str:
    """A single path component: whatever the client sends stays in its folder."""
    for separator in ("/", "\\", "\0"):
        name = name.replace(separator, "_")
    if name in ("", ".", ".."):
        name = "_" + name
    return name


class Storage:
    """Photos as <root>/<account e-mail>/<file name>."""

    def __init__(self, root: Path):
        self.root = Path(root)

    def account_dir(self, email: str) -> Path:
        return self.root / safe_file_name(email)

    def prepare(self, email: str) -> Path:
        folder = self.account_dir(email)
        folder.mkdir(parents=True, exist_ok=True)
        return folder

    def store(self, email: str, received: ReceivedFile) -> str:
        name = safe_file_name(received.filename)
        received.sink.move_to(self.prepare(email) / name)
        return name

    def files(self, email: str) -> dict[str, bytes]:
        folder = self.account_dir(email)
        if not folder.is_dir():
            return {}
        return {
            path.name: path.read_bytes()
            for path in sorted(folder.iterdir())
            if path.is_file() and not path.name.startswith(INCOMING_PREFIX)
        }


class Journal:
    """Every request in arrival order, each entry filled in as it proceeds and
    appended to a JSON-lines file, if one is given, once it is finished."""

    def __init__(self, path: Path | None = None):
        self._lock = threading.Lock()
        self._entries: list[dict] = []
        self._path = Path(path) if path else None

    def open(self, entry: dict) -> dict:
        entry = dict(entry, started=time.time(), finished=None)
        with self._lock:
            self._entries.append(entry)
        return entry

    def update(self, entry: dict, **changes) -> None:
        with self._lock:
            entry.update(changes)

    def finish(self, entry: dict, **changes) -> None:
        with self._lock:
            entry.update(changes, finished=time.time())
            line = json.dumps(entry)
        if self._path is not None:
            with self._lock, open(self._path, "a", encoding="utf-8") as out:
                out.write(line + "\n")

    def entries(self) -> list[dict]:
        with self._lock:
            return copy.deepcopy(self._entries)

    def clear(self) -> None:
        with self._lock:
            self._entries.clear()
