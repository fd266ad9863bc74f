# bash completion for plcfwupdate and plcsim. The options come from each program's --help,
# the model names from each program's --list-models, the ports from plcfwupdate --list-ports for
# the model the command line names so far, plcsim's faults from the fault syntax in its --help.

_plc_options() {
    # Every spelling at the start of an option's line: "-q, --quiet", "--port NAME|PATH".
    "$1" --help 2>/dev/null | awk '/^  -/ {
        sub(/^  /, ""); split($0, head, /  +/); n = split(head[1], w, /[ ,]+/)
        for (i = 1; i <= n; i++) if (w[i] ~ /^-/) print w[i] }'
}

# Every fault plcsim's --help names: "ACTION:" for each action and shorthand, "ACTION:KIND" for
# each request kind where the action takes a target, the bare action where its argument is
# optional ("runmode[:KIND]").
_plc_faults() {
    "$1" --help 2>/dev/null | awk '
        /^Faults/ { on = 1 }
        /^Request kinds:/ { inKinds = 1; for (i = 3; i <= NF; i++) kind[++kinds] = $i; next }
        inKinds && /^  / { for (i = 1; i <= NF; i++) kind[++kinds] = $i; next }
        { inKinds = 0 }
        !on { next }
        /^  [a-z]/ {
            split($1, part, /[:[]/); word[part[1] ":"] = 1
            if ($1 ~ /^[a-z-]+\[/) word[part[1]] = 1
            if ($1 ~ /:TARGET/) target[part[1]] = 1 }
        /also [a-z-]+:TARGET/ {
            match($0, /also [a-z-]+:/); alias = substr($0, RSTART + 5, RLENGTH - 6)
            word[alias ":"] = 1; target[alias] = 1 }
        /^  Shorthands:/ { for (i = 2; i <= NF; i++) { split($i, part, ":"); word[part[1] ":"] = 1 } }
        END {
            for (w in word) print w
            for (t in target) for (k = 1; k <= kinds; k++) print t ":" kind[k] }'
}

# The words of $2 that start with $3, case aside: "qm2" finds QM2-E.
_plc_match() {
    local word prefix=${3,,}
    for word in $2; do
        [[ ${word,,} == "$prefix"* ]] && printf '%s\n' "$word"
    done
}

# The options already given that choose the model: --model and --image ("--model=X" comes as
# the three words "--model", "=", "X").
_plc_model_args() {
    local i value
    for ((i = 1; i < COMP_CWORD; i++)); do
        case ${COMP_WORDS[i]} in
            --model | --image)
                value=${COMP_WORDS[i + 1]}
                [ "$value" = "=" ] && value=${COMP_WORDS[i + 2]}
                printf '%s\n' "${COMP_WORDS[i]}" "$value" ;;
        esac
    done
}

_plcfwupdate() {
    local cur prev
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD - 1]}
    # bash splits "usb:1-4" at the colon into "usb" ":" "1-4": the port is those words joined, and
    # the reply replaces only what follows the last colon.
    local i=$COMP_CWORD
    while ((i > 1)) && [[ ${COMP_WORDS[i]} == : || ${COMP_WORDS[i - 1]} == : ]]; do ((i--)); done
    if ((i < COMP_CWORD)) && [[ ${COMP_WORDS[i - 1]} == --port || ${COMP_WORDS[i - 1]} == -p ]]; then
        local port model
        port=$(IFS=; echo "${COMP_WORDS[*]:i:COMP_CWORD-i+1}")
        mapfile -t model < <(_plc_model_args)
        mapfile -t COMPREPLY < <(compgen -W "$("$1" "${model[@]}" --list-ports 2>/dev/null | cut -f1)" -- "$port")
        mapfile -t COMPREPLY < <(printf '%s\n' "${COMPREPLY[@]#"${port%:*}:"}" | grep .)
        return
    fi
    case $prev in
        --model)
            mapfile -t COMPREPLY < <(_plc_match "$1" "$("$1" --list-models 2>/dev/null | awk '!/^#/ { print $1 }')" "$cur")
            return ;;
        --image | --trace | --record | --ports-from)
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
            return ;;
        --units)
            return ;;
        --port | -p)
            # The ports of the model of the command line so far, and the network links.
            local -a model
            mapfile -t model < <(_plc_model_args)
            mapfile -t COMPREPLY < <(_plc_match "$1" "$("$1" "${model[@]}" --list-ports 2>/dev/null | cut -f1) tcp:// rfc2217://" "$cur")
            [ ${#COMPREPLY[@]} -eq 0 ] && mapfile -t COMPREPLY < <(compgen -f -- "$cur")
            return ;;
    esac
    mapfile -t COMPREPLY < <(compgen -W "$(_plc_options "$1")" -- "$cur")
}

_plcsim() {
    local cur prev
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD - 1]}
    # bash splits "nak:bl" at the colon into "nak" ":" "bl": the fault is those words joined, and
    # the reply replaces only what follows the last colon.
    local i=$COMP_CWORD
    while ((i > 1)) && [[ ${COMP_WORDS[i]} == : || ${COMP_WORDS[i - 1]} == : ]]; do ((i--)); done
    if [ "${COMP_WORDS[i - 1]}" = --fault ]; then
        local fault faults
        fault=$(IFS=; echo "${COMP_WORDS[*]:i:COMP_CWORD-i+1}")
        # The kinds only once the action is typed.
        faults=$(_plc_faults "$1")
        [[ $fault == *:* ]] || faults=$(grep -v ':.' <<<"$faults")
        mapfile -t COMPREPLY < <(compgen -W "$faults" -- "$fault")
        if [[ $fault == *:* ]]; then
            mapfile -t COMPREPLY < <(printf '%s\n' "${COMPREPLY[@]#"${fault%:*}:"}" | grep .)
        fi
        [[ ${COMPREPLY[*]} == *: || ${COMPREPLY[*]} == *": "* ]] && compopt -o nospace 2>/dev/null
        return
    fi
    case $prev in
        --model)
            mapfile -t COMPREPLY < <(_plc_match "$1" "$("$1" --list-models 2>/dev/null | awk '!/^#/ { print $1 }')" "$cur")
            return ;;
        --start)
            mapfile -t COMPREPLY < <(compgen -W "app boot" -- "$cur")
            return ;;
        --link | --flash-out | --log)
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
            return ;;
        --flash-dir)
            mapfile -t COMPREPLY < <(compgen -d -- "$cur")
            return ;;
        --tcp | --rfc2217 | --seed | --latency | --adapter-latency | --app-id | --id67 | --boot-id | \
        --d1386 | --d1001 | --d1148 | --register | --app-version | --boot-version | \
        --replug-after | --linger | --units | --arrive-every | --leave-after | --unit-fault | \
        --unit-stay)
            return ;;
    esac
    mapfile -t COMPREPLY < <(compgen -W "$(_plc_options "$1")" -- "$cur")
}

complete -F _plcfwupdate plcfwupdate
complete -F _plcsim plcsim
