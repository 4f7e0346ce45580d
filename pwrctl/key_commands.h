// pwrctl keygen and pubkey, and the key that off --key (or PWRCTL_KEY) signs
// with. Each prints its own message on failure.
#pragma once

#include <string>

#include "pwrctl/keys.h"

// A new key pair into a new file of path, readable by its owner only; prints
// the public key text. False when the file exists or cannot be written.
bool Keygen(const std::string& path);

// Prints the public key text of the key file.
bool PrintPublicKey(const std::string& path);

// Reads and checks the key file (the two halves must belong together).
bool LoadKeyFile(const std::string& path, ManagerKeyPair* key);
