# SPDX-License-Identifier: Apache-2.0
"""Certificates for the TLS tests, made with the openssl command in a folder:
a CA, server certificates (valid for localhost, 127.0.0.1 and ::1; expired;
for another name; signed by another CA), a client certificate, and a key
that belongs to none of them. EC P-256 keys: quick to make."""
import os
import subprocess
import tempfile

SERVER_NAMES = "DNS:localhost,IP:127.0.0.1,IP:::1"


def _openssl(*args, cwd):
    subprocess.run(["openssl"] + list(args), cwd=cwd, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def _new_key(name, cwd):
    _openssl("genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256",
             "-out", name + ".key", cwd=cwd)


def _make_ca(name, cwd):
    _new_key(name, cwd)
    _openssl("req", "-x509", "-new", "-key", name + ".key", "-out", name + ".pem",
             "-days", "3650", "-subj", "/CN=" + name, cwd=cwd)


def _issue(name, ca, extensions, cwd, days="365"):
    """name.pem signed by ca; days "-1" gives one that expired a day ago."""
    _new_key(name, cwd)
    _openssl("req", "-new", "-key", name + ".key", "-out", name + ".csr",
             "-subj", "/CN=" + name, cwd=cwd)
    with open(os.path.join(cwd, name + ".ext"), "w") as ext:
        ext.write(extensions + "\n")
    _openssl("x509", "-req", "-in", name + ".csr", "-CA", ca + ".pem", "-CAkey", ca + ".key",
             "-CAcreateserial", "-days", days, "-extfile", name + ".ext",
             "-out", name + ".pem", cwd=cwd)


class WithCertificates:
    """A test case mixin: the certificates made once for the class, cls.pem."""

    @classmethod
    def setUpClass(cls):
        cls._certificates = tempfile.TemporaryDirectory()
        cls.pem = make_certificates(cls._certificates.name)

    @classmethod
    def tearDownClass(cls):
        cls._certificates.cleanup()


def make_certificates(folder):
    """Makes every file in folder; returns {name: path} for the .pem and .key files."""
    server = "subjectAltName=%s\nextendedKeyUsage=serverAuth" % SERVER_NAMES
    _make_ca("ca", folder)
    _make_ca("other-ca", folder)
    _issue("server", "ca", server, folder)
    _issue("expired", "ca", server, folder, days="-1")
    _issue("other-name", "ca",
           "subjectAltName=DNS:syslog.example.net\nextendedKeyUsage=serverAuth", folder)
    _issue("other-ca-server", "other-ca", server, folder)
    _issue("client", "ca", "extendedKeyUsage=clientAuth", folder)
    _new_key("stray", folder)
    return {entry: os.path.join(folder, entry) for entry in os.listdir(folder)
            if entry.endswith((".pem", ".key"))}
