# A private PulseAudio server for tests and the demo: its own runtime folder, a null sink
# "air" at 48000 Hz whose monitor records what is played into it, and nothing of the user's.
# Source this file, then:
#   start_private_pulse DIR    starts it with its files under DIR; exports XDG_RUNTIME_DIR,
#                              PULSE_SERVER and HOME for the programs started after it
#   stop_private_pulse         stops the server this shell started (by its pid), nothing else
# It runs as root too (--exit-idle-time=-1 keeps it up while nobody plays).

private_pulse_pid=

start_private_pulse() {
    local dir=$1
    mkdir -p "$dir/run" "$dir/home"
    chmod 700 "$dir/run"
    export XDG_RUNTIME_DIR=$dir/run HOME=$dir/home
    export PULSE_SERVER=unix:$dir/run/pulse/native
    pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit --use-pid-file=no \
        -L module-native-protocol-unix -L "module-null-sink sink_name=air rate=48000" \
        -L module-always-sink --log-target=stderr >>"$dir/pulse.log" 2>&1 &
    private_pulse_pid=$!
    local deadline=$((SECONDS + 10))
    until pactl info >/dev/null 2>&1; do
        if [ "$SECONDS" -ge "$deadline" ] || ! kill -0 "$private_pulse_pid" 2>/dev/null; then
            echo "the private PulseAudio server did not start:" >&2
            cat "$dir/pulse.log" >&2
            return 1
        fi
        sleep 0.1
    done
    pactl set-default-sink air
    pactl set-default-source air.monitor
}

stop_private_pulse() {
    if [ -n "$private_pulse_pid" ]; then
        kill "$private_pulse_pid" 2>/dev/null || true
        wait "$private_pulse_pid" 2>/dev/null || true
    fi
    private_pulse_pid=
}
