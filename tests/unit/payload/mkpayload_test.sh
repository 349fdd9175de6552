#!/usr/bin/env bash
# mkpayload's command line: pack, list and extract round trip; every refusal is a message and a
# non-zero exit, and leaves no archive behind. Usage: mkpayload_test.sh PATH/TO/mkpayload
set -uo pipefail
mk=$(realpath "$1") && [ -x "$mk" ] || { echo "usage: $0 PATH/TO/mkpayload" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
passed=0
failed=0

ok() { passed=$((passed + 1)); }
bad() { failed=$((failed + 1)); echo "FAIL: $*"; }

# expect_fail WHAT TEXT-IN-MESSAGE COMMAND...
expect_fail() {
  local what="$1" text="$2"
  shift 2
  rm -f out.smz
  if "$@" >stdout 2>stderr; then
    bad "$what: exit 0"
  elif ! grep -qF -- "$text" stderr; then
    bad "$what: message lacks \"$text\": $(cat stderr)"
  elif [ -e out.smz ] || compgen -G 'out.smz.*' >/dev/null; then
    bad "$what: left an archive behind"
  else
    ok
  fi
}

printf 'guest register\r\n%.0s' {1..2000} >text.txt
head -c 200000 /dev/urandom >random.bin
cp "$mk" prog.bin
printf 'x' >one
: >empty

# Round trip, with a subfolder, a default name and a Japanese name given in UTF-8.
if "$mk" pack out.smz 'doc\text.txt=text.txt' random.bin 'bin/prog.exe=prog.bin' '領収書.txt=one' >stdout 2>stderr; then
  ok
else
  bad "pack: $(cat stderr)"
fi
if "$mk" list out.smz >listing 2>stderr; then ok; else bad "list: $(cat stderr)"; fi
# The names are stored as code page 932, with "\" between parts, and listed back in UTF-8.
grep -q 'doc\\text.txt' listing && grep -q 'bin\\prog.exe' listing && grep -q '領収書.txt' listing &&
  grep -qE '^ +200000 +[0-9]+  random.bin$' listing && ok || bad "list output: $(cat listing)"
sjis=$(printf '領収書.txt' | iconv -f UTF-8 -t CP932)
grep -qaF "$sjis" out.smz && ok || bad "the Japanese name is not stored as code page 932"
if "$mk" extract out.smz dest >stdout 2>stderr; then ok; else bad "extract: $(cat stderr)"; fi
cmp -s text.txt dest/doc/text.txt && cmp -s random.bin dest/random.bin && cmp -s prog.bin dest/bin/prog.exe &&
  cmp -s one "dest/$sjis" && ok || bad "extracted files differ"
# A folder not there yet whose UTF-8 name ends in a byte that code page 932 takes for a lead
# byte ("あ" ends in 0x82), shown on the console as given.
if "$mk" extract out.smz 'dest-あ' >stdout 2>stderr; then ok; else bad "extract into dest-あ: $(cat stderr)"; fi
cmp -s text.txt 'dest-あ/doc/text.txt' && cmp -s one "dest-あ/$sjis" && ok || bad "files under dest-あ differ"
grep -qF 'dest-あ/random.bin' stdout && ok || bad "the folder is not shown as given: $(cat stdout)"

# Refusals.
long=$(printf 'n%.0s' {1..256})
expect_fail "empty file" "empty" "$mk" pack out.smz one empty
expect_fail "missing file" "not found" "$mk" pack out.smz one nothing-here
expect_fail "name over 255 bytes" "at most 255" "$mk" pack out.smz "$long=one"
expect_fail "parent folder" "leave the install folder" "$mk" pack out.smz '..\x=one'
expect_fail "parent folder with /" "leave the install folder" "$mk" pack out.smz 'a/../../x=one'
expect_fail "drive letter" "leave the install folder" "$mk" pack out.smz 'c:\x=one'
expect_fail "leading separator" "leave the install folder" "$mk" pack out.smz '\x=one'
expect_fail "name not in code page 932" "code page 932" "$mk" pack out.smz $'\xff\xfe=one'
expect_fail "trailing dot" "ending in a dot" "$mk" pack out.smz 'UnInst.exe.=one'
expect_fail "trailing space" "ending in a dot" "$mk" pack out.smz 'UnInst.exe =one'
expect_fail "a character Windows refuses" "< > :" "$mk" pack out.smz 'a|b=one'
expect_fail "a control character" "control character" "$mk" pack out.smz $'a\033[2Jb=one'
expect_fail "one file twice" "the same file as" "$mk" pack out.smz 'UnInst.exe=one' 'uninst.EXE=text.txt'
expect_fail "no files" "usage" "$mk" pack out.smz
expect_fail "unknown command" "unknown command" "$mk" frobnicate

# Archives the installer refuses: list and extract fail on each, with the walk's own words.
"$mk" pack good.smz one text.txt >/dev/null
head -c $(($(stat -c %s good.smz) - 10)) good.smz >cut.smz
{ cat good.smz; printf '\x01z\x00\x00\x00\x00'; cat good.smz; } >stops.smz
{ cat good.smz; printf '\x01z\x05\x00'; } >cuthead.smz
printf '\x04..\\x\x01\x00\x00\x00\x01x' >unsafe.smz
printf '\x0bUnInst.exe.\x01\x00\x00\x00\x01x' >dot.smz
cut='途中で切れているため、展開を中止しました'
name='ファイル名があるため、展開を中止しました'
link='リンクがあるため、展開を中止しました'
for a in cut cuthead stops unsafe dot; do
  case $a in
  cut) text="$cut text.txt" ;;
  cuthead) text="$cut z" ;;
  stops) text="余分なデータがあるため、展開を中止しました z" ;;
  unsafe) text="$name ..\\x" ;;
  dot) text="$name UnInst.exe." ;;
  esac
  expect_fail "list: $a" "$text" "$mk" list $a.smz
  expect_fail "extract: $a" "$text" "$mk" extract $a.smz "dest-$a"
done
[ ! -e x ] && [ ! -e dest-unsafe/x ] && [ ! -e dest-cuthead/z ] && [ ! -e dest-stops/z ] && ok ||
  bad "a refused entry was written"
# A name's control bytes reach the terminal escaped.
printf '\x0ba\x1b[2J\x07b.txt\x01\x00\x00\x00\x01x' >control.smz
expect_fail "list: control bytes" 'a\x1B[2J\x07b.txt' "$mk" list control.smz
grep -q $'\x1b' stdout stderr && bad "a control byte reached the terminal" || ok
expect_fail "list: missing archive" "cannot be opened" "$mk" list nothing.smz
expect_fail "extract: missing archive" "cannot be opened" "$mk" extract nothing.smz d
: >empty.smz
expect_fail "list: empty archive" "no file" "$mk" list empty.smz
expect_fail "extract: empty archive" "no file was written" "$mk" extract empty.smz d
printf 'x' >blocker
expect_fail "extract: destination is a file" "ディレクトリを作成できませんでした" "$mk" extract good.smz blocker

# Links in the destination are never written through: one named like an entry, a linked folder.
"$mk" pack sub.smz 'doc/text.txt=text.txt' >/dev/null
printf 'precious' >outside
mkdir -p away linkdest1 linkdest2
ln -s ../outside linkdest1/one
ln -s ../away linkdest2/doc
expect_fail "extract: link named like an entry" "$link linkdest1/one" "$mk" extract good.smz linkdest1
expect_fail "extract: linked folder" "$link linkdest2/doc" "$mk" extract sub.smz linkdest2
[ "$(cat outside)" = precious ] && [ -z "$(ls away)" ] && ok || bad "a link was written through"

# A failed pack keeps the archive it would have replaced.
cp good.smz keep.smz
if [ -r /sys/devices/system/cpu/online ] && [ "$(stat -c %s /sys/devices/system/cpu/online)" -gt "$(wc -c </sys/devices/system/cpu/online)" ]; then
  "$mk" pack keep.smz one /sys/devices/system/cpu/online >/dev/null 2>stderr && bad "pack of a changing file succeeded"
  grep -q "changed while it was packed" stderr && cmp -s good.smz keep.smz && ok || bad "failed pack: $(cat stderr)"
  compgen -G 'keep.smz.*' >/dev/null && bad "failed pack left its partial archive" || ok
fi

echo "mkpayload: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
