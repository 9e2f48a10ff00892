// Publisher pins in the stamping tool: the signing key of a signed exe or of a
// certificate (PEM or DER), whose SHA-256 makes a value of app.signer or
// net2.signer. Plain bytes in, plain values out.
#pragma once

#include <string>
#include <vector>

#include "tools/setupstamp/config_check.h"
#include "tools/setupstamp/pin_values.h"

// The SubjectPublicKeyInfo (DER) of the key that signs `file`: a signed exe
// (the signer of its Authenticode signature, matched by issuer and serial
// number among the certificates it carries), or a certificate, PEM (the first
// one in the text) or DER. False, with `problem` saying why, otherwise.
bool SignerKeyOfFile(const std::string& file, std::string& subjectPublicKeyInfo, std::wstring& problem);

// Sets `key` to the comma-separated `digests` in the line that setup.exe reads
// for it, or adds a line; a value that lists other keys is replaced with a
// warning that names both (`sources`: where the digests came from).
void ApplySigner(std::vector<ConfigLine>& lines, const std::wstring& key, const std::wstring& digests,
                 const std::wstring& sources, std::vector<CheckMessage>& messages);
