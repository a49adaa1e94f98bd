#!/usr/bin/env bash
# scripts/check-layers passes the checkout's own tree and a tree that keeps to the layers, and
# fails each kind of crossing, naming the file and line. Usage: check_layers_test.sh SOURCE_DIR
set -uo pipefail
check=$1/scripts/check-layers
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
status=0

expect() {  # expect pass|fail DESCRIPTION [FILE LINE]: runs the check over $tree
  local output result
  output=$(bash "$check" "$tree" 2>&1)
  result=$?
  if [ "$1" = pass ] && [ $result -ne 0 ]; then
    echo "FAIL: $2: the check refused a good tree: $output"
    status=1
  elif [ "$1" = fail ] && [ $result -ne 1 ]; then
    echo "FAIL: $2: the check let it through (exit $result)"
    status=1
  elif [ "$1" = fail ] && [[ $output != *"$3:$4:"* ]]; then
    echo "FAIL: $2: the message does not name $3:$4: $output"
    status=1
  fi
}

# A tree that follows every arrow, with the two exceptions the layers allow.
good() {
  rm -rf "${tree:?}"/*
  mkdir -p "$tree"/{imaging,formats,platform,settings,sources,engine,ui,app}
  printf '#pragma once\n#include <cstdint>\n' >"$tree/imaging/image.h"
  printf '#pragma once\n' >"$tree/imaging/file_time.h"
  printf '#include "imaging/image.h"\n#include <unistd.h>\n#include <sys/mman.h>\n' >"$tree/formats/reader.cpp"
  printf '#include "imaging/file_time.h"\n#include <QFile>\n#include <dlfcn.h>\n' >"$tree/platform/files.cpp"
  printf '#include "platform/files.h"\n#include "formats/reader.h"\n' >"$tree/sources/zip.cpp"
  printf '#include "settings/a.h"\n#include "sources/zip.h"\n#include <QString>\n' >"$tree/engine/job.cpp"
  printf '#include "engine/job.h"\n#include <QWidget>\n' >"$tree/ui/window.cpp"
  printf '#include "ui/window.h"\n#include "platform/terminal.h"\n' >"$tree/app/main.cpp"
}

bash "$check" "$1/src" >/dev/null 2>&1 || { echo "FAIL: the checkout's own src/ crosses a layer"; status=1; }
good
expect pass "a tree that keeps to the layers"

# Each crossing is appended as the third line of a file of the good tree.
crossing() {  # crossing FILE INCLUDE DESCRIPTION
  good
  printf '%s\n' "$2" >>"$tree/$1"
  expect fail "$3" "$1" "$(wc -l <"$tree/$1")"
}
crossing formats/reader.cpp '#include <QByteArray>' "Qt in formats/"
crossing imaging/image.h '#include "formats/reader.h"' "imaging/ above itself"
crossing platform/files.cpp '#include "engine/job.h"' "platform/ on engine/"
crossing platform/files.cpp '#include "imaging/image.h"' "platform/ on more of imaging/ than the time stamp"
crossing engine/job.cpp '  #  include "ui/window.h"' "engine/ on ui/, spaced out"
crossing settings/a.cpp '#include "sources/zip.h"' "settings/ on sources/"
crossing engine/job.cpp '#include <QWidget>' "Qt Widgets below ui/"
crossing sources/zip.cpp '#include <dlfcn.h>' "an OS call outside platform/"
crossing formats/reader.cpp '#include <termios.h>' "formats/ beyond plain file I/O"
exit $status
