# bash completion for plcfwupdate and plcsim. The options come from each program's --help,
# the model names from plcsim --list-models.

_plc_options() {
    "$1" --help 2>/dev/null | grep -E '^  --' | grep -oE -- '--[a-z0-9][a-z0-9-]*'
}

_plc_models() {
    local sim
    sim=$(dirname -- "$(type -P "$1" 2>/dev/null || echo .)")/plcsim
    [ -x "$sim" ] || sim=plcsim
    "$sim" --list-models 2>/dev/null | awk '!/^#/ { print $1 }'
}

_plcfwupdate() {
    local cur prev
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD - 1]}
    case $prev in
        --model)
            mapfile -t COMPREPLY < <(compgen -W "$(_plc_models "$1")" -- "$cur")
            return ;;
        --image | --trace | --record | --ports-from)
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
            return ;;
        --port)
            mapfile -t COMPREPLY < <(compgen -W "$("$1" --list-ports 2>/dev/null | cut -f1) tcp:// rfc2217://" -- "$cur")
            [ ${#COMPREPLY[@]} -eq 0 ] && mapfile -t COMPREPLY < <(compgen -f -- "$cur")
            return ;;
    esac
    mapfile -t COMPREPLY < <(compgen -W "$(_plc_options "$1")" -- "$cur")
}

_plcsim() {
    local cur prev
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD - 1]}
    case $prev in
        --model)
            mapfile -t COMPREPLY < <(compgen -W "$("$1" --list-models 2>/dev/null | awk '!/^#/ { print $1 }')" -- "$cur")
            return ;;
        --start)
            mapfile -t COMPREPLY < <(compgen -W "app boot" -- "$cur")
            return ;;
        --link | --flash-out | --log)
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
            return ;;
        --tcp | --rfc2217 | --fault | --seed | --latency | --app-id | --id67 | --boot-id | \
        --d1386 | --d1001 | --d1148 | --register | --app-version | --boot-version | \
        --replug-after | --linger)
            return ;;
    esac
    mapfile -t COMPREPLY < <(compgen -W "$(_plc_options "$1")" -- "$cur")
}

complete -F _plcfwupdate plcfwupdate
complete -F _plcsim plcsim
