// Python's plistlib, zlib, hashlib and hmac (with `openssl enc`) read and write
// favorite files beside our code, as an independent check of the format.
#pragma once

#include "TestSupport.h"

#include <QByteArray>
#include <QStringList>
#include <gtest/gtest.h>

// Python helpers shared by the scripts: decrypting a container with hashlib,
// hmac and openssl, and writing one with fixed salts.
inline const QString kPythonContainer = QStringLiteral(R"(
import hashlib, hmac, subprocess
def keys(password, header):
    return (hashlib.pbkdf2_hmac('sha1', password, header[2:10], 10000, 32),
            hashlib.pbkdf2_hmac('sha1', password, header[10:18], 10000, 32))
def decrypt(container, password):
    header, body, mac = container[:34], container[34:-32], container[-32:]
    key, hkey = keys(password.encode(), header)
    assert container[0] == 2 and container[1] == 1
    assert hmac.compare_digest(hmac.new(hkey, header + body, 'sha256').digest(), mac)
    return subprocess.run(['openssl', 'enc', '-d', '-aes-256-cbc', '-K', key.hex(), '-iv', header[18:34].hex()],
                          input=body, capture_output=True, check=True).stdout
def encrypt(plain, password):
    header = bytes([2, 1]) + bytes(range(8)) + bytes(range(8, 16)) + bytes(range(16, 32))
    key, hkey = keys(password.encode(), header)
    body = subprocess.run(['openssl', 'enc', '-aes-256-cbc', '-K', key.hex(), '-iv', header[18:34].hex()],
                          input=plain, capture_output=True, check=True).stdout
    return header + body + hmac.new(hkey, header + body, 'sha256').digest()
)");
