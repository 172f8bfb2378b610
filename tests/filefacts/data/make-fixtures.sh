#!/usr/bin/env bash
# Makes the PE fixtures of the file-facts tests with an independent toolchain (llvm-rc, clang for
# the Windows targets, lld-link); no C runtime, so the files stay tiny. Run it from anywhere; it
# rewrites the .exe/.dll files next to itself. The results are committed, so the tests do not
# need this toolchain.
#
#   app64.exe     PE32+ (x86-64) EXE, version 1.0.0.12
#   lib64.dll     PE32+ (x86-64) DLL, version 2.1.0.345
#   app32.exe     PE32  (i386)   EXE, version 3.4.5.6
#   lang32.exe    PE32  (i386)   EXE, version 3.4.5.6 in English (United States) and 7.7.7.7 in
#                 German, which comes first in the directory: the English one must win
#   lib32.dll     PE32  (i386)   DLL, version 65535.0.65535.1
#   nover64.exe   PE32+ EXE with an icon-free string table but no version resource
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

cat > start.c <<'C'
int start(void) { return 0; }
int dllfunc(void) { return 42; }
C

version_rc() {  # name major minor release build [extra language block]
  local name=$1 a=$2 b=$3 c=$4 d=$5 extra=${6:-}
  cat > "$name.rc" <<RC
#define VS_FF_DEBUG 0x1L
1 VERSIONINFO
FILEVERSION $a,$b,$c,$d
PRODUCTVERSION 9,8,7,6
FILEFLAGSMASK 0x3fL
FILEFLAGS 0x0L
FILEOS 0x40004L
FILETYPE 0x1L
FILESUBTYPE 0x0L
BEGIN
  BLOCK "StringFileInfo"
  BEGIN
    BLOCK "040904b0"
    BEGIN
      VALUE "CompanyName", "Kelvane test fixtures"
      VALUE "FileDescription", "$name"
      VALUE "FileVersion", "$a.$b.$c.$d"
      VALUE "ProductVersion", "9.8.7.6"
    END
  END
  BLOCK "VarFileInfo"
  BEGIN
    VALUE "Translation", 0x409, 1200
  END
END
$extra
RC
}

build() {  # name target kind(exe|dll) [rc]
  local name=$1 target=$2 kind=$3 rc=${4:-}
  local machine=x64; [[ $target == i686* ]] && machine=x86
  clang --target="$target" -O1 -c start.c -o "$name.obj"
  local inputs=("$name.obj")
  if [[ -n $rc ]]; then
    llvm-rc /fo "$name.res" "$rc"
    inputs+=("$name.res")
  fi
  if [[ $kind == dll ]]; then
    lld-link /nologo /Brepro /dll /noentry /nodefaultlib /machine:$machine /export:dllfunc \
      /out:"$here/$name" "${inputs[@]}"
  else
    lld-link /nologo /Brepro /nodefaultlib /entry:start /subsystem:console /machine:$machine \
      /out:"$here/$name" "${inputs[@]}"
  fi
}

version_rc app64 1 0 0 12
build app64.exe x86_64-pc-windows-msvc exe app64.rc

version_rc lib64 2 1 0 345
build lib64.dll x86_64-pc-windows-msvc dll lib64.rc

version_rc app32 3 4 5 6
build app32.exe i686-pc-windows-msvc exe app32.rc

version_rc lang32 3 4 5 6 'LANGUAGE 0x07, 0x01
1 VERSIONINFO
FILEVERSION 7,7,7,7
BEGIN
END'
build lang32.exe i686-pc-windows-msvc exe lang32.rc

version_rc lib32 65535 0 65535 1
build lib32.dll i686-pc-windows-msvc dll lib32.rc

cat > nover64.rc <<'RC'
STRINGTABLE
BEGIN
  1 "no version here"
END
RC
build nover64.exe x86_64-pc-windows-msvc exe nover64.rc

rm -f "$here"/*.lib "$here"/*.exp
ls -l "$here"
