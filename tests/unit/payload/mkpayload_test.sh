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
  elif [ -e out.smz ]; then
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
expect_fail "no files" "usage" "$mk" pack out.smz
expect_fail "unknown command" "unknown command" "$mk" frobnicate

# Archives the installer would not read to the end.
"$mk" pack good.smz one text.txt >/dev/null
head -c $(($(stat -c %s good.smz) - 10)) good.smz >cut.smz
expect_fail "list: truncated" "truncated" "$mk" list cut.smz
expect_fail "extract: truncated" "truncated" "$mk" extract cut.smz cutdest
{ cat good.smz; printf '\x01z\x00\x00\x00\x00'; cat good.smz; } >stops.smz
expect_fail "list: stops early" "never extracted" "$mk" list stops.smz
printf '\x04..\\x\x01\x00\x00\x00\x01x' >unsafe.smz
expect_fail "list: unsafe name" "installer stops there" "$mk" list unsafe.smz
expect_fail "extract: unsafe name" "..\\x" "$mk" extract unsafe.smz unsafedest
[ ! -e x ] && [ ! -e unsafedest/x ] && ok || bad "the unsafe entry was written"
expect_fail "list: missing archive" "cannot be opened" "$mk" list nothing.smz
expect_fail "extract: missing archive" "cannot be opened" "$mk" extract nothing.smz d
: >empty.smz
expect_fail "list: empty archive" "no file" "$mk" list empty.smz
expect_fail "extract: empty archive" "no file was written" "$mk" extract empty.smz d
printf 'x' >blocker
expect_fail "extract: destination is a file" "ディレクトリを作成できませんでした" "$mk" extract good.smz blocker

echo "mkpayload: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
