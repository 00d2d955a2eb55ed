#!/usr/bin/env bash
# Makes the keys, certificates, signed lists and the signed update tree that the tests of
# trusted mode use, with the openssl command line, into <out>; and two releases of a tree
# published with kestrelsync-publish (built when the path given is not there). Nothing here is
# trusted outside the tests: the certificate authority is trusted only by the tests that name
# it.
#   make-test-pki.sh <out> [<kestrelsync-publish>]
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
out=$1
tool=${2:-}
if [ -z "$tool" ] || [ ! -x "$tool" ]; then
    (cd "$src" && cmake --preset native-release >/dev/null &&
        cmake --build --preset native-release --target kestrelsync-publish >/dev/null)
    tool=$src/build/native-release/src/kestrelsync-publish
fi
tool=$(cd "$(dirname "$tool")" && pwd)/$(basename "$tool")
rm -rf "$out"
mkdir -p "$out"
cd "$out"
ossl() { openssl "$@" 2>/dev/null; }

# Certificate authorities and server certificates (ECDSA P-256).
make_ca() { # name subject
    ossl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 30 \
        -subj "/CN=$2" -keyout "$1.key" -out "$1.pem" \
        -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign"
}
make_server() { # name host ca
    ossl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj "/CN=$2" \
        -keyout "$1.key" -out "$1.csr"
    printf 'subjectAltName=DNS:%s\nbasicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=serverAuth\n' "$2" >"$1.ext"
    ossl x509 -req -in "$1.csr" -CA "$3.pem" -CAkey "$3.key" -CAcreateserial -days 30 \
        -extfile "$1.ext" -out "$1.crt"
    rm -f "$1.csr" "$1.ext"
}
make_ca ca "KestrelSync Test CA"
make_ca rogue-ca "KestrelSync Untrusted CA"
make_server localhost localhost ca
make_server otherhost otherhost.example ca
make_server untrusted localhost rogue-ca

# List-signing keys: two of P-256 (key rotation), one of P-384, and files that are no key.
for k in key1 key2; do
    ossl ecparam -name prime256v1 -genkey -noout -out "$k.key"
    ossl ec -in "$k.key" -pubout -out "$k.pub"
done
ossl ecparam -name secp384r1 -genkey -noout -out p384.key
ossl ec -in p384.key -pubout -out p384.pub
cat key1.pub key2.pub >both.pub
printf -- '-----BEGIN PUBLIC KEY-----\nthis is not base64 at all!\n-----END PUBLIC KEY-----\n' >garbage.pub
: >empty.pub
ossl pkcs8 -topk8 -nocrypt -in key1.key -out private.pub

sign() { # list key [sig]
    ossl dgst -sha256 -sign "$2.key" -out "${3:-$1.sig}" "$1"
}
# Lists for the verifier: accepted, signed by the second key, another list, expired, without a
# serial, with an over-long line, with a broken expiry.
printf '#serial=5\n#expires=29991231235959\na.txt\n' >good.txt
sign good.txt key1
sign good.txt key2 good.txt.key2.sig
printf '#serial=5\nb.txt\n' >other.txt
sign other.txt key1
printf '#serial=7\n#expires=20200101000000\na.txt\n' >expired.txt
sign expired.txt key1
printf 'a.txt\n' >noserial.txt
sign noserial.txt key1
{ printf '#serial=8\n'; head -c 5000 /dev/zero | tr '\0' x; printf '\n'; } >long.txt
sign long.txt key1
printf '#serial=9\n#expires=2020\na.txt\n' >badexpiry.txt
sign badexpiry.txt key1

# The signed update tree: files with fixed times, and a list that carries time, size and
# SHA-256 (the time as the workstation derives it from Last-Modified: UTC plus nine hours).
mkdir -p tree/bin tree/doc
printf 'alpha\n' >tree/a.txt
head -c 100000 /dev/urandom >tree/bin/b.bin
printf 'a document\n' >tree/doc/c.txt
stamp=1765000000
{
    printf '#serial=100\n#expires=29991231235959\n'
    for f in a.txt bin/b.bin doc/c.txt; do
        touch -d "@$stamp" "tree/$f"
        local_path=${f//\//\\}
        printf '%s,%s,APP,FILE,%s,%s,%s\n' "$f" "$local_path" \
            "$(date -u -d "@$((stamp + 32400))" +%Y%m%d%H%M%S)" "$(stat -c %s "tree/$f")" \
            "$(sha256sum "tree/$f" | cut -d' ' -f1)"
    done
    printf 'old.dll,old.dll,APP,DEL,20260101000000,0\n'
} >tree/_listfile.txt
sign tree/_listfile.txt key1

# A signed list of one large file, for resumed downloads.
mkdir -p resume
head -c 30000000 /dev/urandom >resume/big.bin
printf '#serial=4\nbig.bin,big.bin,APP,FILE,"","",%s\n' \
    "$(sha256sum resume/big.bin | cut -d' ' -f1)" >resume/_listfile.txt
sign resume/_listfile.txt key1
# And one of a file too small for its validator to be recorded before its download ends.
mkdir -p resume-small
head -c 600000 /dev/urandom >resume-small/small.bin
printf '#serial=5\nsmall.bin,small.bin,APP,FILE,"","",%s\n' \
    "$(sha256sum resume-small/small.bin | cut -d' ' -f1)" >resume-small/_listfile.txt
sign resume-small/_listfile.txt key1

# A signed list of server names with "%", "?" and "#" beside a plain one; the files lie here
# under the local names the list gives them, which any file system takes.
mkdir -p reserved
{
    printf '#serial=6\n'
    i=0
    for f in '100%41.txt' 'what?.txt' 'no#1.txt' plain.txt; do
        i=$((i + 1))
        printf 'content of %s\n' "$f" >"reserved/file$i.txt"
        printf '%s,file%d.txt,APP,FILE,"","",%s\n' "$f" "$i" "$(sha256sum "reserved/file$i.txt" | cut -d' ' -f1)"
    done
} >reserved/_listfile.txt
sign reserved/_listfile.txt key1

# A signed list that names one target twice (the second time through "."), and another file
# after it: the later line is the one that counts.
mkdir -p twice
printf 'first line\r\n' >twice/one.txt
printf 'second line, the one that counts\r\n' >twice/two.txt
printf 'another file\n' >twice/other.txt
sha() { sha256sum "$1" | cut -d' ' -f1; }
{
    printf '#serial=6\n'
    printf 'one.txt,same.txt,APP,FILE,"","",%s\n' "$(sha twice/one.txt)"
    printf 'two.txt,.\\same.txt,APP,FILE,"","",%s\n' "$(sha twice/two.txt)"
    printf 'other.txt,other.txt,APP,FILE,"","",%s\n' "$(sha twice/other.txt)"
} >twice/_listfile.txt
sign twice/_listfile.txt key1

# A signed list that names a new updater.
mkdir -p self
printf 'updater v2, signed' >self/KestrelSync.exe
printf '#serial=3\nKestrelSync.exe,KestrelSync.exe,APP,FILE,"","",%s\n' \
    "$(sha256sum self/KestrelSync.exe | cut -d' ' -f1)" >self/_listfile.txt
sign self/_listfile.txt key1
# The same updater published into a release store: its line names an object, not
# "KestrelSync.exe".
mkdir -p self-tree
cp self/KestrelSync.exe self-tree/
"$tool" release self-tree --store self-store --key key1.key --encoding utf-8 >/dev/null
rm -f ./*.srl

# Two releases of a tree published with the operators' tool: its own key, lists in UTF-8 (the
# native updater) and CP949 (the Windows one), the second release with one file changed and
# published from the first.
mkdir -p published/key published/v1/bin "published/v1/한글 자료"
"$tool" keygen published/key >/dev/null
printf 'first\n' >published/v1/a.txt
head -c 20000 /dev/urandom >published/v1/bin/b.dll
printf '안내\n' >"published/v1/한글 자료/안내 문서.txt"
touch -d @1765000000 published/v1/a.txt published/v1/bin/b.dll "published/v1/한글 자료/안내 문서.txt"
publish() { # tree list encoding [previous]; the list is made beside the tree, then moved in
    "$tool" list "$1" --out "$1.$2" --encoding "$3" ${4:+--previous "$4" --pub published/key/KestrelSync.pem} >/dev/null
    "$tool" sign "$1.$2" --key published/key/list-signing.key >/dev/null
}
move_lists() { for f in "$1".*; do mv "$f" "$1/${f#"$1".}"; done; }
publish published/v1 _listfile.txt utf-8
publish published/v1 _listfile_cp949.txt cp949
move_lists published/v1
cp -a published/v1 published/v2
rm -f published/v2/_listfile*
printf 'second, longer\n' >published/v2/a.txt
touch -d @1765100000 published/v2/a.txt
publish published/v2 _listfile.txt utf-8 published/v1/_listfile.txt
publish published/v2 _listfile_cp949.txt cp949 published/v1/_listfile_cp949.txt
move_lists published/v2
echo "test PKI in $out"
