"""Certificates for serving the album over HTTPS: a certificate authority of our own and
the server certificates it issues, plus the faulty kinds a client must refuse (expired,
for another host, self-signed).

    authority = Authority.create("Vistora Test CA")
    ca_file, _ = authority.write(folder, "ca")    # ca.pem goes into a trusted root store
    cert_file, key_file = authority.issue("localhost").write(folder, "server")

Debian's openssl command cannot back-date a certificate; this module can, and an expired
certificate is one whose whole validity lies in the past.
"""

from __future__ import annotations

import datetime
import ipaddress
from dataclasses import dataclass
from pathlib import Path

from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import rsa
from cryptography.x509.oid import ExtendedKeyUsageOID, NameOID

# RSA, because every TLS client takes it; 2048 bits, the smallest size they all accept.
KEY_BITS = 2048
PUBLIC_EXPONENT = 65537
# A certificate is valid from a day back (clocks differ a little) for this long.
VALID_DAYS = 30
CLOCK_SLACK = datetime.timedelta(days=1)
# An expired certificate ended this long ago.
EXPIRED_AGO = datetime.timedelta(days=10)


def _new_key() -> rsa.RSAPrivateKey:
    return rsa.generate_private_key(public_exponent=PUBLIC_EXPONENT, key_size=KEY_BITS)


def _name(common_name: str) -> x509.Name:
    return x509.Name(
        [
            x509.NameAttribute(NameOID.ORGANIZATION_NAME, "Vistora uploader tests"),
            x509.NameAttribute(NameOID.COMMON_NAME, common_name),
        ]
    )


def _validity(expired: bool) -> tuple[datetime.datetime, datetime.datetime]:
    now = datetime.datetime.now(datetime.UTC)
    if expired:
        end = now - EXPIRED_AGO
        return end - datetime.timedelta(days=VALID_DAYS), end
    return now - CLOCK_SLACK, now + datetime.timedelta(days=VALID_DAYS)


def _host_names(host: str) -> x509.SubjectAlternativeName:
    names = [x509.DNSName(host)]
    if host == "localhost":
        names.append(x509.IPAddress(ipaddress.ip_address("127.0.0.1")))
    return x509.SubjectAlternativeName(names)


@dataclass
class Credentials:
    """A certificate with its private key."""

    certificate: x509.Certificate
    key: rsa.RSAPrivateKey

    @property
    def subject(self) -> str:
        return self.certificate.subject.rfc4514_string()

    @property
    def pem(self) -> bytes:
        return self.certificate.public_bytes(serialization.Encoding.PEM)

    def write(self, folder: Path, stem: str) -> tuple[Path, Path]:
        """Writes STEM.pem and STEM.key into folder; returns both paths."""
        folder.mkdir(parents=True, exist_ok=True)
        cert_file, key_file = folder / f"{stem}.pem", folder / f"{stem}.key"
        cert_file.write_bytes(self.pem)
        key_file.write_bytes(
            self.key.private_bytes(
                serialization.Encoding.PEM,
                serialization.PrivateFormat.PKCS8,
                serialization.NoEncryption(),
            )
        )
        key_file.chmod(0o600)
        return cert_file, key_file


def _server_certificate(
    subject: x509.Name,
    issuer: x509.Name,
    key: rsa.RSAPrivateKey,
    signer: rsa.RSAPrivateKey,
    host: str,
    expired: bool,
    issuer_key_id: x509.SubjectKeyIdentifier | None,
) -> x509.Certificate:
    not_before, not_after = _validity(expired)
    builder = (
        x509.CertificateBuilder()
        .subject_name(subject)
        .issuer_name(issuer)
        .public_key(key.public_key())
        .serial_number(x509.random_serial_number())
        .not_valid_before(not_before)
        .not_valid_after(not_after)
        .add_extension(x509.BasicConstraints(ca=False, path_length=None), critical=True)
        .add_extension(_host_names(host), critical=False)
        .add_extension(x509.ExtendedKeyUsage([ExtendedKeyUsageOID.SERVER_AUTH]), critical=False)
        .add_extension(x509.SubjectKeyIdentifier.from_public_key(key.public_key()), critical=False)
    )
    if issuer_key_id is not None:
        builder = builder.add_extension(
            x509.AuthorityKeyIdentifier.from_issuer_subject_key_identifier(issuer_key_id),
            critical=False,
        )
    return builder.sign(signer, hashes.SHA256())


class Authority(Credentials):
    """A root certificate authority that issues server certificates."""

    @classmethod
    def create(cls, common_name: str) -> Authority:
        key = _new_key()
        name = _name(common_name)
        not_before, not_after = _validity(expired=False)
        certificate = (
            x509.CertificateBuilder()
            .subject_name(name)
            .issuer_name(name)
            .public_key(key.public_key())
            .serial_number(x509.random_serial_number())
            .not_valid_before(not_before)
            .not_valid_after(not_after)
            .add_extension(x509.BasicConstraints(ca=True, path_length=0), critical=True)
            .add_extension(
                x509.KeyUsage(
                    digital_signature=False,
                    content_commitment=False,
                    key_encipherment=False,
                    data_encipherment=False,
                    key_agreement=False,
                    key_cert_sign=True,
                    crl_sign=True,
                    encipher_only=False,
                    decipher_only=False,
                ),
                critical=True,
            )
            .add_extension(
                x509.SubjectKeyIdentifier.from_public_key(key.public_key()), critical=False
            )
            .sign(key, hashes.SHA256())
        )
        return cls(certificate, key)

    def issue(self, host: str, expired: bool = False) -> Credentials:
        """A server certificate for host, signed by this authority."""
        key = _new_key()
        key_id = self.certificate.extensions.get_extension_for_class(
            x509.SubjectKeyIdentifier
        ).value
        return Credentials(
            _server_certificate(
                _name(host), self.certificate.subject, key, self.key, host, expired, key_id
            ),
            key,
        )


def self_signed(host: str) -> Credentials:
    """A server certificate for host that vouches for itself."""
    key = _new_key()
    return Credentials(
        _server_certificate(_name(host), _name(host), key, key, host, False, None), key
    )
