#!/usr/bin/python3
"""Rewrites .tar.gz and .zip packages in place so that the same files always
give the same bytes, wherever and whenever they are packed: the entries in
name order (CPack stores them in the order the file system lists them),
every date set to SOURCE_DATE_EPOCH, owner and group root, the modes kept,
and no other metadata (no access times, no user ids in the zip).

    SOURCE_DATE_EPOCH=... normalize_archive.py PACKAGE...
"""

import gzip
import io
import os
import sys
import tarfile
import time
import zipfile


def normalize_tar_gz(path, epoch):
    with tarfile.open(path, "r:gz") as source:
        members = sorted(source.getmembers(), key=lambda member: member.name)
        contents = {m.name: source.extractfile(m).read() for m in members if m.isfile()}
    packed = io.BytesIO()
    with tarfile.open(fileobj=packed, mode="w", format=tarfile.GNU_FORMAT) as target:
        for member in members:
            member.mtime = epoch
            member.uid = member.gid = 0
            member.uname = member.gname = "root"
            member.pax_headers = {}
            data = contents.get(member.name)
            target.addfile(member, io.BytesIO(data) if data is not None else None)
    with open(path, "wb") as stream:
        with gzip.GzipFile(filename="", mode="wb", fileobj=stream, compresslevel=9, mtime=0) as z:
            z.write(packed.getvalue())


def normalize_zip(path, epoch):
    with zipfile.ZipFile(path) as source:
        entries = sorted(source.infolist(), key=lambda info: info.filename)
        contents = [(info, source.read(info)) for info in entries]
    # Zip dates are local times without a zone, from 1980 on: the epoch's
    # time of day in UTC, as the release sets TZ=UTC for the other packages.
    date = time.gmtime(max(epoch, 315532800))[:6]
    with zipfile.ZipFile(path, "w") as target:
        for info, data in contents:
            entry = zipfile.ZipInfo(info.filename, date_time=date)
            entry.create_system = 3  # Unix, so that the modes below count
            entry.external_attr = info.external_attr
            entry.compress_type = zipfile.ZIP_DEFLATED
            target.writestr(entry, data, compresslevel=9)


def main(paths):
    epoch_text = os.environ.get("SOURCE_DATE_EPOCH", "")
    if not epoch_text.isdigit() or not paths:
        print("usage: SOURCE_DATE_EPOCH=SECONDS normalize_archive.py PACKAGE...", file=sys.stderr)
        return 2
    epoch = int(epoch_text)
    for path in paths:
        if path.endswith(".tar.gz"):
            normalize_tar_gz(path, epoch)
        elif path.endswith(".zip"):
            normalize_zip(path, epoch)
        else:
            print(f"normalize_archive: not a .tar.gz or .zip: {path}", file=sys.stderr)
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
