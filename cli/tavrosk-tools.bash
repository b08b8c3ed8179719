# Bash completion for the batch tools, tavrosk-warp and tavrosk-morph, and for
# the pair editor tavrosk-edit: each tool's options as its --help lists them,
# the words of --format, the levels of --png-compression, --outside's names,
# --depth's 8, .flo files after
# --field, and file names for the file arguments. It needs only bash itself,
# not the bash-completion package's helpers. Installed once under each tool's name,
# since bash-completion loads a completion by the name of its command.

# _tavrosk_options TOOL: sets short_options, long_options ("--name=" where
# the option takes a value) and value_options ("--name" and "-x" followed by
# the value's name, e.g. "--field FILE") from the lines of TOOL --help that
# name an option, so the completion lists what the tool itself takes. Read
# once per tool name and kept for the shell's life.
_tavrosk_options()
{
    local key=${1//[^A-Za-z0-9]/_}
    local cached=_tavrosk_cache_$key
    if [[ -z ${!cached+x} ]]; then
        local line short long value shorts= longs= values=
        while IFS= read -r line; do
            [[ $line =~ ^\ +(-[A-Za-z])?(,\ )?(--[a-z-]+)?(\ ([A-Z][A-Z-]*))?(\ |$) ]] || continue
            short=${BASH_REMATCH[1]} long=${BASH_REMATCH[3]} value=${BASH_REMATCH[5]}
            [[ -n $short$long ]] || continue
            [[ -n $short ]] && shorts+=" $short"
            [[ -n $long ]] && longs+=" $long${value:+=}"
            if [[ -n $value ]]; then
                [[ -n $short ]] && values+=" $short:$value"
                [[ -n $long ]] && values+=" $long:$value"
            fi
        done < <(command "$1" --help 2>/dev/null)
        printf -v "$cached" '%s|%s|%s' "$shorts" "$longs" "$values"
    fi
    IFS='|' read -r short_options long_options value_options <<<"${!cached}"
}

_tavrosk_batch()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev= prefix= i
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    local short_options long_options value_options
    _tavrosk_options "${COMP_WORDS[0]}"

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

    # Does an option before the current word take it as its value? Its
    # value's name in the help says what kind: a format, a file (a .flo one
    # for --field), or a number or word that no list can offer.
    local takes_value= option
    for option in $value_options; do
        [[ ${option%%:*} == "$prev" ]] || continue
        case $prev:${option#*:} in
        --field:FILE) takes_value=flo ;;
        *:FILE) takes_value=file ;;
        -f:F | --format:F) takes_value=format ;;
        --png-compression:*) takes_value=level ;;
        --outside:COLOUR) takes_value=colour ;;
        --depth:BITS) takes_value=depth ;;
        *) takes_value=number ;;
        esac
    done

    case $takes_value in
    number)
        COMPREPLY=()
        return
        ;;
    format)
        COMPREPLY=($(compgen -P "$prefix" -W 'bmp png jpeg tiff webp heif avif' -- "$cur"))
        return
        ;;
    level)
        COMPREPLY=($(compgen -P "$prefix" -W '0 1 2 3 4 5 6 7 8 9' -- "$cur"))
        return
        ;;
    colour)
        COMPREPLY=($(compgen -P "$prefix" -W 'transparent none black white grey gray red green lime blue yellow
            cyan magenta' -- "$cur"))
        return
        ;;
    depth)
        COMPREPLY=($(compgen -P "$prefix" -W '8' -- "$cur"))
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
