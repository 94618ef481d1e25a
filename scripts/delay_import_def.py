#!/usr/bin/env python3
"""Writes what a delay-import library of a DLL is built and linked with, read off the
toolchain's import library of that DLL:

    delay_import_def.py NM IMPORT-LIBRARY DLL-NAME OUT.def OUT.rsp

OUT.def lists the DLL's exports for dlltool. On i686 a stdcall export appears in the import
library as "_Name@bytes"; the .def lists it as "Name@bytes", and dlltool -k imports it by
its plain name, as the DLL exports it.

OUT.rsp is a linker response file asking for every export's jump stub (-u _Name@bytes).
The headers declare the functions dllimport, so calls go through the import slot and name
no stub; GNU ld then drops the stub, but in a delay-import library the slot points into it
until the first call resolves it (binutils bug 14339): the call would jump to 0.
"""

import re
import subprocess
import sys

EXPORT = re.compile(r"^[0-9a-fA-F]+ T _(\S+@\d+)$")


def exports(nm: str, library: str) -> list[str]:
    listing = subprocess.run([nm, library], capture_output=True, text=True, check=True).stdout
    return sorted({m.group(1) for line in listing.splitlines() if (m := EXPORT.match(line))})


def main() -> int:
    nm, library, dll, definitions, stubs = sys.argv[1:6]
    names = exports(nm, library)
    if not names:
        print(f"delay_import_def: no exports found in {library}", file=sys.stderr)
        return 1
    with open(definitions, "w", encoding="ascii") as f:
        f.write(f'LIBRARY "{dll}"\nEXPORTS\n')
        f.writelines(f"{name}\n" for name in names)
    with open(stubs, "w", encoding="ascii") as f:
        f.writelines(f"-u _{name}\n" for name in names)
    return 0


if __name__ == "__main__":
    sys.exit(main())
