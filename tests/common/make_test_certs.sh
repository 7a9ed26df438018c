#!/bin/bash
# Makes, once per folder, a private CA and the stand-in update service's certificate it signs
# (for 127.0.0.1): ca.pem (the one root a test trusts), server.pem and server.key (the
# service's), other-ca.pem (a CA that signed nothing here, for a client that must refuse).
#   make_test_certs.sh FOLDER
set -euo pipefail
cd "$1"
[ -f ca.pem ] && exit 0
printf '%s\n' '[req]' 'distinguished_name = dn' '[dn]' '[ca]' \
    'basicConstraints = critical, CA:TRUE' 'keyUsage = critical, keyCertSign, cRLSign' \
    'subjectKeyIdentifier = hash' '[server]' 'basicConstraints = critical, CA:FALSE' \
    'keyUsage = critical, digitalSignature, keyEncipherment' 'extendedKeyUsage = serverAuth' \
    'subjectAltName = IP:127.0.0.1, DNS:127.0.0.1' 'authorityKeyIdentifier = keyid' >openssl.cnf
for ca in ca other-ca; do
    openssl req -config openssl.cnf -x509 -newkey rsa:2048 -nodes -keyout "$ca.key" \
        -out "$ca.pem" -days 2 -subj "/CN=Orvane $ca" -extensions ca 2>/dev/null
done
openssl req -config openssl.cnf -new -newkey rsa:2048 -nodes -keyout server.key \
    -out server.csr -subj /CN=127.0.0.1 2>/dev/null
openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -set_serial 2 -days 2 \
    -extfile openssl.cnf -extensions server -out server.pem 2>/dev/null
rm -f server.csr ca.key other-ca.key openssl.cnf
