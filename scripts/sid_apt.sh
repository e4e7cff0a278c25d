# Private apt configuration for Debian unstable ("sid"): package indexes and
# downloads live in a folder of the project's, and the system's apt state is
# never read or changed. Sourced by the scripts that fetch packages.

sid_apt_dir=""

sid_apt_options() {
    echo -o Dir::Etc::SourceList=/dev/null \
        -o "Dir::Etc::SourceParts=$sid_apt_dir/sources" \
        -o "Dir::State::Lists=$sid_apt_dir/lists" \
        -o "Dir::Cache=$sid_apt_dir/cache" \
        -o Dir::State::status=/dev/null \
        -o Debug::NoLocking=1 \
        -o APT::Sandbox::User=root
}

sid_apt_get() {
    # shellcheck disable=SC2046
    apt-get $(sid_apt_options) "$@"
}

sid_apt_cache() {
    # shellcheck disable=SC2046
    apt-cache $(sid_apt_options) "$@"
}

# sid_apt_update FOLDER: prepares FOLDER and fetches sid's index once a day.
sid_apt_update() {
    sid_apt_dir="$(mkdir -p "$1" && cd "$1" && pwd)"
    mkdir -p "$sid_apt_dir/sources" "$sid_apt_dir/lists/partial" "$sid_apt_dir/cache/archives/partial"
    cat >"$sid_apt_dir/sources/sid.sources" <<SOURCES
Types: deb
URIs: http://deb.debian.org/debian
Suites: sid
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
    local stamp="$sid_apt_dir/lists/.updated"
    if [[ ! -f "$stamp" ]] || [[ -n "$(find "$stamp" -mmin +1440)" ]]; then
        sid_apt_get update >/dev/null 2>&1 || sid_apt_get update >&2
        touch "$stamp"
    fi
}
