#!/usr/bin/env bash
# check_manual.sh TABLE PAGE COMPLETION
# The built manual page and bash completion against the options table they were written from:
# every option in the page's batch section and none that the table lacks; the completion offers
# every option, each option's choices, folders or files where its value is a path, and after
# "--opt=" the same as after "--opt".
set -euo pipefail
table=$(realpath "$1") page=$(realpath "$2") completion=$(realpath "$3")
fail() { echo "FAIL: $*" >&2; exit 1; }
[[ -f /usr/share/bash-completion/bash_completion ]] || fail "bash-completion is not installed (scripts/deps.sh)"

# The page as a reader sees it, its batch section only.
text=$(MANWIDTH=200 man -l -P cat "$page" 2>/dev/null | sed -n '/^BATCH OPTIONS/,/^EXIT STATUS/p')
[[ -n $text ]] || fail "the page has no BATCH OPTIONS section"
shown=$(grep -oE '^ {7}-[-a-zA-Z0-9]+(, --[-a-zA-Z0-9]+)?' <<<"$text" | tr -d ' ' | tr ',' '\n' | sort -u)
listed=$(cut -f1 "$table" | tr -d ' ' | tr ',|' '\n\n' | sort -u)
[[ $shown == "$listed" ]] || fail "the page's options differ from the table's: $(diff <(echo "$listed") <(echo "$shown") | grep '^[<>]' | tr '\n' ' ')"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/somedir"
touch "$scratch/somefile.csv"
# complete_words WORD... : what the completion offers for the last word; LINE is the command line as
# typed when it differs from the words joined by spaces (bash splits "--opt=" into "--opt" "=" "").
complete_words() {
    (cd "$scratch" && LINE=${LINE:-} bash -c '
        source /usr/share/bash-completion/bash_completion
        source "$0"
        COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE=${LINE:-"$*"}; COMP_POINT=${#COMP_LINE}
        COMPREPLY=()
        _numbrel numbrel "${COMP_WORDS[-1]}" "${COMP_WORDS[-2]}"
        printf "%s\n" "${COMPREPLY[@]}" | sort' "$completion" "$@")
}

all=$(complete_words numbrel --batch --)
for name in $listed; do
    [[ $name == --* ]] || continue
    grep -qxF -- "$name" <<<"$all" || fail "'numbrel --batch --' does not offer $name"
done

failures=0
# Tabs turned into a separator that is not white space, so that empty fields keep their place.
while IFS=$'\x1f' read -r names value default choices help; do
    [[ -n $value ]] || continue
    long=$(tr ',|' '\n\n' <<<"$names" | tr -d ' ' | grep -- '^--' | head -1)
    if [[ -n $choices ]]; then
        expected=$(tr ',' '\n' <<<"$choices" | sort)
    elif [[ $value =~ DIR|FOLDER ]]; then
        expected=somedir
    elif [[ $value =~ FILE ]]; then
        expected=$(printf 'somedir\nsomefile.csv')
    else
        expected=
    fi
    for form in split joined; do
        if [[ $form == split ]]; then got=$(complete_words numbrel --batch "$long" "")
        else got=$(LINE="numbrel --batch $long=" complete_words numbrel --batch "$long" = ""); fi
        got=$(sed 's|/$||' <<<"$got")
        if [[ $got != "$expected" ]]; then
            echo "FAIL: $long ($form) completes to [$(echo $got)], not [$(echo $expected)]" >&2
            failures=$((failures + 1))
        fi
    done
done < <(tr '\t' '\037' <"$table")
[[ $failures -eq 0 ]] || exit 1
echo "page and completion agree with the table's $(wc -l <"$table") options"
