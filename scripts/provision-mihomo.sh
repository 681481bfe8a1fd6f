#!/usr/bin/env bash
# Builds the real Mihomo kernel from its Go module at a pinned version and prints the executable's path.
# The module's go.mod carries a replace directive, which `go install module@version` refuses, so the
# kernel is built from a throw-away module that requires it and repeats the replace.
set -euo pipefail

VERSION="${MIHOMO_VERSION:-v1.19.30}"
PROTOBUF_REPLACE="github.com/metacubex/protobuf-go v0.0.0-20260306035419-7ceee0674686"
CACHE="${TARNWICK_CACHE:-$HOME/.cache/tarnwick}"
OUT="$CACHE/mihomo-$VERSION/mihomo"

# The output is captured whole: `grep -q` in a pipe exits at the first match and the kernel, still
# writing, would die of SIGPIPE, failing the check under pipefail.
if [[ -x "$OUT" ]]; then
  identity="$("$OUT" -v 2>/dev/null || true)"
  if [[ "$identity" == *"$VERSION"* ]]; then
    echo "$OUT"
    exit 0
  fi
fi

command -v go >/dev/null || { echo "provision-mihomo: Go is not installed" >&2; exit 1; }

# The Go the kernel's go.mod asks for, from the module proxy.
proxy="$(go env GOPROXY | cut -d, -f1)"
[[ "$proxy" == http* ]] || proxy="https://proxy.golang.org"
required="$(curl -fsSL "$proxy/github.com/metacubex/mihomo/@v/$VERSION.mod" | sed -n 's/^go \([0-9.]*\)$/\1/p')"
[[ -n "$required" ]] || { echo "provision-mihomo: cannot read the kernel's go.mod" >&2; exit 1; }

# An older local Go (Debian 12 ships 1.19) builds with the official toolchain module instead, fetched and
# checksum-verified through the module proxy. Toolchains exist as modules from 1.21.0 on, and from 1.21 on
# Go switches to a newer one by itself when a dependency asks for it.
older() { [[ "$1" != "$2" && "$(printf '%s\n%s\n' "$1" "$2" | sort -V | head -n1)" == "$1" ]]; }
local_go="$(go env GOVERSION)"
local_go="${local_go#go}"
GO=go
if older "$local_go" "$required" || older "$local_go" 1.21.0; then
  wanted="$required"
  older "$wanted" 1.21.0 && wanted=1.21.0
  [[ "$wanted" == *.*.* ]] || wanted="$wanted.0"
  toolchain="$CACHE/go$wanted"
  if [[ ! -x "$toolchain/bin/go" ]]; then
    echo "provision-mihomo: Go $local_go is older than $required; fetching Go $wanted" >&2
    module="golang.org/toolchain@v0.0.1-go$wanted.$(go env GOOS)-$(go env GOARCH)"
    fetch="$(mktemp -d)"
    printf 'module tarnwick.local/toolchainfetch\n\ngo 1.19\n' >"$fetch/go.mod"
    dir="$(cd "$fetch" && GOFLAGS=-modcacherw GOPATH="$fetch/gopath" go mod download -json "$module" |
      sed -n 's/^[[:space:]]*"Dir": "\(.*\)",$/\1/p')"
    [[ -x "$dir/bin/go" || -f "$dir/bin/go" ]] || { echo "provision-mihomo: cannot fetch $module" >&2; exit 1; }
    mkdir -p "$CACHE"
    rm -rf "$toolchain.tmp"
    cp -r "$dir" "$toolchain.tmp"
    chmod -R u+w "$toolchain.tmp"
    chmod +x "$toolchain.tmp"/bin/* "$toolchain.tmp"/pkg/tool/*/*
    chmod -R u+w "$fetch" && rm -rf "$fetch"
    mv "$toolchain.tmp" "$toolchain"
  fi
  GO="$toolchain/bin/go"
  export GOTOOLCHAIN=auto
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$(dirname "$OUT")"
(
  cd "$work"
  cat >go.mod <<MOD
module tarnwick.local/kernelbuild

go 1.20

require github.com/metacubex/mihomo $VERSION

replace google.golang.org/protobuf => $PROTOBUF_REPLACE
MOD
  # Pulls the checksums of every package the kernel's main package needs.
  "$GO" get "github.com/metacubex/mihomo@$VERSION" >&2
  CGO_ENABLED=0 "$GO" build -trimpath -tags with_gvisor \
    -ldflags "-s -w -X github.com/metacubex/mihomo/constant.Version=$VERSION" \
    -o "$OUT.tmp" github.com/metacubex/mihomo >&2
)
mv -f "$OUT.tmp" "$OUT"
echo "$OUT"
