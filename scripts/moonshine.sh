#!/usr/bin/env bash
# Fetches what the Moonshine speech engine needs from the npm registry: the ONNX
# Runtime library, its C++ headers, the tiny and base English models and the token
# vocabulary. Each package is pinned to a version and to the registry's integrity
# hash, fetched with `npm pack` (the tarball alone, none of its dependencies) and
# only the needed files are unpacked into a versioned folder of the user's cache,
# so nothing of it lives in the repository and a second run downloads nothing.
#
# Prints the cache folder. Fails (exit 1) when a package cannot be had; the build
# then goes on with pocketsphinx alone.
set -euo pipefail

cache="${WISPEN_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/wispen-rezuraz}"
tarballs="$cache/npm"
mkdir -p "$tarballs"

# name@version, registry integrity, folder, files to take (tar patterns), where they go
runtime=(onnxruntime-node@1.31.1
    sha512-ijnSghbDHVWaQ2nDPmVccPlCHI8kH1Mx1aJ4a/qzRP16bBcVs4E3EqZQKZCkhWnbqN1tuQWxagimFtDpbPYYQw==
    onnxruntime-1.31.1 package/bin/napi-v6/linux/x64/libonnxruntime.so.1)
# The lightest npm package found that carries the C and C++ API headers (a Unity
# plugin; its iOS framework's copy is taken). The C API is versioned, so headers
# older than the runtime work with it.
headers=(com.github.asus4.onnxruntime@0.4.9
    sha512-BkzxduSZ9IkeDP6Q8lz2TFU2ie7hSSvS7ZIfzMooExoq0CNzJnuuGaUJ7IsojBgqO4ouD1jXah8OYyJbCN29Fg==
    onnxruntime-headers-0.4.9
    'package/Plugins/iOS~/onnxruntime.xcframework/ios-arm64/onnxruntime.framework/Headers/*')
tiny=(@moonshine-ai/moonshine-js@0.1.29
    sha512-Gx1B3mJcbM68ihSy/LyJEuEkGq7sYMqTb04zNdcIeidU0URVlSmXP0GyiQOTTAqDZQXlIC7k+bky+FdXk0UPlg==
    moonshine-tiny-0.1.29 'package/dist/model/tiny/quantized/*.onnx' package/LICENSE)
# Later releases of this package replaced base English with a model under a
# non-commercial licence: keep exactly this one.
base=(@usefulsensors/moonshine-js@0.1.10
    sha512-fF/tZZR+iFx+GV3cIIiYnwgYTZfpfawX/3bAqf77Q9YtMZuP4CUShy23CPHULnh+7KpV8fbPj4bxANlTHE0gZA==
    moonshine-base-0.1.10 'package/dist/model/base/quantized/*.onnx')
vocabulary=(llama-tokenizer-js@1.2.2
    sha512-Wmth393dc3odWU3IzARJ3r2oIfWgw9GdJ5Gm+hGhfECNO18UHLRqEFSf511jn4E9KcQGzuuKw4Wl08pHAemLAw==
    llama-tokenizer-1.2.2 package/llama-tokenizer.js package/LICENSE.md)

# Fetches a tarball unless it is already there with the pinned hash; prints its path.
fetch() {
    local package=$1 integrity=$2
    local file="$tarballs/$(echo "${package%@*}" | sed 's|^@||; s|/|-|')-${package##*@}.tgz"
    if [ ! -f "$file" ] || [ "$(hash_of "$file")" != "$integrity" ]; then
        local scratch
        scratch=$(mktemp -d "$tarballs/.fetch.XXXXXX")
        (cd "$scratch" && npm pack --silent "$package" >/dev/null) || { rm -rf "$scratch"; return 1; }
        local got
        got=$(hash_of "$scratch"/*.tgz)
        if [ "$got" != "$integrity" ]; then
            echo "$package does not match its pinned integrity hash ($got)." >&2
            rm -rf "$scratch"
            return 1
        fi
        mv "$scratch"/*.tgz "$file"
        rm -rf "$scratch"
    fi
    echo "$file"
}

hash_of() { echo "sha512-$(openssl dgst -sha512 -binary "$1" | base64 -w0)"; }

# Unpacks the named members of a package into its folder, flat, once.
unpack() {
    local package=$1 integrity=$2 folder="$cache/$3"
    shift 3
    [ -f "$folder/.complete" ] && return 0
    local tarball
    tarball=$(fetch "$package" "$integrity") || return 1
    local scratch
    scratch=$(mktemp -d "$cache/.unpack.XXXXXX")
    tar -xzf "$tarball" -C "$scratch" --no-same-owner --wildcards "$@"
    rm -rf "$folder"
    mkdir -p "$folder"
    find "$scratch" -type f -exec mv {} "$folder/" \;
    rm -rf "$scratch"
    echo "$package $integrity" >"$folder/.complete"
}

command -v npm >/dev/null || { echo "npm is not installed." >&2; exit 1; }
unpack "${runtime[@]}"
unpack "${headers[@]}"
unpack "${tiny[@]}"
unpack "${base[@]}"
unpack "${vocabulary[@]}"

# The tokenizer keeps its 32,000 pieces as one Base64 string, pieces separated by
# line feeds; the recogniser reads them as a plain file.
pieces="$cache/llama-tokenizer-1.2.2/pieces.txt"
if [ ! -f "$pieces" ]; then
    node -e '
        const fs = require("fs");
        const source = fs.readFileSync(process.argv[1], "utf8");
        const match = source.match(/llama_vocab_base64 = "([^"]+)"/);
        const text = Buffer.from(match[1], "base64");
        if (text.toString("utf8").split("\n").length !== 32000) process.exit(1);
        fs.writeFileSync(process.argv[2] + ".part", text);
        fs.renameSync(process.argv[2] + ".part", process.argv[2]);
    ' "$cache/llama-tokenizer-1.2.2/llama-tokenizer.js" "$pieces"
fi
echo "$cache"
