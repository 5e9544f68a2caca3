#!/bin/sh
# A stand-in for systemctl, put first on the PATH by the service tests. It
# answers the verbs the program uses as systemd does and keeps what systemd
# would know in the folder $QM_FAKE_SYSTEMCTL_STATE:
#   calls               every invocation's arguments, one line each
#   <unit>.loaded       the unit was found in the unit folder at the last daemon-reload
#   <unit>.enabled      the unit is enabled for multi-user.target
#   <unit>.active, .sub, .freezer
#                       ActiveState, SubState, FreezerState (inactive, dead, running when absent)
#   start.result, stop.result
#                       "ActiveState SubState" that start or stop leaves
#                       (active running, inactive dead when absent)
#   deny                verbs refused as for a user without rights, one a line ("all": every verb)
# The unit folder is $QUILLMOOR_SYSTEMD_UNIT_DIR.
set -u

state=${QM_FAKE_SYSTEMCTL_STATE:?QM_FAKE_SYSTEMCTL_STATE is not set}
units=${QUILLMOOR_SYSTEMD_UNIT_DIR:?QUILLMOOR_SYSTEMD_UNIT_DIR is not set}

printf '%s\n' "$*" >>"$state/calls"

# Options may come anywhere, as systemctl's own parser allows.
props=
verb=
args=
while [ $# -gt 0 ]; do
    case $1 in
        --no-block | --no-ask-password | --no-pager | --quiet | -q) ;;
        --property=*) props="$props ${1#--property=}" ;;
        -p)
            shift
            props="$props ${1:-}"
            ;;
        -*)
            echo "systemctl: unrecognized option '$1'" >&2
            exit 1
            ;;
        *)
            if [ -z "$verb" ]; then verb=$1; else args="$args $1"; fi
            ;;
    esac
    shift
done
if [ -z "$verb" ]; then
    echo "Too few arguments." >&2
    exit 1
fi
# Unit names hold no blanks, so the list splits back into them.
# shellcheck disable=SC2086
set -- $args

if [ -f "$state/deny" ] && grep -qx -e "$verb" -e all "$state/deny"; then
    echo "Failed to $verb: Access denied" >&2
    exit 1
fi

get() { # unit property default
    if [ -f "$state/$1.$2" ]; then cat "$state/$1.$2"; else printf '%s\n' "$3"; fi
}

set_states() { # unit "ActiveState SubState"
    set -- "$1" $2
    printf '%s\n' "$2" >"$state/$1.active"
    printf '%s\n' "$3" >"$state/$1.sub"
}

case $verb in
    daemon-reload)
        rm -f "$state"/*.loaded
        for f in "$units"/*.service; do
            [ -f "$f" ] && : >"$state/${f##*/}.loaded"
        done
        ;;
    show)
        [ $# -eq 1 ] || { echo "show: one unit expected" >&2; exit 1; }
        u=$1
        if [ -f "$state/$u.loaded" ]; then load=loaded; else load=not-found; fi
        # systemd's own order, whatever the order of the request.
        for p in Id LoadState FreezerState SubState ActiveState; do
            case " $props " in *" $p "*) ;; *) [ -z "$props" ] || continue ;; esac
            case $p in
                Id) echo "Id=$u" ;;
                LoadState) echo "LoadState=$load" ;;
                ActiveState) echo "ActiveState=$(get "$u" active inactive)" ;;
                SubState) echo "SubState=$(get "$u" sub dead)" ;;
                FreezerState) echo "FreezerState=$(get "$u" freezer running)" ;;
            esac
        done
        ;;
    enable | disable)
        [ $# -eq 1 ] || { echo "$verb: one unit expected" >&2; exit 1; }
        u=$1
        if [ ! -f "$units/$u" ]; then
            echo "Failed to $verb unit: Unit file $u does not exist." >&2
            exit 1
        fi
        if [ "$verb" = enable ]; then
            : >"$state/$u.enabled"
            echo "Created symlink /etc/systemd/system/multi-user.target.wants/$u → $units/$u." >&2
        else
            rm -f "$state/$u.enabled"
            echo "Removed \"/etc/systemd/system/multi-user.target.wants/$u\"." >&2
        fi
        ;;
    start)
        [ $# -eq 1 ] || { echo "start: one unit expected" >&2; exit 1; }
        u=$1
        if [ ! -f "$state/$u.loaded" ]; then
            echo "Failed to start $u: Unit $u not found." >&2
            exit 5
        fi
        set_states "$u" "$(get start result 'active running')"
        ;;
    stop)
        [ $# -eq 1 ] || { echo "stop: one unit expected" >&2; exit 1; }
        u=$1
        if [ ! -f "$state/$u.loaded" ] && [ "$(get "$u" active inactive)" = inactive ]; then
            echo "Failed to stop $u: Unit $u not loaded." >&2
            exit 5
        fi
        set_states "$u" "$(get stop result 'inactive dead')"
        ;;
    *)
        echo "Unknown command verb '$verb'." >&2
        exit 1
        ;;
esac
exit 0
