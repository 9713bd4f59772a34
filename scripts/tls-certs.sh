# shellcheck shell=bash
# Certificates for the TLS tests, made fresh for every run (sourced by
# test-servers). make_tls_files DIR writes:
#   root-ca.crt/.key          self-signed root
#   intermediate-ca.crt/.key  signed by the root
#   server.crt/.key           localhost and 127.0.0.1, signed by the intermediate
#   server-chain.crt          server + intermediate, what the server sends
#   wrong-name.crt/.key       wrong.invalid, signed by the intermediate
#   wrong-name-chain.crt      wrong-name + intermediate
#   self-signed.crt/.key      localhost and 127.0.0.1, signed by itself

# tls_key FILE: a P-256 private key, readable by its owner only.
tls_key() {
    (umask 077 && openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1" 2>/dev/null)
}

# tls_sign DIR NAME SUBJECT EXTENSIONS [ISSUER]: makes NAME.key and NAME.crt;
# without ISSUER the certificate signs itself.
tls_sign() {
    local dir=$1 name=$2 subject=$3 extensions=$4 issuer=${5:-}
    tls_key "$dir/$name.key"
    openssl req -new -key "$dir/$name.key" -subj "$subject" -out "$dir/$name.csr"
    printf '%b\n' "$extensions" >"$dir/$name.ext"
    local signer=(-signkey "$dir/$name.key")
    [ -n "$issuer" ] && signer=(-CA "$dir/$issuer.crt" -CAkey "$dir/$issuer.key")
    local log
    log=$(openssl x509 -req -in "$dir/$name.csr" "${signer[@]}" -days 3650 \
        -set_serial "0x$(openssl rand -hex 8)" -extfile "$dir/$name.ext" \
        -out "$dir/$name.crt" 2>&1) || { echo "$log" >&2; return 1; }
    rm -f "$dir/$name.csr" "$dir/$name.ext"
}

make_tls_files() {
    local dir=$1
    local ca="keyUsage=critical,keyCertSign,cRLSign\nsubjectKeyIdentifier=hash"
    local leaf="basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=serverAuth\nsubjectKeyIdentifier=hash"
    local local_names="subjectAltName=DNS:localhost,IP:127.0.0.1"
    install -d -m 755 "$dir"
    tls_sign "$dir" root-ca "/O=Trellan Tests/CN=Trellan Test Root CA" \
        "basicConstraints=critical,CA:TRUE\n$ca"
    tls_sign "$dir" intermediate-ca "/O=Trellan Tests/CN=Trellan Test Intermediate CA" \
        "basicConstraints=critical,CA:TRUE,pathlen:0\n$ca\nauthorityKeyIdentifier=keyid:always" root-ca
    tls_sign "$dir" server "/O=Trellan Tests/CN=localhost" \
        "$leaf\n$local_names\nauthorityKeyIdentifier=keyid:always" intermediate-ca
    tls_sign "$dir" wrong-name "/O=Trellan Tests/CN=wrong.invalid" \
        "$leaf\nsubjectAltName=DNS:wrong.invalid\nauthorityKeyIdentifier=keyid:always" intermediate-ca
    tls_sign "$dir" self-signed "/O=Trellan Tests/CN=localhost" "$leaf\n$local_names"
    cat "$dir/server.crt" "$dir/intermediate-ca.crt" >"$dir/server-chain.crt"
    cat "$dir/wrong-name.crt" "$dir/intermediate-ca.crt" >"$dir/wrong-name-chain.crt"
}
