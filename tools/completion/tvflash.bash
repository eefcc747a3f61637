# Bash completion for tvflash, tvflash-sim and tvflash-fleet. Installed under each program's name
# in share/bash-completion/completions, where bash-completion finds it; or source it in ~/.bashrc.

_tvflash_commands="version getconfig erase erasesys eraseuser erasereserve eraseregistry erasedisk
    updatesys updatereserve updaterom formatdisk cyclic_version"
_tvflash_image_commands="updatesys updatereserve updaterom formatdisk"

# The options, one a line, each with what its value is: none, file, dir, step (a tvflash command),
# text (nothing to offer) or the words it takes.
_tvflash_sim_options=(
    "--bind:text"
    "--port:text"
    "--board-type:text"
    "--version-text:text"
    "--flash-size:text"
    "--loss-in:text"
    "--loss-out:text"
    "--nack-rate:text"
    "--boards:text"
    "--slow-erase:text"
    "--slow-update:text"
    "--updating-flash:none"
    "--silent:none"
    "--hostile:none"
    "--seed:text"
    "--dup-in:text"
    "--dup-out:text"
    "--reorder:text"
    "--delay:text"
    "--jitter:text"
    "--blind:none"
    "--write-dir:dir"
    "--verbose:none"
    "--pcap:file"
    "-h:none"
    "--help:none"
    "--version:none"
)
_tvflash_fleet_options=(
    "-e:step"
    "--step:step"
    "-j:text"
    "--jobs:text"
    "--answer:yes no"
    "--logs:dir"
    "--watch:none"
    "--gone:text"
    "--tool:file"
    "--station:text"
    "--operator:text"
    "--json:none"
    "--retries:text"
    "--db:file"
    "--share:text"
    "--since:text"
    "--target:text"
    "--format:table csv json"
    "--push:none"
    "--serve:text"
    "-h:none"
    "--help:none"
    "--version:none"
)

# Sets COMPREPLY to the words of $1 that begin with $2.
_tvflash_words() {
    mapfile -t COMPREPLY < <(compgen -W "$1" -- "$2")
}

# Sets COMPREPLY to the files (or, with -d, the folders) that begin with $2, after the prefix $3.
_tvflash_paths() {
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen "$1" -- "$2")
    [ -z "${3:-}" ] || COMPREPLY=("${COMPREPLY[@]/#/$3}")
}

# The kind of value of option $1 in the table named $2; empty when $1 is none of its options.
_tvflash_value_kind() {
    local -n table=$2
    local entry
    for entry in "${table[@]}"; do
        [ "${entry%%:*}" != "$1" ] || { printf '%s\n' "${entry#*:}"; return; }
    done
}

# Completes after an option of table $1 ($2 the previous word, $3 the current one); false when $2
# takes no value.
_tvflash_option_value() {
    local kind
    kind=$(_tvflash_value_kind "$2" "$1")
    case $kind in
    "" | none) return 1 ;;
    file) _tvflash_paths -f "$3" ;;
    dir) _tvflash_paths -d "$3" ;;
    step) _tvflash_words "$_tvflash_commands" "$3" ;;
    text) COMPREPLY=() ;;
    *) _tvflash_words "$kind" "$3" ;;
    esac
}

# Every option name of table $1.
_tvflash_option_names() {
    local -n table=$1
    local entry
    for entry in "${table[@]}"; do printf '%s\n' "${entry%%:*}"; done
}

# tvflash HOSTNAME PORT COMMAND [FILENAME]
_tvflash() {
    local cur=${COMP_WORDS[COMP_CWORD]}
    COMPREPLY=()
    if [ "$COMP_CWORD" -eq 3 ]; then
        _tvflash_words "$_tvflash_commands" "${cur,,}"
    elif [ "$COMP_CWORD" -eq 4 ] && [[ " $_tvflash_image_commands " == *" ${COMP_WORDS[3],,} "* ]]; then
        _tvflash_paths -f "$cur"
    fi
}

_tvflash_sim() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()
    _tvflash_option_value _tvflash_sim_options "$prev" "$cur" ||
        _tvflash_words "$(_tvflash_option_names _tvflash_sim_options)" "$cur"
}

# tvflash-fleet run|check [options] RECIPE TARGET...; records [options]; serve [--db FILE]
# [ADDRESS:]PORT; scan ADDRESS/BITS PORT
_tvflash_fleet() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()
    if [ "$COMP_CWORD" -eq 1 ]; then
        _tvflash_words "run check scan records serve help --help --version" "$cur"
        return
    fi
    case ${COMP_WORDS[1]} in run | check | records | serve) ;; *) return ;; esac
    if _tvflash_option_value _tvflash_fleet_options "$prev" "$cur"; then
        return
    elif [[ $cur == -* ]]; then
        _tvflash_words "$(_tvflash_option_names _tvflash_fleet_options)" "$cur"
    elif [ "${COMP_WORDS[1]}" = records ] || [ "${COMP_WORDS[1]}" = serve ]; then
        return
    elif [[ $cur == @* ]]; then
        _tvflash_paths -f "${cur#@}" @
    else
        _tvflash_paths -f "$cur"
    fi
}

complete -F _tvflash tvflash
complete -F _tvflash_sim tvflash-sim
complete -F _tvflash_fleet tvflash-fleet
