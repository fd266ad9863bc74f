#compdef plcfwupdate plcsim
# zsh completion for plcfwupdate and plcsim, read as bash's is: the options from each program's
# --help, the model names from its --list-models, the ports from plcfwupdate --list-ports for the
# model the command line names so far, plcsim's faults from the fault syntax in its --help.

_plc_options() {
    $1 --help 2>/dev/null | awk '/^  -/ {
        sub(/^  /, ""); split($0, head, /  +/); n = split(head[1], w, /[ ,]+/)
        for (i = 1; i <= n; i++) if (w[i] ~ /^-/) print w[i] }'
}

# As _plc_faults of the bash completion: "ACTION:", "ACTION:KIND", and bare optional actions.
_plc_faults() {
    $1 --help 2>/dev/null | awk '
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

_plc_complete() {
    local program=$words[1] prev=$words[CURRENT-1] i
    local -a values model
    case $prev in
        --model)
            values=(${(f)"$($program --list-models 2>/dev/null | awk '!/^#/ { print $1 }')"})
            compadd -M 'm:{a-z}={A-Z}' -- $values
            return ;;
        --port | -p)
            # The ports of the model of the command line so far, and the network links.
            for ((i = 2; i < CURRENT - 1; i++)); do
                [[ $words[i] == (--model|--image) ]] && model+=($words[i] $words[i+1])
            done
            values=(${(f)"$($program $model --list-ports 2>/dev/null | cut -f1)"})
            compadd -M 'm:{a-z}={A-Z}' -- $values
            compadd -S '' -- tcp:// rfc2217://
            _files
            return ;;
        --fault)
            values=(${(f)"$(_plc_faults $program)"})
            # The kinds only once the action is typed.
            [[ $PREFIX == *:* ]] || values=(${values:#*:?*})
            compadd -S '' -- ${(M)values:#*:}
            compadd -- ${values:#*:}
            return ;;
        --image | --trace | --record | --ports-from | --link | --flash-out | --log)
            _files
            return ;;
        --flash-dir)
            _files -/
            return ;;
        --start)
            compadd -- app boot
            return ;;
        --units | --tcp | --rfc2217 | --seed | --latency | --adapter-latency | --app-id | --id67 | --boot-id | \
        --d1386 | --d1001 | --d1148 | --register | --app-version | --boot-version | \
        --replug-after | --linger | --arrive-every | --leave-after | --unit-fault | --unit-stay)
            return ;;
    esac
    compadd -- ${(f)"$(_plc_options $program)"}
}

_plc_complete "$@"
