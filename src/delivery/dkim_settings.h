// The DKIM settings of the "Sender Authentication" group: domain, selector, private key file and
// algorithm, kept in the settings store beside the delivery settings, and the signer a run loads
// from them.
//
// Entry points: loadDkimSettings(), saveDkimSettings(), loadRunSigner().
//
// Contract: an empty domain means "do not sign". Loading the settings never fails (absent values
// fall back to no signing, RSA). loadRunSigner() is called once per run before it starts: with
// signing on, a key that cannot be used (see message/dkim_signer.h: mode wider than 0600, no key,
// wrong algorithm, RSA under 2048 bits) gives false and the text to show, and the run must not
// start; with signing off it gives true and no signer.
// Threads: the caller's; the signer it gives is shared by every sending thread.
// Standard: RFC 6376 through DkimSigner.
#pragma once

#include <memory>
#include <string>

#include "message/dkim_signer.h"

namespace qm {

class SettingsStore;

using DkimSettings = DkimConfig;

DkimSettings loadDkimSettings(const SettingsStore& store);
void saveDkimSettings(SettingsStore& store, const DkimSettings& settings);

bool loadRunSigner(const DkimSettings& settings, std::shared_ptr<const DkimSigner>& out,
                   std::string& error);

}  // namespace qm
