#!/usr/bin/env bash
# Writes the gzipped man page of brindleway-batch from its --help text, so
# that the two never differ:  man-from-help.sh PROGRAM VERSION OUTPUT.gz
set -euo pipefail
program="$1"
version="$2"
output="$3"
{
  printf '.TH BRINDLEWAY\\-BATCH 1 "" "Brindleway %s" "User Commands"\n' "$version"
  printf '.SH NAME\nbrindleway\\-batch \\- write IPTC metadata into a batch of images from a data file\n'
  # "Usage:" and "Options:" head their blocks; a paragraph that starts with
  # a label ("Exit status: ...") heads its own section; the first plain
  # paragraph after a block is the description, later ones are notes.
  "$program" --help | awk '
    function heading(name) { print ".SH " name; print ".nf"; }
    {
      line = $0
      gsub(/\\/, "\\e", line)
      gsub(/-/, "\\-", line)
      if (line ~ /^[.\047]/) line = "\\&" line
    }
    $0 == "Usage:" { heading("SYNOPSIS"); block = 1; next }
    $0 == "Options:" { heading("OPTIONS"); block = 1; next }
    blank && match($0, /^[A-Z][a-z]+( [a-z]+)*: /) {
      heading("\"" toupper(substr($0, 1, RLENGTH - 2)) "\""); block = 0
    }
    blank && block && /^[^ ]/ { heading(described ? "NOTES" : "DESCRIPTION"); described = 1; block = 0 }
    { blank = ($0 == ""); print line }
  '
} | gzip -9n >"$output"
