#!/usr/bin/env bash
# Makes the fuzz targets' seed corpus from real tables: the tessel tool
# creates a few small tables (the catalogue, multi-level and compressed
# indexes, every field type, short BLOB blocks, an encrypted table, the
# longest key, the catalogue without its index file), fills and changes
# them, and fuzz_seeds turns their files into seed inputs under
# fuzz/corpus/<target>/.
#
#   fuzz/make-corpus.sh
#
# TESSEL names the tool (default build/bin/tessel, built by scripts/build when
# missing); MARROWICK_FUZZ_BUILD_DIR the fuzz build (default build-fuzz).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
TESSEL=${TESSEL:-$ROOT/build/bin/tessel}
FUZZ_BUILD=${MARROWICK_FUZZ_BUILD_DIR:-$ROOT/build-fuzz}
CORPUS=$ROOT/fuzz/corpus
JOBS=${MARROWICK_JOBS:-$(nproc)}

if [[ ! -x $TESSEL ]]; then
  "$ROOT/scripts/build"
  TESSEL=$ROOT/build/bin/tessel
fi
if [[ ! -f $FUZZ_BUILD/build.ninja ]]; then
  CC=clang CXX=clang++ cmake -S "$ROOT/fuzz" -B "$FUZZ_BUILD" -G Ninja >/dev/null
fi
ninja -C "$FUZZ_BUILD" -j "$JOBS" fuzz_seeds >/dev/null

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"

# sites: the catalogue with ten sites; one deleted, one note made longer.
head -n 10 "$ROOT/data/sites.jsonl" > sites.jsonl
"$TESSEL" create sites --structure "$ROOT/data/linksdata.structure.json"
"$TESSEL" insert sites sites.jsonl
"$TESSEL" delete sites --index siteurl --key "https://www.poetryfoundation.org/"
"$TESSEL" update sites --index siteurl --key "https://www.gutenberg.org/" \
  --set "{\"note\": \"$(printf 'Free e-books. %.0s' {1..60})\"}"

# numbers: long string keys (15 to a leaf, so the trees have inner nodes),
# every compression mode, a non-unique, a descending and a case-insensitive
# index with a descending part; some records deleted.
cat > numbers.json <<'JSON'
{
  "fields": [
    {"name": "id", "type": "integer"},
    {"name": "name", "type": "string", "size": 250},
    {"name": "code", "type": "smallint"},
    {"name": "amount", "type": "float"},
    {"name": "flag", "type": "boolean"}
  ],
  "primary": {"fields": ["id"]},
  "indexes": [
    {"name": "byname", "fields": ["name"], "unique": true, "compression": 0},
    {"name": "bycode", "fields": ["code"], "unique": false, "compression": 1},
    {"name": "bynamez", "fields": ["name"], "unique": true, "compression": 2},
    {"name": "byamount", "fields": ["amount"], "descendingIndex": true, "compression": 3},
    {"name": "byflagname", "fields": ["flag", "name"], "descending": [false, true],
     "caseInsensitive": true, "compression": 3}
  ]
}
JSON
for i in $(seq 0 39); do
  printf '{"id": %d, "name": "Name %03d %s", "code": %d, "amount": %d.25, "flag": %s}\n' \
    "$i" "$((i * 7 % 40))" "$([[ $((i % 3)) == 0 ]] && echo upper || echo lower)" "$((i % 5))" "$((20 - i))" \
    "$([[ $((i % 2)) == 0 ]] && echo true || echo false)"
done > numbers.jsonl
"$TESSEL" create numbers --structure numbers.json
"$TESSEL" insert numbers numbers.jsonl --exclusive --no-flush
for i in 3 4 5 6 7 8 20; do
  "$TESSEL" delete numbers --index byname --key "$(printf 'Name %03d ' "$((i * 7 % 40))")$([[ $((i % 3)) == 0 ]] && echo upper || echo lower)"
done

# types: every field type, with checks and defaults, indexes on several.
cat > types.json <<'JSON'
{
  "fields": [
    {"name": "serial", "type": "autoinc"},
    {"name": "day", "type": "date"},
    {"name": "moment", "type": "time"},
    {"name": "stamp", "type": "timestamp"},
    {"name": "yes", "type": "boolean", "default": "TRUE"},
    {"name": "small", "type": "smallint", "min": "-100", "max": "100"},
    {"name": "whole", "type": "integer"},
    {"name": "word", "type": "word"},
    {"name": "real", "type": "float"},
    {"name": "money", "type": "currency"},
    {"name": "exact", "type": "bcd", "decimals": 2},
    {"name": "raw", "type": "bytes", "size": 6},
    {"name": "varraw", "type": "varbytes", "size": 10},
    {"name": "code", "type": "string", "size": 8, "charcase": "upper", "required": true},
    {"name": "picture", "type": "graphic"},
    {"name": "text", "type": "fmtmemo"}
  ],
  "primary": null,
  "indexes": [
    {"name": "byday", "fields": ["day", "moment"], "unique": false},
    {"name": "bystamp", "fields": ["stamp"], "unique": false, "compression": 2},
    {"name": "byexact", "fields": ["exact", "money"], "descending": [true, false], "unique": false},
    {"name": "byraw", "fields": ["raw", "word", "small"], "unique": false, "compression": 1},
    {"name": "bycode", "fields": ["code"], "unique": true, "caseInsensitive": true}
  ],
  "blobBlockSize": 128
}
JSON
cat > types.jsonl <<'JSONL'
{"day": "2001-02-03", "moment": "04:05:06.007", "stamp": "2001-02-03T04:05:06.007", "yes": false, "small": -5, "whole": -70000, "word": 65535, "real": -2.5, "money": 12.34, "exact": "-1234.56", "raw": "00ff10203040", "varraw": "0102", "code": "alpha", "picture": "89504e470d0a1a0a", "text": "{\\rtf1 short}"}
{"day": "1899-12-30", "moment": "00:00:00.000", "stamp": "1899-12-30T00:00:00.000", "small": 100, "whole": 0, "word": 0, "real": 0.0, "money": 0, "exact": "0", "raw": "000000000000", "code": "beta"}
{"day": "9999-12-31", "moment": "23:59:59.999", "stamp": "0001-01-01T00:00:00.000", "small": -100, "whole": 2147483647, "word": 1, "real": 1e300, "money": -99.99, "exact": "99999.99", "raw": "ffffffffffff", "varraw": "ffeeddccbbaa99887766", "code": "Gamma", "picture": "00", "text": "x"}
{"day": "1970-01-01", "whole": -2147483648, "real": -0.0, "code": "delta", "text": "a longer formatted memo that takes a few blocks of 128 bytes: 0123456789012345678901234567890123456789012345678901234567890123456789012345678901234567890123456789"}
JSONL
"$TESSEL" create types --structure types.json
"$TESSEL" insert types types.jsonl

# blocks: 64-byte BLOB blocks (46 data bytes each), values on block
# boundaries, then shortened, lengthened, emptied and deleted so that the
# free chain holds blocks.
cat > blocks.json <<'JSON'
{
  "fields": [
    {"name": "id", "type": "integer"},
    {"name": "note", "type": "memo"},
    {"name": "data", "type": "blob"}
  ],
  "primary": {"fields": ["id"]},
  "indexes": [{"name": "byid", "fields": ["id"], "unique": true, "compression": 3}],
  "blobBlockSize": 64
}
JSON
: > blocks.jsonl
for n in 0 1 45 46 47 92 93 200 400; do
  note=$(head -c "$n" /dev/zero | tr '\0' 'n')
  data=$(head -c "$((n / 2))" /dev/zero | tr '\0' 'a')
  printf '{"id": %d, "note": "%s", "data": "%s"}\n' "$n" "$note" "$data$data" >> blocks.jsonl
done
"$TESSEL" create blocks --structure blocks.json
"$TESSEL" insert blocks blocks.jsonl
"$TESSEL" update blocks --index byid --key 200 --set '{"note": "short now"}'
"$TESSEL" update blocks --index byid --key 46 --set "{\"note\": \"$(head -c 150 /dev/zero | tr '\0' 'L')\"}"
"$TESSEL" update blocks --index byid --key 92 --set '{"note": null, "data": null}'
"$TESSEL" delete blocks --index byid --key 400

# secret: an encrypted table (password, description) with a memo and an index.
cat > secret.json <<'JSON'
{
  "fields": [
    {"name": "name", "type": "string", "size": 20, "required": true},
    {"name": "note", "type": "memo"}
  ],
  "primary": null,
  "indexes": [{"name": "byname", "fields": ["name"], "unique": true, "compression": 1}],
  "blobBlockSize": 96,
  "description": "hidden things",
  "password": "fuzzpw"
}
JSON
printf '{"name": "first", "note": "%s"}\n{"name": "second", "note": "s"}\n{"name": "third"}\n' \
  "$(head -c 300 /dev/zero | tr '\0' 's')" > secret.jsonl
"$TESSEL" create secret --structure secret.json
"$TESSEL" insert secret secret.jsonl --password fuzzpw
"$TESSEL" delete secret --index byname --key second --password fuzzpw

# longkey: the longest key the format allows, five string fields of 1036
# bytes in all in a non-unique index (1040 with the record identifier, three
# keys to a page); some records deleted.
cat > longkey.json <<'JSON'
{
  "fields": [
    {"name": "a", "type": "string", "size": 250},
    {"name": "b", "type": "string", "size": 250},
    {"name": "c", "type": "string", "size": 250},
    {"name": "d", "type": "string", "size": 250},
    {"name": "e", "type": "string", "size": 26}
  ],
  "primary": null,
  "indexes": [{"name": "k", "fields": ["a", "b", "c", "d", "e"], "unique": false}]
}
JSON
fill() { head -c "$1" /dev/zero | tr '\0' "$2"; }
: > longkey.jsonl
for i in $(seq 0 11); do
  printf '{"a": "%s%03d", "b": "%s", "c": "%s", "d": "%s", "e": "%s%02d"}\n' \
    "$(fill 247 a)" "$((i % 5))" "$(fill 250 b)" "$(fill 250 c)" "$(fill 250 d)" "$(fill 24 e)" "$i" >> longkey.jsonl
done
"$TESSEL" create longkey --structure longkey.json
"$TESSEL" insert longkey longkey.jsonl
for i in 2 7; do
  "$TESSEL" delete longkey --index k --key "[\"$(fill 247 a)$(printf %03d $((i % 5)))\", \"$(fill 250 b)\", \"$(fill 250 c)\", \"$(fill 250 d)\", \"$(fill 24 e)0$i\"]"
done

# lost: the catalogue with its deleted site, without its index file.
cp sites.DAT lost.DAT
cp sites.BLB lost.BLB

rm -rf "$CORPUS"/fuzz_*
"$FUZZ_BUILD/fuzz_seeds" "$CORPUS" sites numbers types blocks secret longkey lost
