"""The local album service: a real HTTP server on loopback that the uploader
logs in to and uploads photos to, with a journal of what it received and a
script of faults to misbehave on purpose.

In-process:

    with AlbumService(accounts={"user@example.com": "secret"}, storage=path) as svc:
        ...  # svc.login_url, svc.upload_url, svc.journal(), svc.set_faults(...)

From a shell:

    album_service.py --port 0 --storage DIR --account user@example.com:secret
    album_service.py ... --certificate server.pem --key server.key    (HTTPS)
    album_service.py --parse-multipart FILE --content-type "multipart/form-data; boundary=..."
"""

import argparse
import json
import os
import signal
import ssl
import sys
import threading
from collections.abc import Iterable, Mapping
from pathlib import Path

from werkzeug.serving import load_ssl_context, make_server

from album_app import LOGIN_PATH, SINK_PATH, UPLOAD_PATH, AlbumApp
from album_faults import Fault, FaultScript
from album_state import Accounts, Journal, Sessions, Storage
from album_wire import AlbumRequestHandler, parse_multipart

__all__ = ["AlbumService", "Fault", "parse_multipart", "main"]

HOST = "127.0.0.1"
# Served over HTTPS, the service is addressed by the name its certificate carries.
TLS_HOST = "localhost"
CONFIG_KEYS = {
    "port",
    "storage",
    "accounts",
    "journal",
    "port_file",
    "faults",
    "certificate",
    "key",
}


class AlbumService:
    def __init__(
        self,
        accounts: Mapping[str, str | bytes],
        storage: str | Path,
        port: int = 0,
        journal_path: str | Path | None = None,
        faults: Iterable[Fault | dict] = (),
        ssl_context: ssl.SSLContext | tuple[str | Path, str | Path] | None = None,
    ):
        """ssl_context serves HTTPS, as Werkzeug takes it: a context, or the files of the
        certificate and its key."""
        self._requested_port = port
        if isinstance(ssl_context, tuple):
            ssl_context = load_ssl_context(*map(str, ssl_context))
        self._ssl_context = ssl_context
        self._handshakes: list[str] = []
        self._accounts = Accounts(accounts)
        self._sessions = Sessions()
        self._storage = Storage(Path(storage))
        self._journal = Journal(journal_path)
        self._faults = FaultScript(faults)
        self._app = AlbumApp(
            self._accounts, self._sessions, self._storage, self._journal, self._faults
        )
        self._server = None
        self._thread: threading.Thread | None = None

    # Lifecycle

    def start(self) -> "AlbumService":
        if self._server is not None:
            raise RuntimeError("the service is already running")
        self._storage.root.mkdir(parents=True, exist_ok=True)
        self._server = make_server(
            HOST,
            self._requested_port,
            self._app,
            threaded=True,
            request_handler=AlbumRequestHandler,
        )
        # The request handler makes each TLS handshake itself (see AlbumRequestHandler).
        self._server.ssl_context = self._ssl_context
        self._server.handshakes = self._handshakes
        # A short poll keeps stop() quick; tests start and stop many services.
        self._thread = threading.Thread(
            target=self._server.serve_forever,
            kwargs={"poll_interval": 0.05},
            name=f"album-service-{self.port}",
            daemon=True,
        )
        self._thread.start()
        return self

    def stop(self) -> None:
        server, self._server = self._server, None
        if server is None:
            return
        server.shutdown()
        server.server_close()
        self._thread.join()

    def __enter__(self) -> "AlbumService":
        return self.start() if self._server is None else self

    def __exit__(self, *exc_info) -> None:
        self.stop()

    # Addresses

    @property
    def port(self) -> int:
        if self._server is None:
            raise RuntimeError("the service is not running")
        return self._server.port

    @property
    def base_url(self) -> str:
        if self._ssl_context is not None:
            return f"https://{TLS_HOST}:{self.port}"
        return f"http://{HOST}:{self.port}"

    @property
    def login_url(self) -> str:
        return self.base_url + LOGIN_PATH

    @property
    def upload_url(self) -> str:
        return self.base_url + UPLOAD_PATH

    @property
    def sink_url(self) -> str:
        return self.base_url + SINK_PATH

    # State

    @property
    def storage(self) -> Path:
        return self._storage.root

    def journal(self) -> list[dict]:
        return self._journal.entries()

    def handshakes(self) -> list[str]:
        """Over HTTPS, how each connection's TLS handshake went: "done"; "closed", when the
        client closed the connection before it was done; or "failed: why" (plain HTTP
        sent to the TLS port, say)."""
        return list(self._handshakes)

    def clear_journal(self) -> None:
        self._journal.clear()

    def sessions(self) -> dict[str, str]:
        return self._sessions.snapshot()

    def account_dir(self, account: str) -> Path:
        return self._storage.account_dir(account)

    def stored_files(self, account: str) -> dict[str, bytes]:
        return self._storage.files(account)

    def set_faults(self, faults: Iterable[Fault | dict]) -> None:
        self._faults.replace(faults)

    def add_fault(self, fault: Fault | dict) -> None:
        self._faults.add(fault)

    def clear_faults(self) -> None:
        self._faults.clear()

    def faults(self) -> list[Fault]:
        return self._faults.faults()

    def reset(self) -> None:
        """Forgets the journal, the faults and the sessions; stored files stay."""
        self._app.reset()


# Command line


def parse_args(argv: list[str] | None) -> argparse.Namespace:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--config", type=Path, help="JSON file with port, storage, accounts, ...")
    parser.add_argument("--port", type=int, help="port to listen on, 0 for any free one")
    parser.add_argument("--storage", type=Path, help="folder for the uploaded photos")
    parser.add_argument(
        "--account",
        action="append",
        default=[],
        metavar="EMAIL:PASSWORD",
        help="an account (repeatable); the password is everything after the first colon",
    )
    parser.add_argument("--port-file", type=Path, help="file to write the chosen port to")
    parser.add_argument("--journal", type=Path, help="JSON-lines file to append requests to")
    parser.add_argument("--faults", type=Path, help="JSON file with a list of faults")
    parser.add_argument("--certificate", type=Path, help="serve HTTPS with this certificate (PEM)")
    parser.add_argument("--key", type=Path, help="the certificate's private key (PEM)")
    parser.add_argument("--parse-multipart", type=Path, metavar="FILE", help="parse FILE and exit")
    parser.add_argument("--content-type", help="Content-Type of the --parse-multipart body")
    return parser.parse_args(argv)


def split_account(text: str):
    email, colon, password = text.partition(":")
    if not colon or not email:
        raise ValueError(f"expected EMAIL:PASSWORD, got {text!r}")
    return email, password


def _relative_to(base: Path, value) -> Path | None:
    return None if value is None else base / Path(value)


def load_settings(args: argparse.Namespace) -> dict:
    """Service settings from the config file, overridden by the command line."""
    settings: dict = {"port": 0, "accounts": {}, "faults": []}
    if args.config:
        config = json.loads(args.config.read_text(encoding="utf-8"))
        unknown = sorted(set(config) - CONFIG_KEYS)
        if unknown:
            raise ValueError(f"unknown keys in {args.config}: {', '.join(unknown)}")
        base = args.config.resolve().parent
        settings["port"] = config.get("port", 0)
        settings["accounts"] = dict(config.get("accounts", {}))
        settings["faults"] = list(config.get("faults", []))
        for key in ("storage", "journal", "port_file", "certificate", "key"):
            settings[key] = _relative_to(base, config.get(key))
    if args.port is not None:
        settings["port"] = args.port
    settings["accounts"].update(split_account(a) for a in args.account)
    if args.faults:
        settings["faults"] = json.loads(args.faults.read_text(encoding="utf-8"))
    for key in ("storage", "journal", "port_file", "certificate", "key"):
        if getattr(args, key):
            settings[key] = getattr(args, key)
    if not settings.get("storage"):
        raise ValueError("no storage folder: give --storage or 'storage' in the config")
    if bool(settings.get("certificate")) != bool(settings.get("key")):
        raise ValueError("HTTPS needs both a certificate and its key")
    return settings


def write_port_file(path: Path, port: int) -> None:
    # Written whole and renamed, so a reader polling for it never sees it empty.
    partial = path.with_name(path.name + ".partial")
    partial.write_text(str(port), encoding="ascii")
    os.replace(partial, path)


def serve(settings: dict) -> int:
    service = AlbumService(
        accounts=settings["accounts"],
        storage=settings["storage"],
        port=settings["port"],
        journal_path=settings.get("journal"),
        faults=settings["faults"],
        ssl_context=(settings["certificate"], settings["key"]) if settings.get("key") else None,
    )
    stopping = threading.Event()
    for signum in (signal.SIGTERM, signal.SIGINT):
        signal.signal(signum, lambda *_: stopping.set())
    with service:
        if settings.get("port_file"):
            write_port_file(settings["port_file"], service.port)
        print(f"listening on {service.base_url}", flush=True)
        stopping.wait()
    return 0


def print_multipart(path: Path, content_type: str | None) -> int:
    if not content_type:
        raise ValueError("--parse-multipart needs --content-type")
    parts = parse_multipart(path.read_bytes(), content_type)
    for part in parts:
        part["data"] = part["data"].hex()
    print(json.dumps(parts, ensure_ascii=False, indent=2))
    return 0


def main(argv: list[str] | None = None) -> int:
    args = parse_args(argv)
    try:
        if args.parse_multipart:
            return print_multipart(args.parse_multipart, args.content_type)
        return serve(load_settings(args))
    except (ValueError, OSError) as error:
        print(f"album_service: {error}", file=sys.stderr)
        return 2


if __name__ == "__main__":
    sys.exit(main())
