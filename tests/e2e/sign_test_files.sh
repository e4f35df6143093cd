#!/usr/bin/env bash
# Makes the signed files of the signature tests: two test signers (A and B),
# each a self-signed code-signing certificate, two publishers (leaf and
# sibling) whose certificates one test root issued, and with them
#   payload_by_a.dll, payload_by_b.dll   the planted DLL signed by A, by B
#   payload_by_leaf.dll, payload_by_sibling.dll   the same by each publisher
#   payload_broken.dll                   payload_by_a.dll with one byte changed
#   target_by_a.exe                      the stand-in main program signed by A
#   parent_by_a.exe                      the elevated test parent signed by A
# Usage: sign_test_files.sh OUT_DIR PLANTED_DLL FAKE_TARGET_EXE ELEVATED_PARENT_EXE
set -euo pipefail
out=$1 payload=$2 target=$3 parent=$4
mkdir -p "$out"
cd "$out"
for signer in a b; do
  if [ ! -f "$signer.crt" ]; then
    openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 -keyout "$signer.key" -out "$signer.crt" \
      -subj "/CN=Tessaloom Test Signer ${signer^^}" -addext "extendedKeyUsage=codeSigning" 2>/dev/null
  fi
done
if [ ! -f root.crt ]; then
  openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 -keyout root.key -out root.crt \
    -subj "/CN=Tessaloom Test Root" -addext "basicConstraints=critical,CA:true" \
    -addext "keyUsage=critical,keyCertSign" 2>/dev/null
fi
for signer in leaf sibling; do
  if [ ! -f "$signer.chain" ]; then
    openssl req -newkey rsa:2048 -nodes -keyout "$signer.key" -out "$signer.csr" \
      -subj "/CN=Tessaloom Test Publisher ${signer^}" 2>/dev/null
    printf 'basicConstraints=CA:false\nextendedKeyUsage=codeSigning\n' > "$signer.ext"
    openssl x509 -req -in "$signer.csr" -CA root.crt -CAkey root.key -set_serial "0x$(openssl rand -hex 8)" \
      -days 3650 -sha256 -extfile "$signer.ext" -out "$signer.crt" 2>/dev/null
    cat "$signer.crt" root.crt > "$signer.chain"  # the signature carries the whole chain
  fi
done
sign() {  # signer input output
  rm -f "$3"
  local certs=$1.crt
  [ -f "$1.chain" ] && certs=$1.chain
  osslsigncode sign -certs "$certs" -key "$1.key" -h sha256 -in "$2" -out "$3" >/dev/null
}
sign a "$payload" payload_by_a.dll
sign b "$payload" payload_by_b.dll
sign leaf "$payload" payload_by_leaf.dll
sign sibling "$payload" payload_by_sibling.dll
sign a "$target" target_by_a.exe
sign a "$parent" parent_by_a.exe
cp payload_by_a.dll payload_broken.dll
# One byte of the code, well before the signature, turned into its complement.
byte=$(od -An -tu1 -j1024 -N1 payload_broken.dll | tr -d ' ')
printf "\\x$(printf %02x $((255 - byte)))" | dd of=payload_broken.dll bs=1 seek=1024 conv=notrunc status=none
