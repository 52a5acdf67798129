# bash completion for numtally
_numtally()
{
    local cur=${COMP_WORDS[COMP_CWORD]}
    local prev=${COMP_WORDS[COMP_CWORD-1]}
    local before=
    ((COMP_CWORD >= 2)) && before=${COMP_WORDS[COMP_CWORD-2]}
    local functions="mean quantile median quartile pop-var pop-SD pop-z-scores
        sample-var sample-SD sample-SE sample-z-scores sample-t-score mode
        range iq-range box-plot chi-sq-fit count sum min max percentile
        geo-mean harm-mean skewness kurtosis mad summary covariance
        correlation regression welch-t paired-t t-test frequency top distinct
        histogram"
    local commands="z-table normal-cdf z-score t-score t-cdf t-table"
    local options="--delims --delim --by --verbose --help --version --header
        --csv --skip-missing --quantile-type --format --long --digits
        --state-out --merge --threads --memory --split"
    COMPREPLY=()

    # Distribution commands take numbers only.
    if ((COMP_CWORD > 1)); then
        case ${COMP_WORDS[1]} in
        z-table | normal-cdf | z-score | t-score | t-cdf | t-table) return ;;
        esac
    fi
    # --merge: the state files (and the layout's options).
    local w
    for w in "${COMP_WORDS[@]:1:COMP_CWORD-1}"; do
        if [[ $w == --merge ]]; then
            [[ $prev == --digits || $prev == --memory ]] && return
            if [[ $prev == --format ]]; then
                mapfile -t COMPREPLY < <(compgen -W "report tsv csv json" -- "$cur")
                return
            fi
            mapfile -t COMPREPLY < <(compgen -W "--format --long --digits --memory" -- "$cur")
            mapfile -t -O ${#COMPREPLY[@]} COMPREPLY < <(compgen -f -- "$cur")
            return
        fi
    done
    case $prev in
    # The file a part's state goes to.
    --state-out)
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
        return
        ;;
    # A delimiter string, key columns, a row or column number, a parameter:
    # free text.
    --delims | --delim | --by | --row | --col | --split | quantile | \
        sample-t-score | percentile | t-test | top | --digits | \
        --threads | --memory) return ;;
    # An optional bin count, or the column.
    histogram)
        mapfile -t COMPREPLY < <(compgen -W "--row --col" -- "$cur")
        return
        ;;
    --quantile-type)
        mapfile -t COMPREPLY < <(compgen -W "1 2 3 4 5 6 7 8 9" -- "$cur")
        return
        ;;
    --format)
        mapfile -t COMPREPLY < <(compgen -W "report tsv csv json" -- "$cur")
        return
        ;;
    esac
    # A function word, or a parameter after its word, wants --row or --col.
    if [[ $before == quantile || $before == sample-t-score ||
        $before == percentile || $before == t-test || $before == top ]] ||
        [[ $before == histogram && $prev != --row && $prev != --col ]] ||
        [[ " ${functions//$'\n'/ } " == *" $prev "* &&
            $prev != quantile && $prev != sample-t-score &&
            $prev != percentile && $prev != t-test && $prev != top ]]; then
        mapfile -t COMPREPLY < <(compgen -W "--row --col" -- "$cur")
        return
    fi
    local words="$functions $options"
    ((COMP_CWORD == 1)) && words="$commands $words"
    mapfile -t COMPREPLY < <(compgen -W "$words" -- "$cur")
    # After a function's column: the files to read, too.
    if [[ $before == --row || $before == --col ]]; then
        mapfile -t -O ${#COMPREPLY[@]} COMPREPLY < <(compgen -f -- "$cur")
    fi
}
complete -F _numtally numtally
