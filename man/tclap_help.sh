#!/bin/sh
# Runs PROGRAM, whose command line TCLAP reads (wavepack), for help2man. Its --help
# is passed on with TCLAP's headings in the words help2man makes sections of: the
# usage on one "Usage:" line (SYNOPSIS), "Where:" as "Options:" (OPTIONS), each of
# the help's own headings as a subsection of the options, and its examples after
# "Examples:" (EXAMPLES), one "$ " command a line. The help's text is unchanged.
# Usage: tclap_help.sh PROGRAM ARGUMENT...
program=$1
shift
if [ "$*" != "--help" ]; then
  exec "$program" "$@"
fi
"$program" --help | awk '
  function flushHeading() {
    if (heading != "") print heading ":"
    heading = ""
  }
  /^USAGE: *$/ { part = "usage"; usage = "Usage:"; next }
  part == "usage" {
    if ($0 ~ /^ *$/) {
      if (usage != "Usage:") { print usage; print ""; part = "" }
      next
    }
    sub(/^ +/, "")
    gsub(/  +/, " ")
    usage = usage " " $0
    next
  }
  /^Where: *$/ { print "Options:"; part = "options"; next }
  part == "options" && /^EXAMPLES *$/ { print "Examples:"; part = "examples"; next }
  part == "options" && /^[^ ]/ { heading = heading == "" ? $0 : heading " " $0; next }
  part == "options" { flushHeading(); print; next }
  part == "examples" && /^ +[^ ]/ { sub(/^ +/, "   $ "); print; next }
  { print }
'
