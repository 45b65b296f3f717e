#!/usr/bin/env bash
# Runs one end-to-end case: the command on the case's program, then checks.
#
# A case folder holds:
#   program.tav        the program (run from a copy of the folder)
#   args               optional extra command-line arguments, one line
#   env                optional VAR=value lines, exported for the run
#   setup              optional shell commands run in the copy first (FIFOs,
#                      links, files already in out/: what git cannot hold);
#                      $E2E_SOURCE_DIR names the project's folder there (for
#                      its examples/data)
#   stdin              when present, the program is read from standard
#                      input (this file) instead of program.tav
#   expect.status      the exit status (default 0)
#   expect.log         lines that must each appear in the log (fixed strings)
#   expect.nolog       lines that must not appear in the log
#   expect.count       "N text" lines: text must appear on exactly N log lines
#   expect.files       files that must exist in the output folder afterwards
#   expect.nofiles     files that must not exist there
#   expect.same        "A B" lines: files A and B (relative to the copy) must
#                      be equal afterwards (inputs and files already in out/
#                      left as they were)
#   expect.similar     "A B [OPTION...]" lines: images A and B (relative to the
#                      copy) must match within the visual tolerance, as the
#                      image_compare tool beside the command judges them with
#                      the OPTIONs (--tolerance, --fraction, --scale, --rows)
#   check              optional shell commands run in the copy after the run
#                      (files the command wrote read back with other tools);
#                      it must exit 0. $E2E_IMAGE_COMPARE names image_compare
#   golden/NAME        NAME (written relative to the program folder) must equal it
#                      (E2E_REBASELINE=1 rewrites the golden files from this run)
# The whole log and the copy are kept in $E2E_KEEP when that is set.
set -u
exe=$1
case_dir=$2
name=$(basename "$case_dir")
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$case_dir"/. "$work"/
mkdir -p "$work/out"
args=()
[ -f "$work/args" ] && read -r -a args < "$work/args"
if [ -f "$work/setup" ]; then
  (cd "$work" && E2E_SOURCE_DIR=$source_dir bash ./setup) || { echo "[$name] setup failed"; exit 1; }
fi
program=program.tav
[ -f "$work/stdin" ] && program=-
(
  cd "$work" || exit 125
  # Map tiles are cached inside the case's copy, never in the user's cache.
  export QORTAVLO_TILE_CACHE="$work/tile-cache"
  if [ -f env ]; then
    while IFS= read -r line || [ -n "$line" ]; do
      case "$line" in ''|'#'*) continue ;; esac
      export "${line%%=*}=${line#*=}"
    done < env
  fi
  if [ "$program" = - ]; then
    timeout 300 "$exe" --out out "${args[@]}" - < stdin
  else
    timeout 300 "$exe" --out out "${args[@]}" program.tav
  fi
) > "$work/stdout.txt" 2> "$work/log.txt"
status=$?
fail=0
want=0
[ -f "$work/expect.status" ] && want=$(tr -d ' \n' < "$work/expect.status")
if [ "$status" != "$want" ]; then
  echo "[$name] exit status $status, expected $want"; fail=1
fi
if [ -f "$work/expect.log" ]; then
  while IFS= read -r line || [ -n "$line" ]; do
    [ -z "$line" ] && continue
    grep -qF -- "$line" "$work/log.txt" || { echo "[$name] log lacks: $line"; fail=1; }
  done < "$work/expect.log"
fi
if [ -f "$work/expect.nolog" ]; then
  while IFS= read -r line || [ -n "$line" ]; do
    [ -z "$line" ] && continue
    grep -qF -- "$line" "$work/log.txt" && { echo "[$name] log has: $line"; fail=1; }
  done < "$work/expect.nolog"
fi
if [ -f "$work/expect.count" ]; then
  while IFS= read -r line || [ -n "$line" ]; do
    [ -z "$line" ] && continue
    n=${line%% *}; text=${line#* }
    got=$(grep -cF -- "$text" "$work/log.txt")
    [ "$got" = "$n" ] || { echo "[$name] log has $got lines with: $text (expected $n)"; fail=1; }
  done < "$work/expect.count"
fi
if [ -f "$work/expect.files" ]; then
  while IFS= read -r f || [ -n "$f" ]; do
    [ -z "$f" ] && continue
    [ -e "$work/out/$f" ] || { echo "[$name] missing output file $f"; fail=1; }
  done < "$work/expect.files"
fi
if [ -f "$work/expect.nofiles" ]; then
  while IFS= read -r f || [ -n "$f" ]; do
    [ -z "$f" ] && continue
    [ -e "$work/out/$f" ] && { echo "[$name] unexpected output file $f"; fail=1; }
  done < "$work/expect.nofiles"
fi
# No run leaves a temporary file behind (NAME.XXXXXX beside its target).
for t in "$work"/out/*.??????; do
  [ -e "$t" ] || continue
  case "$t" in *.XXXXXX) continue ;; esac  # planted by a case's setup
  echo "[$name] temporary file left: ${t#"$work"/}"; fail=1
done
if [ -f "$work/expect.same" ]; then
  while read -r a b || [ -n "$a" ]; do
    [ -z "$a" ] && continue
    cmp -s "$work/$a" "$work/$b" || { echo "[$name] $a differs from $b"; fail=1; }
  done < "$work/expect.same"
fi
if [ -f "$work/expect.similar" ]; then
  while read -r a b opts || [ -n "$a" ]; do
    [ -z "$a" ] && continue
    # shellcheck disable=SC2086  # the options are words
    "$(dirname "$exe")/image_compare" $opts --diff "$work/$a.diff.png" "$work/$a" "$work/$b" \
      > "$work/similar.txt" 2>&1 || { echo "[$name] $a does not match $b $opts:"; cat "$work/similar.txt"; fail=1; }
  done < "$work/expect.similar"
fi
if [ -f "$work/check" ]; then
  (cd "$work" && E2E_IMAGE_COMPARE="$(dirname "$exe")/image_compare" bash ./check) > "$work/check.txt" 2>&1 ||
    { echo "[$name] check failed:"; cat "$work/check.txt"; fail=1; }
fi
if [ -d "$work/golden" ]; then
  for g in "$work"/golden/*; do
    f=$(basename "$g")
    if [ -n "${E2E_REBASELINE:-}" ] && [ -f "$work/$f" ]; then
      cp "$work/$f" "$case_dir/golden/$f"; echo "[$name] golden/$f rewritten"; continue
    fi
    if ! cmp -s "$g" "$work/$f"; then
      echo "[$name] $f differs from golden/$f:"; diff "$g" "$work/$f" | head -20; fail=1
    fi
  done
fi
if [ -n "${E2E_KEEP:-}" ]; then mkdir -p "$E2E_KEEP/$name" && cp -r "$work"/. "$E2E_KEEP/$name/"; fi
if [ $fail -ne 0 ]; then
  echo "---- log of $name ----"; cat "$work/log.txt"
fi
exit $fail
