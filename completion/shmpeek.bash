# bash completion for shmpeek: -b in first position, and the names of the
# blocks under /dev/shm where a name can stand.

_shmpeek()
{
    local cur=${COMP_WORDS[COMP_CWORD]} option=-b
    COMPREPLY=()

    # Only the first argument can be the option; the name stands first, or
    # second after -b. Anything later is ignored by shmpeek.
    if ((COMP_CWORD == 1)); then
        [[ $option == "$cur"* ]] && COMPREPLY+=("$option")
    elif ((COMP_CWORD != 2)) || [[ ${COMP_WORDS[1]} != -b ]]; then
        return 0
    fi

    # Blocks only: regular files that can be read, not links, directories
    # or FIFOs, which shmpeek refuses.
    local path name
    for path in /dev/shm/*; do
        name=${path#/dev/shm/}
        [[ $name == "$cur"* && -f $path && -r $path && ! -L $path ]] && COMPREPLY+=("$name")
    done
    return 0
}
complete -F _shmpeek shmpeek
