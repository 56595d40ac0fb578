# What scripts/benchmark.sh and scripts/benchmark-msi.sh share; sourced from the
# repository root, with $bench (build/bench) and $bench_name (for messages) set.

if command -v ccache >/dev/null 2>&1; then # the trees share what they compile alike
    export CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache \
        CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(dirname "$PWD")} CCACHE_NOHASHDIR=1
fi
mkdir -p "$bench"

fail() {
    printf '%s: %s\n' "$bench_name" "$*" >&2
    exit 1
}

# Builds targets of the windows preset in a source tree, its output in a log file.
# (sh has no local variables: these names are the function's own.)
build_tree() { # SOURCE LOG TARGET...
    build_source=$1
    build_log=$2
    shift 2
    if ! (cd "$build_source" && { [ -f build/windows/build.ninja ] || cmake --preset windows; } &&
        cmake --build --preset windows --target "$@") >"$build_log" 2>&1; then
        tail -20 "$build_log" >&2
        fail "the build in $build_source failed (see $build_log)"
    fi
}

# The full hash of a commit name.
commit_of() { git rev-parse --verify --quiet "$1^{commit}" || fail "no commit $1"; }

# Unpacks a commit into FOLDER (git archive) unless it is there already; true when it
# unpacked it now.
unpack_commit() { # SHA FOLDER
    [ -f "$2/CMakeLists.txt" ] && return 1
    rm -rf "$2"
    mkdir -p "$2"
    git archive "$1" | tar -x -C "$2"
}

median() { # reads numbers, one a line
    sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) exit 1;
        if (NR % 2) printf "%.4f", v[(NR + 1) / 2]; else printf "%.4f", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# A Wine prefix of the run's own in FOLDER, removed when the script ends; exports
# WINEPREFIX, WINEDEBUG and DISPLAY for it.
wine_prefix_up() { # FOLDER
    echo "Creating the Wine prefix (${1#"$PWD"/})..."
    # Tried twice: a Wine process of an earlier run may still be ending in the old prefix.
    sh scripts/wine-env.sh setup "$1" >"$1.log" 2>&1 ||
        { sleep 5 && sh scripts/wine-env.sh setup "$1" >"$1.log" 2>&1; } ||
        fail "no Wine prefix (see $1.log)"
    wine_folder=$1
    trap 'sh scripts/wine-env.sh cleanup "$wine_folder" >/dev/null 2>&1 || true' EXIT
    trap 'exit 1' INT TERM
    export WINEPREFIX=$1/prefix WINEDEBUG=-all
    if [ -f "$1/display" ]; then
        DISPLAY=$(cat "$1/display")
        export DISPLAY
    fi
}
