#!/bin/sh
# Run as root by run.sh's unit in a booted Debian 12 or 13: the cases that hang on the system's
# set-up, on copies of sleep in login sessions of user 1000 (runuser -l) and in units made here.
tolv=/opt/tolv/tolv classes=/opt/tolv/classes.txt cgroups=/sys/fs/cgroup hung='' err=''
# An idle unit's cpu.weight reads 0 under Debian 12's kernel 6.1, 1 under Debian 13's 6.12.
idle=idle/$(($(sed -n 's/^VERSION_ID="\(.*\)"$/\1/p' /etc/os-release) >= 13))/1
printf '/tmp/tolv%s\n' a b c d e f g h i j k l x | xargs -n 1 cp /bin/sleep
as_root() { "$@"; }
as_user() { runuser -u user -- env XDG_RUNTIME_DIR=/run/user/1000 "$@"; }
user_systemctl() { as_user systemctl --user "$@"; }
cgroup_of() { echo "$cgroups$(sed -n 's|^0::||p' "/proc/$1/cgroup")"; }
scheduling() { cut -d' ' -f19,41 "/proc/$1/stat"; }
# The class's nice and policy as scheduling shows them, and its weight as unit shows a unit's.
class_scheduling() { awk -v keyword="$1" '$1 == keyword { print $3, $4 }' "$classes"; }
class_unit() { awk -v keyword="$1" -v idle="$idle" \
    '$1 == keyword { print ($5 == "idle" ? idle : $5 "/" $5 "/0") }' "$classes"; }
# expect RULE GOT WANT: RULE is broken where GOT is not WANT. Right after got=$(COMMAND), whose
# status is COMMAND's, "${got:+$got }exit $?" is what COMMAND printed, then its status.
expect() {
    [ "$2" = "$3" ] || err="$err, $1 (got '$(printf %s "$2" | tr '\n' ' ')', expected '$3')"
}
report() {
    echo "case $1: ${err:-ok}" | sed 's/: , /: FAIL /'
    err=
}
# spawn NAME COMMAND...: COMMAND in the background to start /tmp/NAME, whose number is then $target.
spawn() {
    name=$1 tries=0
    shift
    "$@" </dev/null >/dev/null 2>&1 &
    until target=$(pgrep -x "$name") || [ "$((tries += 1))" -gt 100 ]; do
        sleep 0.3
    done
    [ -n "$target" ] || err="$err, set-up: $name runs"
}
# unit PID SYSTEMCTL: the CPUWeight of the process's unit, its cgroup's cpu.weight and cpu.idle.
unit() {
    cgroup=$(cgroup_of "$1")
    unit_name=${cgroup##*/}
    manager_weight=$("$2" show -p CPUWeight --value "${unit_name#_}" </dev/null)
    echo "$manager_weight/$(cat "$cgroup/cpu.weight" "$cgroup/cpu.idle" 2>/dev/null | paste -sd/)"
}
# apply NAME PID EFFECT SYSTEMCTL RUNNER CLASS...: tolv NAME CLASS for each through RUNNER, stdin
# closed (its files take descriptor 0); the unit "takes" the class's weight or "ignores" it, and
# the autogroup (out of the root cpu group) stays. While $hung names the manager tolv asks, it is
# stopped around tolv: 20 s is far from sd-bus's 90 s hang, far above tolv's 2 s deadline under TCG.
apply() {
    name=$1 pid=$2 effect=$3 manager=$4 runner=$5
    shift 5
    subtree_control=$(cgroup_of "$pid")/../cgroup.subtree_control
    controllers=$(cat "$subtree_control")
    before=$(unit "$pid" "$manager")
    autogroup=$(cat "/proc/$pid/autogroup")
    for class in "$@"; do
        [ -z "$hung" ] || kill -STOP "$hung"
        [ -z "$hung" ] || expect "set-up: the manager is stopped" "$(ps -o state= -p "$hung")" T
        started=$(date +%s%N)
        got=$("$runner" timeout 60 "$tolv" "$name" "$class" 2>&1 <&-)
        expect "$class: tolv is silent and exits 0" "${got:+$got }exit $?" "exit 0"
        ms=$((($(date +%s%N) - started) / 1000000))
        [ -z "$hung" ] || kill -CONT "$hung"
        [ -z "$hung" ] || echo "note tolv $name $class, its manager not answering: $ms ms"
        expect "$class: tolv ends within 20 s" "$((ms < 20000))" 1
        got=$(scheduling "$pid")
        expect "$class: the target takes its nice and policy" "$got" "$(class_scheduling "$class")"
        want=$before
        [ "$effect" = ignores ] || want=$(class_unit "$class")
        expect "$class: the unit $effect the class's weight" "$(unit "$pid" "$manager")" "$want"
        expect "$class: the session's autogroup stays" "$(cat "/proc/$pid/autogroup")" "$autogroup"
    done
    expect "the unit's slice keeps its controllers" "$(cat "$subtree_control")" "$controllers"
}
# Every class, NORMAL last: a unit that ends on it keeps a weight, and its slice the cpu controller.
every_class="$(awk 'NF && !/^#/ && $1 != "NORMAL" { print $1 }' "$classes") NORMAL"

# Two login sessions of the user; the target alone in its scope with the session's runuser.
spawn tolvb runuser -l user -c 'exec /tmp/tolvb 1000'
sibling=$target
sibling_unit=$(unit "$sibling" systemctl)
spawn tolva runuser -l user -c 'exec /tmp/tolva 1000'
apply tolva "$target" takes systemctl as_root $every_class
expect "a sibling session's scope keeps its weight" "$(unit "$sibling" systemctl)" "$sibling_unit"
report session

# A process of the session's that is not of the target's line: the scope is not the target's alone.
spawn tolvc runuser -l user -c '(/tmp/tolvx 1000 &); exec /tmp/tolvc 1000'
apply tolvc "$target" ignores systemctl as_root IDLE HIGH
report foreign-in-session

# The user's own tolv on its own session: the manager refuses, and that is not the user's concern.
got=$(runuser -l user -c '/tmp/tolve 1000 >/dev/null &
until pgrep -x tolve >/dev/null; do
    sleep 0.1
done
/opt/tolv/tolv tolve IDLE 2>&1' </dev/null)
expect "IDLE: the user's tolv is silent and exits 0" "${got:+$got }exit $?" "exit 0"
got=$(scheduling "$(pgrep -x tolve)")
expect "IDLE: the target takes its nice and policy" "$got" "$(class_scheduling IDLE)"
report user-on-own-session

# An app in the user's app.slice, which passes no cpu controller down: the threads only.
spawn tolvd as_user systemd-run --user --scope --unit=tolv-app /tmp/tolvd 1000
apply tolvd "$target" ignores user_systemctl as_root IDLE HIGH NORMAL
report app

# An app given CPUWeight=idle, the manual's way, a weight that tolv gives: it changes.
spawn tolvi as_user systemd-run --user --scope --unit=tolv-idle -p CPUWeight=idle /tmp/tolvi 1000
apply tolvi "$target" takes user_systemctl as_root HIGH NORMAL
report app-idle

# A unit whose cgroup name systemd escaped (cpu.scope lives in _cpu.scope) is found all the same.
spawn tolvj as_user systemd-run --user --scope --unit=cpu -p CPUWeight=100 /tmp/tolvj 1000
expect "set-up: cpu.scope's cgroup is _cpu.scope" "$(basename "$(cgroup_of "$target")")" _cpu.scope
apply tolvj "$target" takes user_systemctl as_root IDLE
report escaped-name

# A service of the user's whose unit has a weight of its own: by the user's own tolv and by root's.
spawn tolvf as_user systemd-run --user --unit=tolv-weighed -p CPUWeight=100 /tmp/tolvf 1000
apply tolvf "$target" takes user_systemctl as_user IDLE
apply tolvf "$target" takes user_systemctl as_root IDLE HIGH NORMAL
report app-with-weight

# A service in system.slice, which passes no cpu controller down: the threads only.
spawn tolvg systemd-run --unit=tolv-service /tmp/tolvg 1000
apply tolvg "$target" ignores systemctl as_root IDLE HIGH NORMAL
report service

# A service whose unit gives it a weight of its own: a weight tolv does not give stays.
spawn tolvh systemd-run --unit=tolv-weight -p CPUWeight=500 /tmp/tolvh 1000
expect "set-up: the unit's CPUWeight=500 holds" "$(unit "$target" systemctl)" 500/500/0
apply tolvh "$target" ignores systemctl as_root IDLE NORMAL BELOW_NORMAL NORMAL
report configured-weight

# A service given the older CPUShares, honoured while no CPUWeight is set: a CPUWeight would win.
spawn tolvl systemd-run --unit=tolv-shares -p CPUShares=512 /tmp/tolvl 1000
expect "set-up: CPUShares=512 is a cpu.weight of 50" "$(unit "$target" systemctl)" "[not set]/50/0"
apply tolvl "$target" ignores systemctl as_root IDLE NORMAL
report configured-shares

# A stopped manager: the user's, which root's tolv asks, and the system bus, which the user's asks.
hung=$(pgrep -u user -x systemd)
apply tolvf "$(pgrep -x tolvf)" ignores user_systemctl as_root IDLE
hung=
report stopped-user-manager
echo 'polkit.addRule(function() { return polkit.Result.YES; });' >/etc/polkit-1/rules.d/tolv.rules
spawn tolvk runuser -l user -c 'exec /tmp/tolvk 1000'
sleep 1
apply tolvk "$target" takes systemctl as_user BELOW_NORMAL
hung=$(pgrep -u messagebus -x dbus-daemon)
apply tolvk "$target" ignores systemctl as_user IDLE
report stopped-bus

# The user's link to a socket of root's in place of its manager's, which a connection would trip.
systemd-run -q --unit=tolv-trap --socket-property=ListenStream=/run/tolv-trap touch /tmp/trapped
as_user mv /run/user/1000/systemd/private /run/user/1000/systemd/private.real
as_user ln -s /run/tolv-trap /run/user/1000/systemd/private
got=$("$tolv" tolvf HIGH 2>&1 <&-)
expect "HIGH: root's tolv is silent and exits 0" "${got:+$got }exit $?" "exit 0"
sleep 1
expect "root's tolv does not follow the user's link to a socket" "$(ls /tmp/trapped 2>/dev/null)" ""
report planted-link

# The targets end here, so that the power-off does not wait for them.
pkill -KILL -x 'tolv[a-z]' || true
