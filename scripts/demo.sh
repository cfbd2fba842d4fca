#!/usr/bin/env bash
# The main job on the embedded default: builds the program, lays out a demo
# installation under demo/, fills its SQLite database with bookings, runs
# Morvask_SQLITE once with /D and shows what the run wrote.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD

bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target Morvask_SQLITE velunaris-ini bewgen

# The protocol log lies at ../../Velunaris_php/log seen from the run folder.
rm -rf demo
mkdir -p demo/Velunaris_php/log demo/inst/run demo/inst/export
cd demo/inst/run

ini="$top/build/bin/velunaris-ini"
"$ini" set Velunaris.ini LOGIN zeit
"$ini" set Velunaris.ini PASS demo-Passwort
"$ini" set Velunaris.ini NET8 bew.db
"$ini" check Velunaris.ini

"$top/build/bin/bewgen" --rows 40 --seed 7 --ddl "$top/sql/sqlite/zkr321bew.sql" bew.db

echo
echo "== Morvask_SQLITE Velunaris.ini ../export /D   (in demo/inst/run)"
set +e
"$top/build/bin/Morvask_SQLITE" Velunaris.ini ../export /D
code=$?
set -e
echo
echo
echo "== exit code: $code   (1: complete run, commit succeeded)"
echo
echo "== export file demo/inst/export/BEWDATA.dat (first lines):"
head -n 5 ../export/BEWDATA.dat
echo "   ... $(wc -l < ../export/BEWDATA.dat) lines in all"
echo
echo "== protocol log demo/Velunaris_php/log/Kortivane#Log.txt (Windows-1252 shown as UTF-8):"
iconv -f WINDOWS-1252 -t UTF-8 '../../Velunaris_php/log/Kortivane#Log.txt' | head -n 12
echo "   ..."
iconv -f WINDOWS-1252 -t UTF-8 '../../Velunaris_php/log/Kortivane#Log.txt' | tail -n 6
echo
echo "== rows not marked transferred in demo/inst/run/bew.db (the generator adds a few the"
echo "   cursor never delivers, such as a blank BewIDN, and a few whose NULL key column no"
echo "   mark can match; the protocol names the latter with status 1403):"
sqlite3 bew.db "SELECT count(*) FROM Zkr321Bew WHERE BewUkz IS NULL OR BewUkz <> 4"
[ "$code" -eq 1 ]
