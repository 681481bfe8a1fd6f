#!/usr/bin/env bash
# Builds the real Mihomo kernel from its Go module at a pinned version and prints the executable's path.
# The module's go.mod carries a replace directive, which `go install module@version` refuses, so the
# kernel is built from a throw-away module that requires it and repeats the replace.
set -euo pipefail

VERSION="${MIHOMO_VERSION:-v1.19.30}"
PROTOBUF_REPLACE="github.com/metacubex/protobuf-go v0.0.0-20260306035419-7ceee0674686"
CACHE="${TARNWICK_CACHE:-$HOME/.cache/tarnwick}"
OUT="$CACHE/mihomo-$VERSION/mihomo"

if [[ -x "$OUT" ]] && "$OUT" -v 2>/dev/null | grep -q "$VERSION"; then
  echo "$OUT"
  exit 0
fi

command -v go >/dev/null || { echo "provision-mihomo: Go is not installed" >&2; exit 1; }

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
  go get "github.com/metacubex/mihomo@$VERSION" >&2
  CGO_ENABLED=0 go build -trimpath -tags with_gvisor \
    -ldflags "-s -w -X github.com/metacubex/mihomo/constant.Version=$VERSION" \
    -o "$OUT.tmp" github.com/metacubex/mihomo >&2
)
mv -f "$OUT.tmp" "$OUT"
echo "$OUT"
