#!/usr/bin/env bash
# Run by hand: SHA-2 messages of SignPkcs7 and SignPkcs1 (made through
# `korvessa --batch` with a throw-away CA and PFX signer) checked by verifiers
# other than OpenSSL, each beside a control of the same shape made by
# OpenSSL's `cms -sign`. A verifier that rejects its control too says nothing
# about our messages. Missing verifiers are skipped.
#
#   tests/sign/independent_verifiers.sh <build dir>      e.g. build/release
# Verifiers: GnuTLS certtool --p7-verify (gnutls-bin), NSS cmsutil -D
# (libnss3-tools), the JDK's PKCS7 reader (java), Bouncy Castle's CMS reader
# (libbcpkix-java), OpenSSL cms/dgst.
set -uo pipefail
build=$(readlink -f "${1:?usage: $0 <build dir>}")
work=$(mktemp -d "${TMPDIR:-/tmp}/korvessa-verifiers.XXXXXX")
trap 'rm -rf "$work"' EXIT
export KORVESSA_HOME="$work/home" KORVESSA_MACHINE_HOME="$work/machine" KORVESSA_SIGNER_AREA="Korvessa Verifiers"
cd "$work"

# A CA and a signer in a PFX file.
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 30 -subj "/C=TW/O=Test/CN=Verifier Root" \
  -addext basicConstraints=critical,CA:TRUE -addext keyUsage=keyCertSign,cRLSign 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout signer.key -out signer.csr -subj "/C=TW/O=Test/CN=Verifier Signer" 2>/dev/null
printf 'keyUsage=digitalSignature,nonRepudiation\n' > ext
openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -set_serial 0x2002 -days 30 -extfile ext -out signer.pem 2>/dev/null
openssl pkcs12 -export -inkey signer.key -in signer.pem -certfile ca.pem -passout pass:1234 -out signer.pfx \
  -keypbe PBE-SHA1-3DES -certpbe PBE-SHA1-3DES -macalg sha1 2>/dev/null

text='交易內容：買進 2330 一張'
printf '%s' "$text" | iconv -f UTF-8 -t UTF-16LE > content-utf16.bin
printf '%s' "$text" | iconv -f UTF-8 -t BIG5 > content-big5.bin

# name flags content: the shapes signed by the engine.
shapes=(
  "sha256-attached 0x10000 utf16"
  "sha384-detached 0x20400 utf16"
  "sha512-ansi 0x40800 big5"
  "sha256-attrs 0x12000 utf16"
  "sha256-chain-attrs 0x12200 utf16"
  "sha384-attrs-detached 0x22400 utf16"
)
{
  printf '{"call": "SelectSignerEx", "args": ["", "%s", "signer.pfx", "1234", "", 512, 0]}\n' "$work"
  for s in "${shapes[@]}"; do
    read -r name flags source <<< "$s"
    printf '{"call": "SignPkcs7", "args": ["%s", %d]}\n' "$text" "$flags"
  done
  printf '{"call": "SignPkcs1", "args": ["%s", %d]}\n' "$text" $((0x10100))
} > calls.jsonl
"$build/korvessa" --batch < calls.jsonl > answers.jsonl
i=1
for s in "${shapes[@]}"; do
  read -r name flags source <<< "$s"
  i=$((i + 1))
  sed -n "${i}p" answers.jsonl | python3 -c 'import json,sys; print(json.load(sys.stdin)["result"])' | base64 -d > "ours-$name.der"
done
sed -n "$((i + 1))p" answers.jsonl | python3 -c 'import json,sys; print(json.load(sys.stdin)["result"])' | base64 -d > pkcs1.sig

# OpenSSL controls of the same shapes (NULL parameters, rsaEncryption, no
# capabilities attribute).
control() {  # name md detached attrs chain source
  local args=(-sign -binary -md "$2" -signer signer.pem -inkey signer.key -outform DER -in "content-$6.bin")
  [[ $3 == 1 ]] || args+=(-nodetach)
  [[ $4 == 1 ]] && args+=(-nosmimecap -cades) || args+=(-noattr)
  [[ $5 == 1 ]] && args+=(-certfile ca.pem)
  openssl cms "${args[@]}" -out "control-$1.der"
}
control sha256-attached sha256 0 0 0 utf16
control sha384-detached sha384 1 0 0 utf16
control sha512-ansi sha512 0 0 0 big5
control sha256-attrs sha256 0 1 0 utf16
control sha256-chain-attrs sha256 0 1 1 utf16
control sha384-attrs-detached sha384 1 1 0 utf16

cat > Verify.java <<'EOF'
import java.nio.file.*;
import sun.security.pkcs.*;
public class Verify {
  public static void main(String[] a) throws Exception {
    PKCS7 p7 = new PKCS7(Files.readAllBytes(Paths.get(a[0])));
    byte[] content = a.length > 1 ? Files.readAllBytes(Paths.get(a[1])) : null;
    SignerInfo[] ok = content != null ? p7.verify(content) : p7.verify();
    System.exit(ok != null && ok.length == 1 ? 0 : 1);
  }
}
EOF
have_java=0
command -v javac >/dev/null && javac --add-exports java.base/sun.security.pkcs=ALL-UNNAMED Verify.java 2>/dev/null && have_java=1

# Bouncy Castle: the one signer's signature, with its certificate from the message.
cat > BcVerify.java <<'EOF'
import java.nio.file.*;
import java.util.*;
import org.bouncycastle.cert.X509CertificateHolder;
import org.bouncycastle.cms.*;
import org.bouncycastle.cms.jcajce.JcaSimpleSignerInfoVerifierBuilder;
public class BcVerify {
  public static void main(String[] a) throws Exception {
    byte[] der = Files.readAllBytes(Paths.get(a[0]));
    CMSSignedData sd = a.length > 1
        ? new CMSSignedData(new CMSProcessableByteArray(Files.readAllBytes(Paths.get(a[1]))), der)
        : new CMSSignedData(der);
    Collection<SignerInformation> signers = sd.getSignerInfos().getSigners();
    if (signers.size() != 1) System.exit(1);
    for (SignerInformation si : signers) {
      Collection<X509CertificateHolder> certs = sd.getCertificates().getMatches(si.getSID());
      if (certs.isEmpty()) System.exit(1);
      if (!si.verify(new JcaSimpleSignerInfoVerifierBuilder().build(certs.iterator().next()))) System.exit(1);
    }
  }
}
EOF
bc_cp=/usr/share/java/bcprov.jar:/usr/share/java/bcpkix.jar:/usr/share/java/bcutil.jar
have_bc=0
[[ -r /usr/share/java/bcpkix.jar ]] && command -v javac >/dev/null && javac -cp "$bc_cp" BcVerify.java 2>/dev/null && have_bc=1

certutil_db=0
if command -v cmsutil >/dev/null; then
  mkdir nssdb && certutil -N -d sql:nssdb --empty-password &&
    certutil -A -d sql:nssdb -n root -t "C,C,C" -i ca.pem && certutil_db=1
fi

verify() {  # verifier file source detached -> 0 when accepted
  local v=$1 f=$2 content="content-$3.bin" detached=$4
  case $v in
    openssl)
      if [[ $detached == 1 ]]; then
        openssl cms -verify -binary -inform DER -in "$f" -content "$content" -CAfile ca.pem -purpose any -out /dev/null 2>/dev/null
      else
        openssl cms -verify -binary -inform DER -in "$f" -CAfile ca.pem -purpose any -out out.bin 2>/dev/null && cmp -s out.bin "$content"
      fi ;;
    gnutls)
      command -v certtool >/dev/null || return 2
      local extra=()
      [[ $detached == 1 ]] && extra=(--load-data "$content")
      certtool --p7-verify --inder --infile "$f" --load-ca-certificate ca.pem --load-certificate signer.pem \
        "${extra[@]}" >/dev/null 2>&1 ;;
    nss)
      [[ $certutil_db == 1 ]] || return 2
      local extra=()
      [[ $detached == 1 ]] && extra=(-c "$content")
      cmsutil -D -i "$f" -d sql:nssdb "${extra[@]}" -o out.bin 2>/dev/null >/dev/null || return 1
      [[ $detached == 1 ]] || cmp -s out.bin "$content" ;;
    java)
      [[ $have_java == 1 ]] || return 2
      local extra=()
      [[ $detached == 1 ]] && extra=("$content")
      java --add-exports java.base/sun.security.pkcs=ALL-UNNAMED -cp . Verify "$f" "${extra[@]}" >/dev/null 2>&1 ;;
    bc)
      [[ $have_bc == 1 ]] || return 2
      local extra=()
      [[ $detached == 1 ]] && extra=("$content")
      java -cp ".:$bc_cp" BcVerify "$f" "${extra[@]}" >/dev/null 2>&1 ;;
  esac
}

printf '%-22s %-8s %-8s %-8s\n' shape verifier ours control
for s in "${shapes[@]}"; do
  read -r name flags source <<< "$s"
  detached=$(( (flags & 0x400) ? 1 : 0 ))
  for v in openssl gnutls nss java bc; do
    verify "$v" "ours-$name.der" "$source" "$detached"; ours=$?
    verify "$v" "control-$name.der" "$source" "$detached"; theirs=$?
    [[ $ours == 2 ]] && { printf '%-22s %-8s skipped\n' "$name" "$v"; continue; }
    printf '%-22s %-8s %-8s %-8s\n' "$name" "$v" "$([[ $ours == 0 ]] && echo accepts || echo REJECTS)" \
      "$([[ $theirs == 0 ]] && echo accepts || echo rejects)"
  done
done
# A verifier that accepts a message whose signature's last byte was flipped
# proves nothing.
python3 -c 'import sys; d=bytearray(open(sys.argv[1],"rb").read()); d[-1]^=1; open(sys.argv[2],"wb").write(d)' \
  ours-sha256-attrs.der tampered.der
for v in openssl gnutls nss java bc; do
  verify "$v" tampered.der utf16 0; r=$?
  [[ $r == 2 ]] || printf '%-22s %-8s %s\n' tampered "$v" "$([[ $r == 0 ]] && echo 'ACCEPTS (worthless)' || echo rejects)"
done
openssl x509 -in signer.pem -noout -pubkey > signer-pub.pem
openssl dgst -sha256 -verify signer-pub.pem -signature pkcs1.sig content-utf16.bin >/dev/null &&
  echo "PKCS#1 SHA-256: openssl dgst accepts" || echo "PKCS#1 SHA-256: openssl dgst REJECTS"
