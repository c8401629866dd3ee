// The vendor's minisign public key (the base64 line of its key file), empty
// when the program was built without one. Each program links its own
// definition (src/app/public_key.cpp.in), so the tests run the same code
// under a key they made.
#pragma once

namespace app {
// One key, or several separated by ";" (any of them may sign).
extern const char kPublicKey[];

// A program built without a key installs packages unverified.
inline bool SignedBuild() { return kPublicKey[0] != '\0'; }
}  // namespace app
