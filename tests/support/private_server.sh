#!/usr/bin/env bash
# A private Firebird server for tests: its own root folder, its own security database in
# which SYSDBA has the password in KESTRIX_SERVER_PASSWORD (given through the environment,
# not on a command line), listening on 127.0.0.1 only.
#   private_server.sh start ROOT PORT   prepares ROOT, starts the server, waits for the port
#   private_server.sh stop ROOT         stops it
#   private_server.sh engine ROOT       prepares ROOT for an embedded engine of its own
set -euo pipefail
cmd=$1 root=$2
lib=/usr/lib/x86_64-linux-gnu/firebird/3.0
[ -d "$lib" ] || lib=$(dirname "$(dpkg -L libfbclient2 | grep '/firebird.msg$' | head -n1)")

# The engine's root folder without its configuration: character sets, plugins, messages.
engine_root() {
    mkdir -p "$root/intl" "$root/lock"
    # The engine refuses a linked character-set library: a real copy.
    cp "$lib/intl/libfbintl.so" "$root/intl/"
    cp /etc/firebird/3.0/fbintl.conf "$root/intl/"
    ln -sfn "$lib/plugins" "$root/plugins"
    ln -sf "$lib/firebird.msg" "$root/firebird.msg"
    cp /etc/firebird/3.0/plugins.conf "$root/plugins.conf"
}

case "$cmd" in
engine)
    # A root for a program's own embedded engine (FIREBIRD=ROOT), configured by ROOT/firebird.conf.
    engine_root
    ;;
start)
    port=$3
    engine_root
    cat > "$root/firebird.conf" <<CONF
RemoteBindAddress = 127.0.0.1
RemoteServicePort = $port
ServerMode = Super
SecurityDatabase = $root/security3.fdb
CONF
    cat > "$root/databases.conf" <<CONF
security.db = $root/security3.fdb
CONF
    # File names are UTF-8: the server takes the names it is sent as UTF-8 only in such a locale.
    export FIREBIRD="$root" FIREBIRD_LOCK="$root/lock" LC_ALL=C.UTF-8
    echo "create database '$root/security3.fdb';" | isql-fb -q
    isql-fb -q -user SYSDBA -i /usr/share/firebird/3.0/security.sql "$root/security3.fdb"
    password=${KESTRIX_SERVER_PASSWORD:?the SYSDBA password}
    echo "CREATE OR ALTER USER SYSDBA PASSWORD '$password' USING PLUGIN Srp; COMMIT;" |
        isql-fb -q -user SYSDBA "$root/security3.fdb"
    nohup /usr/sbin/firebird >"$root/server.log" 2>&1 &
    echo $! >"$root/server.pid"
    for _ in $(seq 100); do
        if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then exit 0; fi
        sleep 0.1
    done
    echo "private server did not listen on $port" >&2
    cat "$root/server.log" >&2
    exit 1
    ;;
stop)
    if [ -f "$root/server.pid" ]; then
        pid=$(cat "$root/server.pid")
        kill "$pid" 2>/dev/null || true
        for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || exit 0; sleep 0.1; done
        kill -9 "$pid" 2>/dev/null || true
    fi
    ;;
esac
