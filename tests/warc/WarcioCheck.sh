#!/usr/bin/env bash
# Our archives read by an independent reader: warcio from the npm registry,
# installed into a scratch directory, indexes and reads every record of a
# sample that our writer makes (gzip per record and plain), and every digest
# must be the SHA-1 of what warcio finds (WarcioCheck.mjs); a sample with a
# wrong digest must fail the check. Skipped (exit 77) only when node or npm
# is missing.
#
#   WarcioCheck.sh path/to/warc_sample_archive [path/to/another_program]
#
# A second program, when given, writes DIR/crawl.warc.gz (a crawl's
# archive), which is checked too; its number of records is its own.
set -euo pipefail
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  echo "SKIPPED: the warcio check needs node and npm (Debian packages nodejs, npm)"
  exit 77
fi
sample_program=$1
here=$(cd "$(dirname "$0")" && pwd)
records=15  # what SampleArchive.cpp writes into each file
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
if ! npm install --no-audit --no-fund --silent warcio@2 >npm.log 2>&1; then
  cat npm.log
  echo "npm could not install warcio"
  exit 1
fi
cp "$here/WarcioCheck.mjs" .
"$sample_program" "$work"

# Checks one archive: its index by warcio, then every digest.
check() {
  npx --no-install warcio index "$1" --fields warc-type,warc-block-digest,warc-payload-digest,offset,length \
    >"$1.index"
  node WarcioCheck.mjs "$records" "$1" "$1.index"
}
check sample.warc.gz
check sample.warc
if [ $# -ge 2 ]; then
  "$2" "$work"
  npx --no-install warcio index crawl.warc.gz \
    --fields warc-type,warc-block-digest,warc-payload-digest,offset,length >crawl.warc.gz.index
  node WarcioCheck.mjs - crawl.warc.gz crawl.warc.gz.index
fi

# The check sees wrong digests: the first of each kind in the response
# records replaced by one of the same length.
for kind in Block Payload; do
  perl -0pe "s/(WARC-Type: response\r\n(?:[^\r]*\r\n)*?WARC-$kind-Digest: sha1:)[A-Z2-7]{32}/\${1}$(printf 'A%.0s' {1..32})/" \
    sample.warc >wrong.warc
  if cmp -s sample.warc wrong.warc || check wrong.warc; then
    echo "a wrong $kind digest went unnoticed"
    exit 1
  fi
done
echo "warcio: every digest of both archives right"
