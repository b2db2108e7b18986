#!/usr/bin/env bash
# The verification and run commands as a new user meets them: a copy of the
# project with no build folder and no test libraries to be found, the study
# built and run, then the run command in the same build folder: a new folder
# seeded with the example, a folder of the user's own whose files are left
# byte for byte while the run uses them, and the command's exit status.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
passed=0
failed=0
check() {  # check WHAT COMMAND...
  local what=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $what"
  fi
}
all_of() {  # all_of CONDITION...: each a shell condition, all must hold
  local c
  for c in "$@"; do eval "$c" || return 1; done
}

# A fresh clone: the project without its build folders, configured as
# scripts/verification configures a new build/, with GoogleTest and Google
# Benchmark unfindable.  The study rewrites the copy's docs, not these.
tree="$scratch/tree"
mkdir "$tree"
tar -C "$top" --exclude=./.git --exclude='./build*' --exclude=./run --exclude=./scratch \
  -cf - . | tar -C "$tree" -xf -
check "configure of the verification build without test libraries" \
  cmake --preset verification -S "$tree" --no-warn-unused-cli \
  -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_GMock=ON \
  -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON >/dev/null
"$tree/scripts/verification" >"$scratch/verification.log" 2>&1
check "scripts/verification ends 0" [ $? -eq 0 ]
check "the study rewrote the tables and the plot" \
  grep -q "^docs/verification.md and docs/verification.png updated" "$scratch/verification.log"

# A new folder is made and seeded with the example.
"$tree/scripts/run" "$scratch/new case" >"$scratch/new.log" 2>&1
check "the example as shipped ends 3: it needs more passes" [ $? -eq 3 ]
for f in dados.txt u.gnu p.gnu residuos.gnu; do
  check "new folder seeded with $f" cmp -s "$top/examples/$f" "$scratch/new case/$f"
done
check "new folder has the report" [ -s "$scratch/new case/saida.txt" ]
check "the verdict on the example: it needs more passes" \
  grep -q "^passes needed: [0-9]" "$scratch/new.log"
check "the residuals are written" [ -s "$scratch/new case/residuos.dat" ]

# A folder of the user's own: an edited dados.txt, a plot script of their own
# and a link to nowhere are all left as they are, and the edit is used.
own="$scratch/own"
mkdir "$own"
sed 's/^52 /50 /' "$top/examples/dados.txt" >"$own/dados.txt"
printf 'set terminal dumb\nplot "u.dat"\n' >"$own/u.gnu"
ln -s "$scratch/nowhere/p.gnu" "$own/p.gnu"
cp "$own/dados.txt" "$scratch/dados.before"
cp "$own/u.gnu" "$scratch/u.before"
(cd "$scratch" && "$tree/scripts/run" own >"$scratch/own.log" 2>&1)
check "run in the user's folder ends 3, the verdict" [ $? -eq 3 ]
check "edited dados.txt left byte for byte" cmp -s "$scratch/dados.before" "$own/dados.txt"
check "own u.gnu left byte for byte" cmp -s "$scratch/u.before" "$own/u.gnu"
check "dangling p.gnu link left, nothing written through it" all_of \
  "[ -L '$own/p.gnu' ]" "[ ! -e '$scratch/nowhere' ]"
check "the run used N = 50" grep -q "^ *50  = N:" "$own/saida.txt"
check "u.dat holds 50 nodes" [ "$(wc -l <"$own/u.dat")" -eq 50 ]

# With "." first on PATH, run in the case folder: programs planted there
# under the names of the plotter and of ls are not run.
planted="$scratch/planted"
mkdir "$planted"
for name in gnuplot ls; do
  printf '#!/bin/sh\ntouch "%s/planted-ran"\n' "$scratch" >"$planted/$name"
  chmod +x "$planted/$name"
done
(cd "$planted" && PATH=".:$PATH" "$tree/scripts/run" . >"$scratch/planted.log" 2>&1)
check "run with . on PATH ends 3, the verdict" [ $? -eq 3 ]
check "no program planted in the case folder ran" [ ! -e "$scratch/planted-ran" ]

# The command ends with the program's status when it fails, otherwise with
# the convergence tool's verdict.
status_case() {  # status_case NAME SED-EXPRESSION STATUS
  local dir="$scratch/$1" status=0
  mkdir "$dir"
  sed "$2" "$top/examples/dados.txt" >"$dir/dados.txt"
  "$tree/scripts/run" "$dir" >"$dir.log" 2>&1 || status=$?
  check "$1: scripts/run ends $3 (it ended $status)" [ "$status" -eq "$3" ]
  logs+=("$dir.log")
}
logs=("$scratch/verification.log" "$scratch/new.log" "$scratch/own.log" "$scratch/planted.log")
status_case "itmax 3000 converges" 's/^300 /3000 /' 0
status_case "a run-time error" 's/^2\.0 /2.0L /' 1
check "a run-time error: the frame, and no verdict" all_of \
  "grep -q '^run-time error F2004' '$scratch/a run-time error.log'" \
  "! grep -q 'Did it converge' '$scratch/a run-time error.log'"

if [ "$failed" -ne 0 ]; then
  for log in "${logs[@]}"; do
    echo "--- $log:"; cat "$log"
  done
fi
echo "run command: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
