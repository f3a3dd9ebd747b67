# bash completion for tarnwick: its commands, their options and the settings of "set".
_tarnwick() {
    local cur prev words cword
    _init_completion || return
    local command="" i
    for ((i = 1; i < cword; i++)); do
        case "${words[i]}" in
            status | set) command=${words[i]}; break ;;
        esac
    done
    case "$command" in
        status)
            case "$prev" in
                --watch) return ;;
            esac
            COMPREPLY=($(compgen -W '--json --bar --prometheus --watch --help' -- "$cur"))
            ;;
        set)
            case "$prev" in
                battery | charger-only) COMPREPLY=($(compgen -W 'on off' -- "$cur")); return ;;
                boost | manual | target) return ;;
            esac
            COMPREPLY=($(compgen -W 'boost manual auto battery target charger-only --help' -- "$cur"))
            ;;
        *)
            case "$prev" in
                --snapshot) _filedir png; return ;;
                --demo) COMPREPLY=($(compgen -W 'warm hot' -- "$cur")); return ;;
                --history) return ;;
            esac
            COMPREPLY=($(compgen -W 'status set --show-panel --no-fans --demo --snapshot --about
                --expand-menu-bar --history --diagnostics --help --version' -- "$cur"))
            ;;
    esac
} &&
    complete -F _tarnwick tarnwick
