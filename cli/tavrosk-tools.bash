# Bash completion for the batch tools, tavrosk-warp and tavrosk-morph, and for
# the pair editor tavrosk-edit: each tool's options, the words of --format, .flo files after --field, and file
# names for the file arguments. It needs only bash itself, not the
# bash-completion package's helpers. Installed once under each tool's name,
# since bash-completion loads a completion by the name of its command.

_tavrosk_batch()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev= prefix= i
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    local long_options short_options='-p -a -b -t -f -Q -q -h'
    case ${COMP_WORDS[0]##*/} in
    tavrosk-morph)
        long_options='--frames= --range= --threads= --reference --format= --quality= --no-auto-orient --strip --quiet
            --help --version' ;;
    tavrosk-edit)
        long_options='--threads= --help --version'
        short_options='-p -a -b -t -h' ;;
    *)
        long_options='--threads= --reference --format= --quality= --folds= --field= --no-auto-orient --strip --quiet
            --help --version' ;;
    esac

    # "--format=p": bash splits it at "=" when "=" breaks words (its
    # default), else it arrives whole and the answers must keep "--format=".
    if [[ $cur == = ]]; then
        cur=
    elif [[ $prev == = ]] && ((COMP_CWORD > 1)); then
        prev=${COMP_WORDS[COMP_CWORD - 2]}
    elif [[ $cur == --*=* ]]; then
        prev=${cur%%=*}
        prefix=$prev=
        cur=${cur#*=}
    fi

    # A long option may be cut short while it stays unambiguous.
    if [[ $prev == --?* ]]; then
        local match= count=0 option
        for option in $long_options; do
            option=${option%=}
            if [[ $option == "$prev"* ]]; then
                match=$option
                count=$((count + 1))
            fi
        done
        ((count == 1)) && prev=$match
    fi

    # Does an option before the current word take it as its value?
    local takes_value=
    case $prev in
    -p | -a | -b | -t | --threads | -Q | --quality | --frames | --range) takes_value=number ;;
    -f | --format) takes_value=format ;;
    --folds) takes_value=file ;;
    --field) takes_value=flo ;;
    esac

    case $takes_value in
    number)
        COMPREPLY=()
        return
        ;;
    format)
        COMPREPLY=($(compgen -P "$prefix" -W 'bmp png jpeg tiff webp heif avif' -- "$cur"))
        return
        ;;
    flo)
        compopt -o filenames 2>/dev/null
        COMPREPLY=($(compgen -P "$prefix" -d -- "$cur")
            $(compgen -P "$prefix" -f -X '!*.flo' -- "$cur"))
        return
        ;;
    file)
        compopt -o filenames 2>/dev/null
        COMPREPLY=($(compgen -P "$prefix" -f -- "$cur"))
        return
        ;;
    esac

    # After "--" every word is a file name.
    local options_done=
    for ((i = 1; i < COMP_CWORD; i++)); do
        [[ ${COMP_WORDS[i]} == -- ]] && options_done=1
    done
    if [[ -z $options_done && $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$short_options $long_options" -- "$cur"))
        # No space after an option that wants its value joined by "=".
        [[ ${#COMPREPLY[@]} -eq 1 && ${COMPREPLY[0]} == *= ]] && compopt -o nospace 2>/dev/null
        return
    fi
    compopt -o filenames 2>/dev/null
    COMPREPLY=($(compgen -f -- "$cur"))
}
complete -F _tavrosk_batch tavrosk-warp tavrosk-morph tavrosk-edit
