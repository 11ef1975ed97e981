#!/usr/bin/env python3
"""Writes the Windows release archive, the same bytes from the same inputs.

    release_zip.py ZIP VERSION EPOCH README_TEMPLATE FILE...

ZIP holds each FILE (by its name), README.txt made from README_TEMPLATE (@VERSION@ and
@UNDERLINE@ filled in, CR LF line ends as Windows' editors expect) and SHA256SUMS (the SHA-256 of
each of those, in the format `sha256sum -c` reads), in that order. Nothing depends on when or
where it is made: every entry has the time EPOCH (seconds since 1970, UTC; the commit's time), the
mode 0644, no extra fields, and deflate at level 9.
"""

import hashlib
import os
import sys
import time
import zipfile


def entry(name, epoch):
    info = zipfile.ZipInfo(name, date_time=time.gmtime(max(epoch, 315532800))[:6])
    info.create_system = 3  # Unix, so that the mode below is the one unzip gives
    info.external_attr = 0o100644 << 16
    info.compress_type = zipfile.ZIP_DEFLATED
    return info


def main(argv):
    if len(argv) < 6:
        sys.exit(__doc__)
    archive, version, epoch, template = argv[1], argv[2], int(argv[3]), argv[4]
    contents = []
    for path in argv[5:]:
        with open(path, "rb") as f:
            contents.append((os.path.basename(path), f.read()))
    with open(template, encoding="utf-8") as f:
        title = f"Zelquin {version} for Windows"
        readme = f.read().replace("@VERSION@", version).replace("@UNDERLINE@", "=" * len(title))
    contents.append(("README.txt", readme.replace("\n", "\r\n").encode("utf-8")))
    sums = "".join(f"{hashlib.sha256(data).hexdigest()}  {name}\n" for name, data in contents)
    contents.append(("SHA256SUMS", sums.encode("ascii")))

    with zipfile.ZipFile(archive + ".new", "w") as out:
        for name, data in contents:
            out.writestr(entry(name, epoch), data, compresslevel=9)
    os.replace(archive + ".new", archive)


if __name__ == "__main__":
    main(sys.argv)
