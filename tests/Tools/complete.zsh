# Prints what zsh's own completion offers for the command line $2 (one match a line), with the
# completion functions of folder $1 first on fpath: a zsh on a pseudo-terminal is sent the line
# and a Tab, and every match its compadd adds is printed, unquoted.
zmodload zsh/zpty
zpty z zsh -f -i
zpty -w z "fpath=(${(q)1} \$fpath); autoload -Uz compinit; compinit -u -D"
# Calls that only collect matches into an array (-O, -A, -D) add nothing, so they are not printed.
zpty -w z 'compadd() { [[ ${(j: :)@} != *-[OAD]* ]] && { local -a m; builtin compadd -O m "$@"; print -rl -- "<m>"${^m}; }; builtin compadd "$@"; }'
zpty -w z 'zstyle ":completion:*" insert-tab false; bindkey "^I" complete-word; PS1="<""prompt>"'
# Keys typed before the line editor starts would be thrown away.
zpty -r z line '*<prompt>'
# Tab, then Ctrl-U so that the line is not run, then a marker for the end of the output.
zpty -w -n z "$2"$'\t'$'\x15'
zpty -w z 'print -r -- "<""end>"'
while zpty -r z line; do
    [[ $line == *"<end>"* ]] && break
    [[ $line == *"<m>"* ]] && print -r -- ${(Q)${line##*<m>}%$'\r'*}
done
