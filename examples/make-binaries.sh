#!/usr/bin/env bash
# Makes the two Windows binaries of the example application with llvm-rc, clang and lld-link
# (no C runtime, so they stay a few KB). The results are committed; run this only to change them.
#
#   ExampleApp/ExampleApp.exe   PE32+ EXE, file version 2.1.0.37
#   ExampleApp/ExampleLib.dll   PE32+ DLL, file version 1.4.0.210
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

cat > start.c <<'C'
int start(void) { return 0; }
int price(int n) { return n * 3; }
C

make_one() {  # file kind(exe|dll) description major minor release build
  local file=$1 kind=$2 description=$3 a=$4 b=$5 c=$6 d=$7
  cat > version.rc <<RC
1 VERSIONINFO
FILEVERSION $a,$b,$c,$d
PRODUCTVERSION 2,1,0,0
FILEFLAGSMASK 0x3fL
FILEFLAGS 0x0L
FILEOS 0x40004L
FILETYPE $([[ $kind == dll ]] && echo 0x2L || echo 0x1L)
FILESUBTYPE 0x0L
BEGIN
  BLOCK "StringFileInfo"
  BEGIN
    BLOCK "040904b0"
    BEGIN
      VALUE "CompanyName", "Example Company"
      VALUE "FileDescription", "$description"
      VALUE "FileVersion", "$a.$b.$c.$d"
      VALUE "ProductName", "Example App"
      VALUE "ProductVersion", "2.1"
    END
  END
  BLOCK "VarFileInfo"
  BEGIN
    VALUE "Translation", 0x409, 1200
  END
END
RC
  clang --target=x86_64-pc-windows-msvc -O1 -c start.c -o start.obj
  llvm-rc /fo version.res version.rc
  if [[ $kind == dll ]]; then
    lld-link /nologo /Brepro /dll /noentry /nodefaultlib /machine:x64 /export:price \
      /out:"$here/ExampleApp/$file" start.obj version.res
  else
    lld-link /nologo /Brepro /nodefaultlib /entry:start /subsystem:windows /machine:x64 \
      /out:"$here/ExampleApp/$file" start.obj version.res
  fi
}

make_one ExampleApp.exe exe "Example App" 2 1 0 37
make_one ExampleLib.dll dll "Example App price library" 1 4 0 210
rm -f "$here"/ExampleApp/*.lib "$here"/ExampleApp/*.exp
ls -l "$here/ExampleApp"
