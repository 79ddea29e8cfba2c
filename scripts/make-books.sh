#!/usr/bin/env bash
# Writes the sample e-books, story.epub and story.fb2, from samples/story.txt into <dir>: one chapter
# per book, a paragraph per sentence, titled "The Lighthouse Keeper". The EPUB is packed with zip, its
# mimetype entry first and stored, as EPUB readers expect.
# Usage: scripts/make-books.sh <dir>
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 <dir>" >&2; exit 2; }
out=$(mkdir -p "$1" && cd "$1" && pwd)
top=$(cd "$(dirname "$0")/.." && pwd)
title="The Lighthouse Keeper"
author="The in_txt Samples"

# One paragraph per sentence of the story, with the markup's special characters escaped.
paragraphs=$(tr -d '\r' <"$top/samples/story.txt" | sed -e 's/&/\&amp;/g; s/</\&lt;/g; s/>/\&gt;/g' |
  sed -e 's/\([.!?]\) \+/\1\n/g' | sed -e '/^ *$/d; s/^/<p>/; s/$/<\/p>/')

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/META-INF" "$work/OEBPS"
printf 'application/epub+zip' >"$work/mimetype"
cat >"$work/META-INF/container.xml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<container version="1.0" xmlns="urn:oasis:names:tc:opendocument:xmlns:container">
  <rootfiles><rootfile full-path="OEBPS/content.opf" media-type="application/oebps-package+xml"/></rootfiles>
</container>
XML
cat >"$work/OEBPS/content.opf" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<package xmlns="http://www.idpf.org/2007/opf" version="3.0" unique-identifier="id">
  <metadata xmlns:dc="http://purl.org/dc/elements/1.1/">
    <dc:identifier id="id">in_txt-sample-story</dc:identifier>
    <dc:title>$title</dc:title>
    <dc:creator>$author</dc:creator>
    <dc:language>en</dc:language>
  </metadata>
  <manifest>
    <item id="nav" href="nav.xhtml" media-type="application/xhtml+xml" properties="nav"/>
    <item id="story" href="story.xhtml" media-type="application/xhtml+xml"/>
  </manifest>
  <spine><itemref idref="story"/></spine>
</package>
XML
cat >"$work/OEBPS/nav.xhtml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<html xmlns="http://www.w3.org/1999/xhtml" xmlns:epub="http://www.idpf.org/2007/ops"><head><title>Contents</title></head>
<body><nav epub:type="toc"><ol><li><a href="story.xhtml">$title</a></li></ol></nav></body></html>
XML
cat >"$work/OEBPS/story.xhtml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE html>
<html xmlns="http://www.w3.org/1999/xhtml"><head><title>$title</title></head>
<body>
<h1>$title</h1>
$paragraphs
</body></html>
XML
rm -f "$out/story.epub"
(cd "$work" && zip -q -X -0 "$out/story.epub" mimetype && zip -q -X -9 -r "$out/story.epub" META-INF OEBPS)

cat >"$out/story.fb2" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<FictionBook xmlns="http://www.gribuser.ru/xml/fictionbook/2.0" xmlns:l="http://www.w3.org/1999/xlink">
  <description><title-info><genre>prose</genre><author><nickname>$author</nickname></author>
    <book-title>$title</book-title><lang>en</lang></title-info></description>
  <body>
    <title><p>$title</p></title>
    <section>
$paragraphs
    </section>
  </body>
</FictionBook>
XML
echo "Wrote $out/story.epub and $out/story.fb2"
