# shellcheck shell=bash
# The two ways a term's images are shared out between machines, GNU parallel
# over ssh and a Slurm job array (docs/discharge_term.md), brought up for
# real on this one machine, so that the recipes are run as a hydrologist
# would run them rather than only read: a one-node Slurm cluster on
# 127.0.0.1 (its own munged, slurmctld and slurmd) and an sshd on 127.0.0.1
# that lets in a key made for the run. Sourced by a test script:
#
#   . tests/cluster_engines.sh
#   trap 'stop_slurm; stop_sshd' EXIT
#   start_slurm "$root" || { echo "SKIP: no Slurm"; exit 77; }
#   sbatch --array=1991-2020 ...
#   start_sshd "$root" || { echo "SKIP: no sshd"; exit 77; }
#   parallel --ssh "$CLUSTER_SSH" -S "2/$CLUSTER_SSH_HOST" ...
#
# start_slurm DIR  keeps everything in DIR/slurm, picks free ports, exports
#                  SLURM_CONF and returns once the node is idle.
# start_sshd DIR   keeps everything in DIR/ssh and exports CLUSTER_SSH (the
#                  command for parallel's --ssh) and CLUSTER_SSH_HOST.
# stop_slurm, stop_sshd  end the daemons by their pid files; safe to call
#                  twice, or after a start that failed half-way.
#
# A start that fails says why in one line on stderr, ends what it started
# and returns 1, so the caller can skip. What is running is known to this
# shell only: start and stop in the test's own shell, not in a pipe or a
# $(...), and trap the stops on EXIT. Nothing is written outside DIR but
# /run/sshd, which sshd needs when run by root (made only if missing).
# Needs munge, slurmctld, slurmd, slurm-client, openssh-server,
# openssh-client and /usr/bin/python3 (for the free ports).

_ce_slurm=${_ce_slurm:-}  # DIR/slurm of the running cluster, empty when none
_ce_ssh=${_ce_ssh:-}      # DIR/ssh of the running sshd, empty when none

# N free TCP ports on 127.0.0.1, one a line, all different.
_ce_free_ports() {
    /usr/bin/python3 - "$1" 2>/dev/null <<'EOF'
import socket, sys
held = []
for _ in range(int(sys.argv[1])):
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    held.append(s)
print("\n".join(str(s.getsockname()[1]) for s in held))
EOF
}

# Prints "FUNCTION: WHY" on stderr, with ": " and the last line of log file
# $3 if given (the first with "first" as $4), returns 1.
_ce_fail() {
    echo "$1: $2${3:+: $(_ce_last_line "$3" "${4:-}")}" >&2
    return 1
}

# Last line of log file $1 (first with "first" as $2), or "no log".
_ce_last_line() {
    local line=
    if [ -s "$1" ]; then
        line=$(if [ "${2:-}" = first ]; then head -n 1 "$1"; else tail -n 1 "$1"; fi) || line=
    fi
    echo "${line:-no log}"
}

# Tries the command that follows every 0.1 s until it succeeds, for up to
# $1 seconds.
_ce_wait_for() {
    local end=$((SECONDS + $1))
    shift
    until "$@" </dev/null >/dev/null 2>&1; do
        [ "$SECONDS" -lt "$end" ] || return 1
        sleep 0.1
    done
}

# The pid in pid file $1, if its process is still program $2; the file goes.
_ce_pid_of() {
    local pid
    pid=$(cat "$1" 2>/dev/null) || return 1
    rm -f "$1"
    case $pid in '' | *[!0-9]*) return 1 ;; esac
    [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = "$2" ] && echo "$pid"
}

# Ends the given processes: TERM, up to 10 s, then KILL.
_ce_end() {
    [ $# -gt 0 ] || return 0
    kill -TERM "$@" 2>/dev/null || true
    _ce_wait_for 10 _ce_gone "$@" && return 0
    kill -KILL "$@" 2>/dev/null || true
    _ce_wait_for 2 _ce_gone "$@" || true
}

# Pid $1 and those of all its descendants, the descendants first.
_ce_tree() {
    local child
    for child in $(pgrep -P "$1"); do
        _ce_tree "$child"
    done
    echo "$1"
}

_ce_gone() {
    local pid
    for pid; do
        ! kill -0 "$pid" 2>/dev/null || return 1
    done
}

# CPUs= and RealMemory= of the node: this machine's, 2 CPUs and 2000 MB at
# most (a node that claims more than it has is drained).
_ce_node_size() {
    local cpus mb
    cpus=$(nproc 2>/dev/null) || cpus=1
    mb=$(awk '/^MemTotal:/ { print int($2 / 1024) }' /proc/meminfo 2>/dev/null) || mb=
    echo "CPUs=$((cpus < 2 ? cpus : 2)) RealMemory=$((${mb:-2000} < 2000 ? ${mb:-2000} : 2000))"
}

# slurm.conf; batch_sched_delay=0 starts each job as soon as it may, not up
# to 3 s later.
_ce_slurm_conf() {
    local d=$1 ctld_port=$2 slurmd_port=$3
    cat <<EOF
ClusterName=test
SlurmctldHost=localhost
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket=$d/munge/munge.socket
CredType=cred/munge
StateSaveLocation=$d/state
SlurmdSpoolDir=$d/spool
SlurmctldPidFile=$d/slurmctld.pid
SlurmdPidFile=$d/slurmd.pid
SlurmctldPort=$ctld_port
SlurmdPort=$slurmd_port
SlurmctldLogFile=$d/slurmctld.log
SlurmdLogFile=$d/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
ReturnToService=2
MpiDefault=none
SwitchType=switch/none
SchedulerParameters=batch_sched_delay=0
MailProg=/bin/true
NodeName=localhost NodeAddr=127.0.0.1 $(_ce_node_size) State=UNKNOWN
PartitionName=debug Nodes=localhost Default=YES MaxTime=INFINITE State=UP
EOF
}

_ce_start_munged() {
    local m=$1/munge
    mkdir -p "$m" && chmod 711 "$m" && rm -f "$m/munge.key" || return 1
    dd if=/dev/urandom of="$m/munge.key" bs=1024 count=1 status=none &&
        chmod 400 "$m/munge.key" || return 1
    munged -f --key-file="$m/munge.key" --socket="$m/munge.socket" \
        --pid-file="$m/munged.pid" --log-file="$m/munged.log" \
        --seed-file="$m/munged.seed" </dev/null >/dev/null 2>>"$m/munged.log" &&
        _ce_wait_for 5 _ce_munge_works "$m/munge.socket"
}

_ce_munge_works() {
    munge -n -S "$1" | unmunge -S "$1"
}

# Cancels the jobs left and waits up to 10 s for them to go.
_ce_cancel_all() {
    timeout 10 scancel --full --quiet --user="$(id -un)" >/dev/null 2>&1 || true
    _ce_wait_for 10 _ce_queue_empty || true
}

_ce_queue_empty() {
    [ -z "$(squeue -h -o %i 2>/dev/null)" ]
}

_ce_node_idle() {
    [ "$(sinfo -h -o %T 2>/dev/null)" = idle ]
}

# Lets a node that came up down or drained back in, then waits for idle.
_ce_wait_idle() {
    for _ in 1 2 3 4 5 6; do
        _ce_wait_for 5 _ce_node_idle && return 0
        case $(sinfo -h -o %T 2>/dev/null) in
        down* | drain* | fail*)
            scontrol update nodename=localhost state=resume >/dev/null 2>&1 || true ;;
        esac
    done
    return 1
}

_ce_start_slurm_daemons() {
    local d=$1
    slurmctld -i </dev/null >/dev/null 2>>"$d/slurmctld.log" ||
        { _ce_fail start_slurm "slurmctld did not start" "$d/slurmctld.log"; return 1; }
    _ce_wait_for 10 scontrol ping ||
        { _ce_fail start_slurm "slurmctld does not answer" "$d/slurmctld.log"; return 1; }
    slurmd -N localhost </dev/null >/dev/null 2>>"$d/slurmd.log" ||
        { _ce_fail start_slurm "slurmd did not start" "$d/slurmd.log"; return 1; }
    _ce_wait_idle ||
        { _ce_fail start_slurm "node not idle after 30 s" "$d/slurmd.log"; return 1; }
}

start_slurm() {
    local d ports tool
    [ "$(id -u)" = 0 ] || { _ce_fail start_slurm "not root"; return 1; }
    for tool in munged munge unmunge slurmctld slurmd sinfo scontrol squeue scancel; do
        command -v "$tool" >/dev/null || { _ce_fail start_slurm "no $tool"; return 1; }
    done
    ports=$(_ce_free_ports 2) || ports=
    [ -n "$ports" ] || { _ce_fail start_slurm "no loopback"; return 1; }
    stop_slurm
    d=$1/slurm
    mkdir -p "$d/state" "$d/spool" || { _ce_fail start_slurm "cannot make $d"; return 1; }
    _ce_slurm=$d
    _ce_start_munged "$d" ||
        { _ce_fail start_slurm "munged did not start" "$d/munge/munged.log"; stop_slurm; return 1; }
    # shellcheck disable=SC2086 # the two ports, one a line
    _ce_slurm_conf "$d" $ports >"$d/slurm.conf" ||
        { _ce_fail start_slurm "cannot write $d/slurm.conf"; stop_slurm; return 1; }
    export SLURM_CONF=$d/slurm.conf
    _ce_start_slurm_daemons "$d" || { stop_slurm; return 1; }
}

stop_slurm() {
    local d=${_ce_slurm:-}
    [ -n "$d" ] || return 0
    if [ -f "$d/slurmctld.pid" ] && [ -f "$d/slurmd.pid" ]; then
        SLURM_CONF=$d/slurm.conf _ce_cancel_all
    fi
    # shellcheck disable=SC2046 # a pid or nothing each
    _ce_end $(_ce_pid_of "$d/slurmd.pid" slurmd) \
        $(_ce_pid_of "$d/slurmctld.pid" slurmctld) \
        $(_ce_pid_of "$d/munge/munged.pid" munged)
    _ce_slurm=
}

_ce_ssh_keys() {
    local s=$1
    rm -f "$s/host_key" "$s/host_key.pub" "$s/client_key" "$s/client_key.pub"
    ssh-keygen -q -t ed25519 -N '' -C cluster-engines-host -f "$s/host_key" &&
        ssh-keygen -q -t ed25519 -N '' -C cluster-engines-client -f "$s/client_key" &&
        cp "$s/client_key.pub" "$s/authorized_keys"
}

_ce_sshd_config() {
    local s=$1 port=$2
    cat <<EOF
ListenAddress 127.0.0.1
Port $port
HostKey $s/host_key
AuthorizedKeysFile $s/authorized_keys
PubkeyAuthentication yes
PasswordAuthentication no
KbdInteractiveAuthentication no
PermitRootLogin prohibit-password
PidFile $s/sshd.pid
StrictModes no
UsePAM no
PrintMotd no
PrintLastLog no
EOF
}

# The client's own configuration (-F): the system's and ~/.ssh's are not read
# and ~/.ssh is not made.
_ce_ssh_config() {
    local s=$1 port=$2
    cat <<EOF
Host *
    HostName 127.0.0.1
    Port $port
    IdentityFile $s/client_key
    IdentitiesOnly yes
    StrictHostKeyChecking no
    UserKnownHostsFile /dev/null
    BatchMode yes
    LogLevel ERROR
    ConnectTimeout 5
EOF
}

_ce_ssh_configs() {
    _ce_sshd_config "$1" "$2" >"$1/sshd_config" && _ce_ssh_config "$1" "$2" >"$1/ssh_config"
}

_ce_run_sshd() {
    local s=$1
    if [ "$(id -u)" = 0 ] && [ ! -d /run/sshd ]; then
        mkdir -m 755 /run/sshd || { _ce_fail start_sshd "cannot make /run/sshd"; return 1; }
    fi
    /usr/sbin/sshd -t -f "$s/sshd_config" 2>"$s/sshd.log" ||
        { _ce_fail start_sshd "bad sshd_config" "$s/sshd.log" first; return 1; }
    /usr/sbin/sshd -f "$s/sshd_config" -E "$s/sshd.log" </dev/null >/dev/null 2>&1 ||
        { _ce_fail start_sshd "sshd did not start" "$s/sshd.log"; return 1; }
    # shellcheck disable=SC2086 # CLUSTER_SSH is a command line
    _ce_wait_for 10 $CLUSTER_SSH "$CLUSTER_SSH_HOST" true ||
        { _ce_fail start_sshd "ssh to 127.0.0.1 fails" "$s/sshd.log"; return 1; }
}

start_sshd() {
    local s port tool
    for tool in /usr/sbin/sshd ssh ssh-keygen; do
        command -v "$tool" >/dev/null || { _ce_fail start_sshd "no $tool"; return 1; }
    done
    port=$(_ce_free_ports 1) || port=
    [ -n "$port" ] || { _ce_fail start_sshd "no loopback"; return 1; }
    stop_sshd
    s=$1/ssh
    mkdir -p "$s" || { _ce_fail start_sshd "cannot make $s"; return 1; }
    _ce_ssh=$s
    _ce_ssh_keys "$s" || { _ce_fail start_sshd "ssh-keygen failed"; stop_sshd; return 1; }
    _ce_ssh_configs "$s" "$port" ||
        { _ce_fail start_sshd "cannot write to $s"; stop_sshd; return 1; }
    export CLUSTER_SSH="ssh -F $s/ssh_config"
    CLUSTER_SSH_HOST=$(id -un)@127.0.0.1
    export CLUSTER_SSH_HOST
    _ce_run_sshd "$s" || { stop_sshd; return 1; }
}

stop_sshd() {
    local pid
    [ -n "${_ce_ssh:-}" ] || return 0
    # shellcheck disable=SC2046 # the pids of sshd and of its sessions
    pid=$(_ce_pid_of "$_ce_ssh/sshd.pid" sshd) && _ce_end $(_ce_tree "$pid")
    _ce_ssh=
}
