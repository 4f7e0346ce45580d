#!/usr/bin/env bash
# Manual pages' options (SYNOPSIS, OPTIONS) and exit codes against --help: PROGRAM PAGE pairs.
options() { grep -oE '(^|[^[:alnum:]-])--?[a-z][a-z-]*' | sed 's/^[^-]*//' | sort -u; }
differ() {  # PAGE WHAT HELP'S PAGE'S
  [ "$3" = "$4" ] || { rc=1; echo "FAILED: $1: $2 in --help only: $(comm -23 <(echo "$3") <(echo "$4") | xargs);" \
    "in the page only: $(comm -13 <(echo "$3") <(echo "$4") | xargs)"; }
}
rc=0
while [ $# -ge 2 ]; do
  help=$("$1" --help) page=$(sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' "$2")
  differ "${2##*/}" options "$(options <<<"$help")" \
    "$(sed -n '/^\.SH SYNOPSIS/,/^\.SH DESCRIPTION/p; /^\.SH OPTIONS/,/^\.SH [^O]/p' <<<"$page" | options)"
  differ "${2##*/}" "exit codes" "$(sed -n '/^exit codes:/,$s/^  \([0-9]\{1,\}\)  .*/\1/p' <<<"$help")" \
    "$(sed -n '/^\.SH EXIT STATUS/,/^\.SH [^E]/s/^\.B \([0-9]\{1,\}\)$/\1/p' <<<"$page")"
  shift 2
done
exit $rc
