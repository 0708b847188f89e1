#!/usr/bin/env bash
# Writes a program's gzipped man page from its --help text, so that the two
# never differ:  man-from-help.sh PROGRAM VERSION DATE SUMMARY OUTPUT.gz
#
# The help text's shape: a "Usage:" block; a "Label:" line alone heads a
# block of entries ("  TAG  text" with further lines indented deeper, as
# under "Options:" and "Files:") or, under "Examples:", of two-space prose
# lines each followed by deeper-indented command lines; a paragraph that
# starts with "Label: " is its own section; the first plain paragraph is the
# description, later ones are notes. Prose is left for man to fill.
set -euo pipefail
program="$1"
version="$2"
date="$3"
summary="$4"
output="$5"
name="$(basename "$program")"
{
  printf '.TH %s 1 %s "Brindleway %s" "User Commands"\n' "$(tr a-z A-Z <<<"$name" | sed 's/-/\\-/g')" "$date" "$version"
  # Ragged right and no hyphens (HY for the paragraph macros' own resets):
  # paths and option names stay whole.
  printf '.nr HY 0\n.nh\n.ad l\n'
  printf '.SH NAME\n%s \\- %s\n' "$(sed 's/-/\\-/g' <<<"$name")" "$summary"
  "$program" --help | awk '
    function escape(text) {
      gsub(/\\/, "\\e", text)
      gsub(/-/, "\\-", text)
      return text
    }
    # A line of running text: never one that troff would take as a request.
    function prose(text) {
      sub(/^ +/, "", text)
      text = escape(text)
      if (text ~ /^[.\047]/) text = "\\&" text
      return text
    }
    # Words that start with "-" are set bold, the names of arguments italic.
    function tag(text,    words, n, i, out, word, comma) {
      n = split(text, words, " ")
      out = ""
      for (i = 1; i <= n; i++) {
        word = words[i]
        comma = sub(/,$/, "", word)
        word = (word ~ /^-/ ? "\\fB" : "\\fI") escape(word) "\\fR"
        out = out (i > 1 ? " " : "") word (comma ? "," : "")
      }
      return out
    }
    function section(title) { print ".SH " (title ~ / / ? "\"" title "\"" : title) }
    function endblock() {
      if (kind == "examples" && command) print ".fi\n.RE"
      kind = ""; command = 0
    }
    BEGIN { blank = 1 }
    $0 == "" { endblock(); blank = 1; next }
    blank && /^[A-Z][a-z]+( [a-z]+)*:$/ {
      label = substr($0, 1, length($0) - 1)
      kind = label == "Usage" ? "usage" : label == "Examples" ? "examples" : "entries"
      if (kind != "usage") after = 1
      section(label == "Usage" ? "SYNOPSIS" : toupper(label))
      blank = 0; next
    }
    kind == "usage" && /^  [^ ]/ {
      if (synopsis) print ".YS"
      line = $0; sub(/^ +/, "", line)
      command = line; sub(/ .*/, "", command); sub(/^[^ ]+ ?/, "", line)
      print ".SY " escape(command); if (line != "") print prose(line)
      synopsis = 1; next
    }
    kind == "usage" { print prose($0); next }
    kind == "entries" && /^  [^ ]/ {
      # The tag runs to the first gap of two spaces or more.
      line = substr($0, 3)
      first = line; sub(/  +.*/, "", first)
      rest = substr(line, length(first) + 1)
      print ".TP"; print tag(first)
      if (rest ~ /[^ ]/) print prose(rest)
      next
    }
    kind == "entries" { print prose($0); next }
    kind == "examples" && /^  [^ ]/ {
      if (command) print ".fi\n.RE"
      command = 0
      print ".PP"; print prose($0); next
    }
    kind == "examples" {
      if (!command) print ".RS 4\n.nf"
      command = 1
      line = substr($0, 5); line = escape(line)
      if (line ~ /^[.\047]/) line = "\\&" line
      print line; next
    }
    blank && match($0, /^[A-Z][a-z]+( [a-z]+)*: /) {
      if (synopsis) { print ".YS"; synopsis = 0 }
      section(toupper(substr($0, 1, RLENGTH - 2)))
      after = 1
      rest = substr($0, RLENGTH + 1)
      print prose(toupper(substr(rest, 1, 1)) substr(rest, 2))
      blank = 0; next
    }
    blank {
      if (synopsis) { print ".YS"; synopsis = 0 }
      if (!described) section("DESCRIPTION")
      else if (!noted && after) section("NOTES")
      if (described && !after) print ".PP"
      if (after) { if (noted) print ".PP"; noted = 1 }
      described = 1
    }
    { print prose($0); blank = 0 }
  '
} | gzip -9n >"$output"
