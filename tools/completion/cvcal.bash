# Bash completion for cvcal and cvadmind. Commands and options are read from the programs' own
# --help texts, so the completion never falls behind them.
# The remote hosts configured in the registry file that the command line names, else in the
# default one.
_cvcal_hosts() {
    local file=${CVAICP_REGISTRY:-$HOME/.config/cvaicp/store.reg} i
    for ((i = 1; i < COMP_CWORD; i++)); do
        [ "${COMP_WORDS[i]}" = --registry ] && file=${COMP_WORDS[i + 1]}
    done
    [ -f "$file" ] || return
    sed -n 's/^\[HKEY_CURRENT_USER\\Software\\Corvane\\Corvane\\Administration\\Hosts\\\([^]\\]*\)\]\r\?$/\1/Ip' \
        "$file"
}

_cvcal() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    local program=${COMP_WORDS[0]} command="" i
    case $prev in
        --registry | --library | --file | --body-file | --xsl | --credentials-file | --output)
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
            return
            ;;
        --host)
            mapfile -t COMPREPLY < <(compgen -W "$(_cvcal_hosts)" -- "$cur")
            return
            ;;
        --mailbox | --postoffice | --id | --period | --start | --end | --from | --to | \
            --month | --subject | --location | --address | --port | --protocol | --name | --value | \
            --horizon | --back)
            [ "$prev" = --protocol ] && mapfile -t COMPREPLY < <(compgen -W PLAIN -- "$cur")
            return
            ;;
    esac
    for ((i = 1; i < COMP_CWORD; i++)); do
        case ${COMP_WORDS[i]} in
            --registry | --library | --host) i=$((i + 1)) ;;
            -*) ;;
            *)
                command=${COMP_WORDS[i]}
                case $command in
                    item | config | props | index)
                        if ((i + 1 < COMP_CWORD)); then
                            command="$command ${COMP_WORDS[i + 1]}"
                        else
                            mapfile -t COMPREPLY < <(compgen -W "$("$program" --help 2>/dev/null |
                                awk -v g="$command" '$1 == g { print $2 }')" -- "$cur")
                            return
                        fi
                        ;;
                esac
                break
                ;;
        esac
    done
    local globals="--registry --library --host --json --verbose --help --version"
    if [ -z "$command" ]; then
        if [[ $cur == -* ]]; then
            mapfile -t COMPREPLY < <(compgen -W "$globals" -- "$cur")
        else
            mapfile -t COMPREPLY < <(compgen -W "$("$program" --help 2>/dev/null |
                awk '/^Commands:/ { on = 1; next } on && /^  [a-z]/ { print $1 }' | sort -u)" \
                -- "$cur")
        fi
        return
    fi
    # import reads a file named without an option.
    if [ "$command" = import ] && [[ $cur != -* ]]; then
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
        return
    fi
    # $command is one word or two ("config host"), each an argument of its own: split on purpose.
    # shellcheck disable=SC2086
    mapfile -t COMPREPLY < <(compgen -W "$("$program" $command --help 2>/dev/null |
        grep -o -- '--[a-z-]*' | sort -u) $globals" -- "$cur")
}

_cvadmind() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    case $prev in
        --config | --port-file | --credentials-file)
            mapfile -t COMPREPLY < <(compgen -f -- "$cur")
            return
            ;;
        --listen) return ;;
    esac
    mapfile -t COMPREPLY < <(compgen -W "--config --listen --port-file --credentials-file --quiet
        --help --version" -- "$cur")
}

complete -F _cvcal cvcal
complete -F _cvadmind cvadmind
