#include "delivery/dkim_settings.h"

#include "common/text.h"
#include "config/settings.h"

namespace qm {

DkimSettings loadDkimSettings(const SettingsStore& store) {
    DkimSettings s;
    s.domain = std::string(trimWhite(store.read(keys::kDkimDomain)));
    s.selector = std::string(trimWhite(store.read(keys::kDkimSelector)));
    s.keyFile = store.read(keys::kDkimKeyFile);
    if (!parseDkimAlgorithm(store.read(keys::kDkimAlgorithm), s.algorithm))
        s.algorithm = DkimAlgorithm::Rsa;
    return s;
}

void saveDkimSettings(SettingsStore& store, const DkimSettings& s) {
    store.write(keys::kDkimDomain, s.domain);
    store.write(keys::kDkimSelector, s.selector);
    store.write(keys::kDkimKeyFile, s.keyFile);
    store.write(keys::kDkimAlgorithm, dkimAlgorithmName(s.algorithm));
}

bool loadRunSigner(const DkimSettings& settings, std::shared_ptr<const DkimSigner>& out,
                   std::string& error) {
    out.reset();
    if (trimWhite(settings.domain).empty()) return true;
    DkimConfig c = settings;
    c.domain = std::string(trimWhite(c.domain));
    c.selector = std::string(trimWhite(c.selector));
    out = DkimSigner::load(c, error);
    if (!out) error += " Nothing was sent.";
    return out != nullptr;
}

}  // namespace qm
