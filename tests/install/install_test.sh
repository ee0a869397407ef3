#!/usr/bin/env bash
# `cmake --install` into a temporary prefix: every file where desktops, manuals and shells look
# for it, each accepted by the tool that reads it, the manual in step with the help, and the shell
# completion offering what each place of the command line takes.
#
#   install_test.sh BUILD_DIRECTORY
set -uo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null || exit 1

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

for file in bin/calvex bin/calvex-gui; do
  [ -x "$prefix/$file" ] || fail "$file is missing or not executable"
done
for file in share/applications/calvex.desktop share/metainfo/com.vorla.calvex.metainfo.xml \
  share/icons/hicolor/scalable/apps/calvex.svg share/man/man1/calvex.1.gz \
  share/man/man1/calvex-gui.1.gz share/bash-completion/completions/calvex \
  share/doc/calvex/copyright share/doc/calvex/changelog.Debian.gz; do
  [ -s "$prefix/$file" ] || fail "$file is missing"
done
for size in 16 22 24 32 48 64 128 256; do
  png=share/icons/hicolor/${size}x${size}/apps/calvex.png
  # A PNG's width and height are the big-endian words at bytes 16 and 20.
  read -r width height < <(od -An -tu4 --endian=big -j16 -N8 "$prefix/$png" 2>/dev/null)
  [ "${width:-}x${height:-}" = "${size}x${size}" ] || fail "$png is ${width:-?}x${height:-?}"
done

desktop-file-validate "$prefix/share/applications/calvex.desktop" || fail "desktop entry"
appstreamcli validate --no-net "$prefix/share/metainfo/com.vorla.calvex.metainfo.xml" >/dev/null ||
  fail "AppStream metadata: $(appstreamcli validate --no-net "$prefix"/share/metainfo/*.xml)"

export PATH="$prefix/bin:$PATH"
[ "$(calvex --version)" = "$(calvex-gui --version | sed 's/-gui//')" ] || fail "versions differ"
for page in calvex calvex-gui; do
  manual="$prefix/share/man/man1/$page.1.gz"
  warnings=$(zcat "$manual" | LC_ALL=C.UTF-8 groff -man -ww -z -Tutf8 2>&1)
  [ -z "$warnings" ] || fail "$page(1): $warnings"
done
# Every option of every command's help is in the manual.
text=$(zcat "$prefix/share/man/man1/calvex.1.gz" | groff -man -Tascii -P-cbou 2>/dev/null)
for command in "" convert info; do
  for option in $(calvex $command --help | awk '/^  -/ { sub(/^  /, ""); sub(/ .*/, ""); gsub(/,/, " "); print }'); do
    grep -q -- "$option" <<<"$text" || fail "calvex(1) lacks $option of calvex $command"
  done
done

# Completion: what each place of a command line is offered, in a directory of every kind of file.
source /usr/share/bash-completion/bash_completion
source "$prefix/share/bash-completion/completions/calvex"
cd "$prefix" && mkdir -p work/clips && cd work || exit 1
touch a.avi B.WAV c.mpg d.mp2 list.lst notes.txt
offered() {
  local line=$1
  COMP_LINE=$line
  COMP_POINT=${#line}
  read -ra COMP_WORDS <<<"$line"
  [[ $line == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _calvex calvex "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}" 2>/dev/null
  printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd ' '
}
while IFS='|' read -r line expected; do
  [ "$(offered "$line")" = "$expected" ] || fail "completing '$line': '$(offered "$line")', not '$expected'"
done <<'CASES'
calvex |convert info
calvex --v|--version
calvex convert |B.WAV a.avi c.mpg clips d.mp2
calvex info --json c|c.mpg clips
calvex convert --job|--jobs
calvex convert --layer |1 2
calvex convert -y -d |clips
calvex convert --list |clips list.lst
calvex convert --log |B.WAV a.avi c.mpg clips d.mp2 list.lst notes.txt
calvex convert --jobs |
CASES

exit $((failures > 0))
