# bash completion for shmpeek: -b in first position, and the names of the
# blocks under /dev/shm where a name can stand.

_shmpeek()
{
    # $2 is the word being completed with its opening quote removed, but
    # not its backslashes: drop those, unless the word is in single quotes,
    # where a backslash is just a backslash.
    local cur= word=$2 option=-b i
    COMPREPLY=()
    if [[ ${COMP_WORDS[COMP_CWORD]} == \'* ]]; then
        cur=$word
    else
        for ((i = 0; i < ${#word}; i++)); do
            [[ ${word:i:1} == \\ ]] && ((i++))
            cur+=${word:i:1}
        done
    fi

    # Only the first argument can be the option; the name stands first, or
    # second after -b. Anything later is ignored by shmpeek.
    if ((COMP_CWORD == 1)); then
        [[ $option == "$cur"* ]] && COMPREPLY+=("$option")
    elif ((COMP_CWORD != 2)) || [[ ${COMP_WORDS[1]} != -b ]]; then
        return 0
    fi

    # A block's name may hold blanks or shell characters: bash quotes each
    # name it inserts, as it does file names, so that it stays one word and
    # nothing in it ever runs.

    # Blocks that can be dumped only: readable regular files that are not
    # empty, not links, directories or FIFOs, which shmpeek refuses. Names
    # that begin with a dot are blocks too.
    local path name globs
    globs=$(shopt -p nullglob dotglob failglob)
    shopt -s nullglob dotglob
    shopt -u failglob
    for path in /dev/shm/*; do
        name=${path#/dev/shm/}
        [[ $name == "$cur"* && -f $path && -s $path && -r $path && ! -L $path ]] && COMPREPLY+=("$name")
    done
    eval "$globs"

    # Bash takes a file name for a directory in the current directory if
    # one is called so, and inserts a '/' behind it: a name shmpeek would
    # not find. Such a name is quoted here instead, as the word is quoted.
    if ((${#COMPREPLY[@]} == 1)) && [[ -d ${COMPREPLY[0]} ]]; then
        compopt +o filenames 2>/dev/null
        name=${COMPREPLY[0]}
        case ${COMP_WORDS[COMP_CWORD]} in
        \'*) COMPREPLY[0]=${name//\'/\'\\\'\'} ;;
        \"*)
            COMPREPLY[0]=
            for ((i = 0; i < ${#name}; i++)); do
                [[ ${name:i:1} == [\\\"\$\`] ]] && COMPREPLY[0]+=\\
                COMPREPLY[0]+=${name:i:1}
            done
            ;;
        *) printf -v 'COMPREPLY[0]' %q "$name" ;;
        esac
        # Bash closes the quote behind the name unless the name's last
        # character already looks like the closing quote.
        local quote=${COMP_WORDS[COMP_CWORD]:0:1}
        [[ $quote == [\'\"] && ${COMPREPLY[0]: -1} == "$quote" ]] && COMPREPLY[0]+=$quote
    fi
    return 0
}
complete -o filenames -F _shmpeek shmpeek
