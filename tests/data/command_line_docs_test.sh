#!/usr/bin/env bash
# The manual page and the bash completion name the same options, and every long option the
# program's own help names is in both. Usage: command_line_docs_test.sh SOURCE_DIR PROGRAM
set -euo pipefail
source_dir=$1 program=$2
long_options() { grep -o -- '--[a-z][a-z0-9-]*' | sort -u; }

manual=$(sed 's/\\-/-/g' "$source_dir/data/velorin.1" | long_options)
completion=$(long_options < "$source_dir/data/velorin.bash-completion")
help=$("$program" --help | long_options)

status=0
report() {  # report WHAT LIST
  if [ -n "$2" ]; then
    echo "$1: $(echo "$2" | tr '\n' ' ')"
    status=1
  fi
}
report "in the manual page, not in the completion" "$(comm -23 <(echo "$manual") <(echo "$completion"))"
report "in the completion, not in the manual page" "$(comm -13 <(echo "$manual") <(echo "$completion"))"
report "in --help, not in the manual page" "$(comm -23 <(echo "$help") <(echo "$manual"))"
report "in --help, not in the completion" "$(comm -23 <(echo "$help") <(echo "$completion"))"
exit $status
